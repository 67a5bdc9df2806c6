#include "configblock.h"

#include <string.h>

#include <algorithm>

#include "archivesink.h"
#include "casefold.h"
#include "configread.h"
#include "stubdefaults.h"
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

void TakeVersion(const PublisherFile& file, ResourceSettings* version) {
  const char* const* text = file.config.text;
  const char* product = text[kKeyProduct] ? text[kKeyProduct] : text[kKeyCaption];
  const char* description = text[kKeyCaption] ? text[kKeyCaption] : text[kKeyProduct];
  auto tool = [&](ToolKey key) { return file.tool_line[key] ? file.tool[key].c_str() : nullptr; };
  const std::pair<const char*, const char*> strings[] = {
      {"CompanyName", text[kKeyPublisher]},
      {"FileDescription", description},
      {"FileVersion", text[kKeyVersion]},
      {"LegalCopyright", text[kKeyCopyright]},
      {"ProductName", product},
      {"ProductVersion", text[kKeyVersion]},
      {"OriginalFilename", tool(kToolOriginalFilename)},
      {"InternalName", tool(kToolInternalName)},
      {"Comments", tool(kToolComments)},
  };
  for (const auto& [key, value] : strings) {
    if (value) version->strings.emplace_back(key, value);
  }
  version->has_numbers = text[kKeyVersion] && ParseVersionNumbers(text[kKeyVersion], version->numbers);
  version->asked = text[kKeyPublisher] || text[kKeyVersion] || text[kKeyCopyright] || text[kKeyProduct] ||
                   tool(kToolOriginalFilename) || tool(kToolInternalName) || tool(kToolComments);
}

// The manifest of a configured installer: named after the product (its publisher's
// and its own name, else the id), with its version, and the execution level asked
// for or the one its folder needs.
void TakeManifest(const PublisherFile& file, ManifestSettings* manifest) {
  const char* const* text = file.config.text;
  manifest->name =
      text[kKeyProduct] ? AssemblyName({text[kKeyPublisher], text[kKeyProduct]}) : AssemblyName({text[kKeyId]});
  if (text[kKeyProduct]) {
    manifest->description =
        std::string(text[kKeyProduct]) + (text[kKeyVersion] ? " " : "") + (text[kKeyVersion] ? text[kKeyVersion] : "");
  } else if (text[kKeyCaption]) {
    manifest->description = text[kKeyCaption];
  }
  uint16_t numbers[4];
  if (text[kKeyVersion] && ParseVersionNumbers(text[kKeyVersion], numbers)) {
    manifest->version = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                        std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
  }
  const std::string& elevation = file.tool[kToolElevation];
  manifest->level_asked = !elevation.empty();
  const bool admin =
      manifest->level_asked ? elevation == "admin" : text[kKeyFolder] && FolderNeedsAdministrator(text[kKeyFolder]);
  manifest->level = admin ? ExecutionLevel::kRequireAdministrator : ExecutionLevel::kAsInvoker;
}

