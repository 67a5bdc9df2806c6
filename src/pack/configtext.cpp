#include "configtext.h"

namespace vek::tools {

std::string DescribeConfigResult(const std::string& where, const ConfigResult& result) {
  std::string text = where;
  if (result.line) text += ":" + std::to_string(result.line);
  if (result.key != kConfigKeyCount) text += ": " + std::string(ConfigKeyName(result.key));
  if (result.word) text += ": " + std::string(result.word, result.word_length);
  text += ": ";
  text += DescribeConfigProblem(result);
  if (result.problem == ConfigProblem::kTooLong) {
    text += " (" + std::to_string(result.characters) + " characters; at most " + std::to_string(result.limit) + ")";
  }
  return text;
}

}  // namespace vek::tools
