#include "errorwords.h"

#include "fileedge.h"
#include "toolhost.h"

namespace vek::tools {
namespace {

struct Reason {
  uint32_t code;
  const char* words;
};

// The codes that the file edges produce, on either platform, in the same words.
// Codes whose runtime message is already words (2, 4, 5, 100, 101, 106) are absent.
constexpr Reason kReasons[] = {
    {kWinErrorInvalidFunction, "invalid function"},
    {kWinErrorPathNotFound, "bad name, or a folder on the path is missing"},
    {kWinErrorInvalidHandle, "invalid handle"},
    {kWinErrorNotEnoughMemory, "not enough memory"},
    {kWinErrorWriteProtect, "the medium is write-protected"},
    {kWinErrorSharingViolation, "the file is in use by another process"},
    {kWinErrorHandleDiskFull, "disk full"},
    {kWinErrorFileExists, "the file exists"},
    {kWinErrorInvalidParameter, "invalid parameter"},
    {kWinErrorDiskFull, "disk full"},
    {kWinErrorInvalidName, "the file name or its syntax is not valid"},
    {kWinErrorNegativeSeek, "seek to a negative position"},
    {kWinErrorAlreadyExists, "the file already exists"},
    {kWinErrorFilenameTooLong, "the file name is too long"},
    {kWinErrorIoDevice, "device input/output error"},
};

bool HasOwnWords(uint32_t code) {
  return code == kIoFileNotFound || code == kIoTooManyOpenFiles || code == kIoAccessDenied ||
         code == kIoReadBeyondEnd || code == kIoDiskFull || code == kIoInvalidNumericInput;
}

// The system's reason for a Windows error code, in words; empty when the runtime's
// own message already says it ("File not found") or the code is unknown here.
std::string ReasonInWords(uint32_t code) {
  if (HasOwnWords(code)) return "";
  for (const Reason& r : kReasons) {
    if (r.code == code) return r.words;
  }
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
