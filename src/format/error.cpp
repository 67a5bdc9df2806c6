#include "error.h"

#include "text.h"

namespace vek {

size_t FormatErrorMessage(const Error& error, char* buf, size_t size) {
  TextBuilder out(buf, size);
  switch (error.kind) {
    case ErrorKind::kNone: break;
    case ErrorKind::kInOut:
      if (const char* text = WordsOf<kIoMessages>(error.code)) {
        out.Text(text);
      } else {
        out.Text("I/O error ");
        // The code prints as a signed number, as "%d" would.
        if (static_cast<int32_t>(error.code) < 0) {
          out.Text("-").Decimal(0u - error.code);
        } else {
          out.Decimal(error.code);
        }
      }
      break;
    case ErrorKind::kGeneral: out.Text(error.text ? error.text : ""); break;
    case ErrorKind::kOutOfMemory: out.Text("Out of memory"); break;
    case ErrorKind::kDde:
      if (const char* text = WordsOf<kDdeMessages>(error.code)) {
        out.Text(text);
      } else {
        out.Text(kDdeOtherWords);
      }
      out.Hex(error.code).Text(")");
      break;
  }
  return out.length();
}

size_t FormatErrorReport(const Error& error, char* buf, size_t size) {
  char message[256];
  size_t length = FormatErrorMessage(error, message, sizeof message);
  if (length >= sizeof message) length = sizeof message - 1;
  TextBuilder out(buf, size);
  out.Text(message);
  if (length > 0 && static_cast<unsigned char>(message[length - 1]) > '.') out.Text(".");
  return out.length();
}

const char* ErrorClassName(const Error& error) {
  switch (error.kind) {
    case ErrorKind::kInOut: return "EInOutError";
    case ErrorKind::kOutOfMemory: return "EOutOfMemory";
    case ErrorKind::kDde: return "EDdeError";
    default: return "Exception";
  }
}

}  // namespace vek
