#include "error.h"

#include "text.h"

namespace vek {
namespace {

const char* InOutText(uint32_t code) {
  switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return nullptr;
  }
}

}  // namespace

size_t FormatErrorMessage(const Error& error, char* buf, size_t size) {
  TextBuilder out(buf, size);
  switch (error.kind) {
    case ErrorKind::kNone:
      break;
    case ErrorKind::kInOut:
      if (const char* text = InOutText(error.code)) {
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
    case ErrorKind::kGeneral:
      out.Text(error.text ? error.text : "");
      break;
    case ErrorKind::kOutOfMemory:
      out.Text("Out of memory");
      break;
    case ErrorKind::kDde:
      if (error.code == kDdeLowMemory || error.code == kDdeMemoryError) {
        out.Text("Error occurred when DDE ran out of memory ($0");
      } else if (error.code == kDdeNoConvEstablished) {
        out.Text("DDE Error - conversation not established ($0");
      } else {
        out.Text("An error returned from DDE  ($0");
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
