#include "configblock.h"

#include <string.h>

#include <algorithm>

#include "archivesink.h"
#include "configtext.h"
#include "cp1250.h"
#include "stubpatch.h"
#include "winpath.h"

namespace vek::build {
namespace {

// Whether the tree holds TARGET (UTF-8, names separated by "\" or "/"), with names
// compared as Windows compares them.
bool TreeHolds(const ArchiveBuilder& tree, const char* target) {
  char path[kConfigTextLimit];
  const size_t length = Utf8ToCp1250(target, strlen(target), path, sizeof path);
  if (length == 0) return false;  // a name the tree's code page cannot hold
  uint16_t folder = 0;
  for (size_t begin = 0; begin < length;) {
    size_t end = begin;
    while (end < length && !IsWindowsSeparator(path[end])) ++end;
    auto found = std::find_if(tree.entries().begin(), tree.entries().end(), [&](const Entry& entry) {
      return entry.id != 0 && entry.parent_id == folder &&
             SameWindowsName(entry.name.data(), entry.name.size(), path + begin, end - begin);
    });
    if (found == tree.entries().end()) return false;
    folder = found->id;
    begin = end + 1;
  }
  return true;
}

// The configuration in canonical form, from the text of a configuration file; throws
// BuildError naming `shown` and the line of a problem, or an item whose target the
// tree lacks.
std::string CanonicalConfig(std::string text, const std::string& shown, const ArchiveBuilder* tree) {
  StubConfig config;
  ConfigResult result = ParseStubConfig(text.data(), text.size(), &config);
  if (!result.ok()) throw BuildError(tools::DescribeConfigResult(shown, result));
  std::string out;
  for (int k = 0; k < kConfigKeyCount; ++k) {
    const ConfigKey key = static_cast<ConfigKey>(k);
    if (key == kKeyItem) {
      for (int i = 0; i < config.item_count; ++i) {
        std::string target = config.items[i].target;
        std::replace(target.begin(), target.end(), '/', '\\');
        const std::string line = std::string("item = ") + target + "," + config.items[i].name;
        if (tree && !TreeHolds(*tree, target.c_str())) {
          throw BuildError(shown + ": " + line + ": TARGET " + target + " is not in the packed folder");
        }
        out += line + "\n";
      }
    } else if (config.text[key]) {
      out += std::string(ConfigKeyName(key)) + " = " + config.text[key] + "\n";
    }
  }
  if (out.size() > kConfigTextLimit) {
    throw BuildError(shown + ": the configuration is larger than " + std::to_string(kConfigTextLimit) + " bytes");
  }
  return out;
}

}  // namespace

std::string MakeConfigBlock(PackEdge& edge, const std::string& config_path, const ArchiveBuilder* tree) {
  std::string text = ReadInputFile(edge, config_path, kConfigTextLimit + 1, "configuration");
  return std::string(kConfigMagic, kConfigMagicSize) + CanonicalConfig(std::move(text), config_path, tree);
}

}  // namespace vek::build
