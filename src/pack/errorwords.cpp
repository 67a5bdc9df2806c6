#include "errorwords.h"

#include "fileedge.h"
#include "toolhost.h"

namespace vek::tools {
namespace {

// The system's reason for a Windows error code, in words (kWinErrorReasons); empty
// when the runtime's own message already says it ("File not found").
std::string ReasonInWords(uint32_t code) {
  if (const char* words = WordsOf<kWinErrorReasons>(code)) return words;
  if (WordsOf<kIoMessages>(code)) return "";
  // Any other code comes from the system itself: its own text, one line, as a clause.
  std::string text = SystemErrorText(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && (text.size() < 2 || text[1] < 'A' || text[1] > 'Z')) {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::string ErrorInWords(const Error& error) {
  char buffer[300];
  FormatErrorMessage(error, buffer, sizeof buffer);
  std::string text = buffer;
  if (error.kind == ErrorKind::kInOut) {
    std::string reason = ReasonInWords(error.code);
    if (!reason.empty()) text += " (" + reason + ")";
  }
  return text;
}

std::string ReportInWords(const Error& error) {
  char buffer[300];
  size_t length = FormatErrorReport(error, buffer, sizeof buffer);
  std::string text = ErrorInWords(error);
  if (length > 0 && buffer[length - 1] == '.' && (text.empty() || text.back() != '.')) text += '.';
  return text;
}

}  // namespace vek::tools
