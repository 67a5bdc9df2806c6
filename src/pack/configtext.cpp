#include "configtext.h"

namespace vek::tools {

std::string DescribeConfigResult(const std::string& where, const ConfigResult& result) {
  std::string text = where;
  if (result.line) text += ":" + std::to_string(result.line);
  // The key as written when the parser has it (unknown, or with a language).
  if (result.word) {
    text += ": " + std::string(result.word, result.word_length);
  } else if (result.key != kConfigKeyCount) {
    text += ": " + std::string(ConfigKeyName(result.key));
  }
  text += ": ";
  text += DescribeConfigProblem(result);
  if (result.problem == ConfigProblem::kTooLong) {
    text += " (" + std::to_string(result.characters) + " characters; at most " + std::to_string(result.limit) + ")";
  }
  return text;
}

}  // namespace vek::tools