// The configuration in canonical form, from the text of a configuration file, and in
// *icon the icon's path as written (*icon_line its line); throws BuildError naming
// `shown` and the line of a problem.
std::string CanonicalConfig(const std::string& text, const std::string& shown, const ArchiveBuilder* tree,
                            ResourceSettings* resources, std::string* icon, uint32_t* icon_line,
                            const std::function<void(const std::string&)>& warn) {
  PublisherFile file;
  ReadPublisherFile(text, shown, warn, &file);
  const StubConfig& config = file.config;
  auto at = [&](uint32_t line, ConfigKey key) {
    return shown + ":" + std::to_string(line) + ": " + ConfigKeyName(key) + ": ";
  };
  if (resources) {
    TakeVersion(file, resources);
    TakeManifest(file, &resources->manifest);
  }
  if (config.text[kKeyIcon]) {
    *icon = config.text[kKeyIcon];
    *icon_line = file.line[kKeyIcon];
  }
  const char* uninstall = config.text[kKeyUninstall];
  const bool uninstaller = uninstall && strcmp(uninstall, "yes") == 0;
  if (config.text[kKeyId] && !uninstaller && warn) {
    warn(at(file.line[kKeyId], kKeyId) + "not used without uninstall = yes");
  }
  // The entry's key: the id, else the product's name as the stub would make it one.
  // Never the group, which may be the stub's own and would be shared by installers
  // that have nothing to do with each other.
  std::string id = config.text[kKeyId] ? config.text[kKeyId] : "";
  if (uninstaller && id.empty()) {
    if (!config.text[kKeyProduct]) {
      throw BuildError(at(file.line[kKeyUninstall], kKeyUninstall) +
                       "yes needs an id (the key of the Apps & Features entry) or a product to take it from");
    }
    id = config.text[kKeyProduct];
    std::replace(id.begin(), id.end(), '\\', '-');
    const NameRule rule = CheckWindowsName(id.data(), id.size(), NameEncoding::kUtf8);
    // Its limit is the id's.
    if (rule != NameRule::kFine) {
      throw BuildError(at(file.line[kKeyProduct], kKeyProduct) +
                       "cannot serve as the id of the Apps & Features entry (" + DescribeNameRule(rule) +
                       "); give an id");
    }
  }
  // The installer writes its uninstaller under this name: a file of the tree there
  // would be replaced by it and left behind by it.
  if (tree && uninstaller && TreeHolds(*tree, "uninstall.exe")) {
    throw BuildError(at(file.line[kKeyUninstall], kKeyUninstall) +
                     "the packed folder holds uninstall.exe, the uninstaller's name");
  }
  // {temp}: a folder for the program of "run" alone, removed once it has ended.
  size_t prefix = 0;
  const bool temp = config.text[kKeyFolder] && FolderPrefix(config.text[kKeyFolder], &prefix) == KnownFolder::kTemp;
  if (temp && !config.text[kKeyRun]) {
    throw BuildError(at(file.line[kKeyFolder], kKeyFolder) +
                     "{temp} needs run = PROGRAM: the folder is removed once the program has ended");
  }
  if (temp) {
    const ConfigKey kept[] = {kKeyGroup, kKeyOpen, kKeyUninstall};
    for (const ConfigKey key : kept) {
      if (config.text[key] && (key != kKeyUninstall || uninstaller)) {
        throw BuildError(at(file.line[key], key) + "not with folder = {temp}, which is removed after the run");
      }
    }
    if (config.item_count > 0) {
      throw BuildError(at(file.item_lines[0], kKeyItem) + "not with folder = {temp}, which is removed after the run");
    }
  } else if (config.text[kKeyConfirm] && warn) {
    warn(at(file.line[kKeyConfirm], kKeyConfirm) + "not used without folder = {temp}");
  }
  std::string out;
  for (int k = 0; k < kConfigKeyCount; ++k) {
    const ConfigKey key = static_cast<ConfigKey>(k);
    if (key == kKeyItem) {
      for (int i = 0; i < config.item_count; ++i) {
        std::string target = config.items[i].target;
        std::replace(target.begin(), target.end(), '/', '\\');
        if (tree && !TreeHolds(*tree, target)) {
          throw BuildError(at(file.item_lines[i], kKeyItem) + "TARGET " + target + " is not in the packed folder");
        }
        out += std::string("item = ") + target + "," + config.items[i].name + "\n";
      }
    } else if (key == kKeyOpen && config.text[key]) {
      std::string target = config.text[key];
      std::replace(target.begin(), target.end(), '/', '\\');
      if (tree && !TreeHolds(*tree, target)) {
        throw BuildError(at(file.line[kKeyOpen], kKeyOpen) + target + " is not in the packed folder");
      }
      out += "open = " + target + "\n";
    } else if (key == kKeyRun && config.text[key]) {
      std::string program = config.text[key];
      std::replace(program.begin(), program.end(), '/', '\\');
      if (tree && !TreeHolds(*tree, program)) {
        throw BuildError(at(file.line[kKeyRun], kKeyRun) + program + " is not in the packed folder");
      }
      if (program.find(' ') != std::string::npos) program = "\"" + program + "\"";
      const std::string arguments = config.run_arguments;
      out += "run = " + program + (arguments.empty() ? "" : " " + arguments) + "\n";
    } else if (key == kKeyId && !id.empty()) {
      out += "id = " + id + "\n";
    } else if (config.text[key] && key != kKeyIcon) {  // the icon goes into the resources
      out += std::string(ConfigKeyName(key)) + " = " + config.text[key] + "\n";
    }
    for (const Translation& translation : file.translations) {
      if (translation.key == key) {
        out += std::string(ConfigKeyName(key)) + "[" + translation.tag + "] = " + translation.text + "\n";
      }
    }
  }
  if (out.size() > kConfigTextLimit) {
    throw BuildError(shown + ": the configuration is larger than " + std::to_string(kConfigTextLimit) + " bytes");
  }
  return out;
}

// Whether `path` begins with the name `name` (lower case; the path's letter case aside).
bool BeginsWithName(const char* path, const char* name) {
  size_t i = 0;
  for (; name[i]; ++i) {
    const char a = path[i] >= 'A' && path[i] <= 'Z' ? static_cast<char>(path[i] + 32) : path[i];
    if (a != name[i]) return false;
  }
  return path[i] == 0 || path[i] == '\\';
}

}  // namespace

std::string UnconfiguredWarning(const ArchiveBuilder& tree) {
  const char* item = kProgramItemSuffix + 1;
  const std::string target(item, static_cast<size_t>(strchr(item, ',') - item));
  std::string text = std::string("no --config: the installer shows the stub's Polish sample texts, proposes ") +
                     kDefaultDestination + " and makes the Start-menu group \"" + kProgramGroupName +
                     "\" with an item for " + target;
  if (!TreeHolds(tree, target)) text += ", which the packed folder lacks";
  return text;
}

bool FolderNeedsAdministrator(const char* folder) {
  size_t prefix = 0;
  if (FolderPrefix(folder, &prefix) != KnownFolder::kNone) {
    return FolderPrefix(folder, &prefix) == KnownFolder::kProgramFiles;
  }
  if (!folder[0] || folder[1] != ':' || folder[2] != '\\') return false;
  const char* names = folder + 3;
  return BeginsWithName(names, "program files") || BeginsWithName(names, "program files (x86)") ||
         BeginsWithName(names, "windows");
}

std::string MakeConfigBlock(PackEdge& edge, const std::string& config_path, const ArchiveBuilder* tree,
                            ResourceSettings* resources, const std::function<void(const std::string&)>& warn) {
  const std::string text = ReadInputFile(edge, config_path, kConfigTextLimit + 1, "configuration");
  std::string icon;
  uint32_t icon_line = 0;
  std::string block = std::string(kConfigMagic, kConfigMagicSize) +
                      CanonicalConfig(text, config_path, tree, resources, &icon, &icon_line, warn);
  if (resources && !icon.empty()) {
    try {
      resources->icon = ReadIcon(edge, BesideConfig(config_path, icon));
    } catch (const BuildError& e) {
      throw BuildError(config_path + ":" + std::to_string(icon_line) + ": icon: " + e.what());
    }
  }
  return block;
}

}  // namespace vek::build
