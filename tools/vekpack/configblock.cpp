#include "configblock.h"

#include <algorithm>

#include "archivesink.h"
#include "stubconfig.h"
#include "stubpatch.h"

namespace vek::build {

std::string CanonicalConfig(std::string text, const std::string& shown) {
  StubConfig config;
  ConfigResult result = ParseStubConfig(text.data(), text.size(), &config);
  if (!result.ok()) {
    std::string where = shown;
    if (result.line) where += ":" + std::to_string(result.line);
    if (result.key != kConfigKeyCount) where += ": " + std::string(ConfigKeyName(result.key));
    throw BuildError(where + ": " + DescribeConfigProblem(result));
  }
  std::string out;
  for (int k = 0; k < kConfigKeyCount; ++k) {
    const ConfigKey key = static_cast<ConfigKey>(k);
    if (key == kKeyItem) {
      for (int i = 0; i < config.item_count; ++i) {
        std::string target = config.items[i].target;
        std::replace(target.begin(), target.end(), '/', '\\');
        out += std::string("item = ") + target + "," + config.items[i].name + "\n";
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

std::string MakeConfigBlock(PackEdge& edge, const std::string& config_path) {
  std::string text = ReadInputFile(edge, config_path, kConfigTextLimit + 1, "configuration");
  return std::string(kConfigMagic, kConfigMagicSize) + CanonicalConfig(std::move(text), config_path);
}

std::string MakeConfigBlock(const std::string& config_path) { return MakeConfigBlock(PlatformPackEdge(), config_path); }

}  // namespace vek::build
