#include "configblock.h"

#include <string.h>

#include <algorithm>

#include "archivesink.h"
#include "casefold.h"
#include "configtext.h"
#include "stubpatch.h"
#include "winpath.h"

namespace vek::build {
namespace {

// Whether the tree holds TARGET (UTF-8, names separated by "\\" or "/"), with names
// compared as Windows compares them.
bool TreeHolds(const ArchiveBuilder& tree, const std::string& target) {
  uint16_t folder = 0;
  for (size_t begin = 0; begin <= target.size();) {
    size_t end = begin;
    while (end < target.size() && !IsWindowsSeparator(target[end])) ++end;
    const std::string name = FoldedName(target.data() + begin, end - begin, NameEncoding::kUtf8);
    auto found = std::find_if(tree.entries().begin(), tree.entries().end(), [&](const Entry& entry) {
      return entry.id != 0 && entry.parent_id == folder &&
             FoldedName(entry.name.data(), entry.name.size(), tree.name_encoding()) == name;
    });
    if (found == tree.entries().end()) return false;
    folder = found->id;
    begin = end + 1;
  }
  return true;
}

// A path in the configuration file at config_path: relative to the file's folder
// unless absolute (as the platform takes paths).
std::string BesideConfig(const std::string& config_path, const std::string& path) {
  const bool windows = strchr(kPathSeparators, '\\') != nullptr;
  if (strchr(kPathSeparators, path[0]) ||
      (windows && ClassifyWindowsPath(path.data(), path.size()) != PathKind::kRelative)) {
    return path;
  }
  const size_t folder = config_path.find_last_of(kPathSeparators);
  return folder == std::string::npos ? path : config_path.substr(0, folder + 1) + path;
}

void TakeVersion(const StubConfig& config, ResourceSettings* version) {
  const char* const* text = config.text;
  const char* product = text[kKeyProduct] ? text[kKeyProduct] : text[kKeyCaption];
  const char* description = text[kKeyCaption] ? text[kKeyCaption] : text[kKeyProduct];
  const std::pair<const char*, const char*> strings[] = {
      {"CompanyName", text[kKeyPublisher]},    {"FileDescription", description}, {"FileVersion", text[kKeyVersion]},
      {"LegalCopyright", text[kKeyCopyright]}, {"ProductName", product},         {"ProductVersion", text[kKeyVersion]},
  };
  for (const auto& [key, value] : strings) {
    if (value) version->strings.emplace_back(key, value);
  }
  version->has_numbers = text[kKeyVersion] && ParseVersionNumbers(text[kKeyVersion], version->numbers);
  version->asked = text[kKeyPublisher] || text[kKeyVersion] || text[kKeyCopyright] || text[kKeyProduct];
}

// The configuration in canonical form, from the text of a configuration file, and in
// *icon the icon's path as written; throws BuildError naming `shown` and the line of a
// problem, or an item whose target the tree lacks.
std::string CanonicalConfig(std::string text, const std::string& shown, const ArchiveBuilder* tree,
                            ResourceSettings* version, std::string* icon) {
  StubConfig config;
  ConfigResult result = ParseStubConfig(text.data(), text.size(), &config);
  if (!result.ok()) throw BuildError(tools::DescribeConfigResult(shown, result));
  if (version) TakeVersion(config, version);
  if (config.text[kKeyIcon]) *icon = config.text[kKeyIcon];
  // The installer writes its uninstaller under this name: a file of the tree there
  // would be replaced by it and left behind by it.
  const char* uninstall = config.text[kKeyUninstall];
  if (tree && uninstall && std::string(uninstall) == "yes" && TreeHolds(*tree, "uninstall.exe")) {
    throw BuildError(shown + ": uninstall = yes: the packed folder holds uninstall.exe, the uninstaller's name");
  }
  std::string out;
  for (int k = 0; k < kConfigKeyCount; ++k) {
    const ConfigKey key = static_cast<ConfigKey>(k);
    if (key == kKeyItem) {
      for (int i = 0; i < config.item_count; ++i) {
        std::string target = config.items[i].target;
        std::replace(target.begin(), target.end(), '/', '\\');
        const std::string line = std::string("item = ") + target + "," + config.items[i].name;
        if (tree && !TreeHolds(*tree, target)) {
          throw BuildError(shown + ": " + line + ": TARGET " + target + " is not in the packed folder");
        }
        out += line + "\n";
      }
    } else if (key == kKeyOpen && config.text[key]) {
      std::string target = config.text[key];
      std::replace(target.begin(), target.end(), '/', '\\');
      if (tree && !TreeHolds(*tree, target)) {
        throw BuildError(shown + ": open = " + target + ": " + target + " is not in the packed folder");
      }
      out += "open = " + target + "\n";
    } else if (config.text[key] && key != kKeyIcon) {  // the icon goes into the resources
      out += std::string(ConfigKeyName(key)) + " = " + config.text[key] + "\n";
    }
  }
  if (out.size() > kConfigTextLimit) {
    throw BuildError(shown + ": the configuration is larger than " + std::to_string(kConfigTextLimit) + " bytes");
  }
  return out;
}

}  // namespace

std::string MakeConfigBlock(PackEdge& edge, const std::string& config_path, const ArchiveBuilder* tree,
                            ResourceSettings* resources) {
  std::string text = ReadInputFile(edge, config_path, kConfigTextLimit + 1, "configuration");
  std::string icon;
  std::string block = std::string(kConfigMagic, kConfigMagicSize) +
                      CanonicalConfig(std::move(text), config_path, tree, resources, &icon);
  if (resources && !icon.empty()) resources->icon = ReadIcon(edge, BesideConfig(config_path, icon));
  return block;
}

}  // namespace vek::build
