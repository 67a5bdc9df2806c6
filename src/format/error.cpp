#include "error.h"

namespace vek {
namespace {

// Appends src to buf at *len, never past size - 1 bytes.
void Put(char* buf, size_t size, size_t* len, const char* src) {
  while (*src) {
    if (*len + 1 < size) buf[*len] = *src;
    ++*len;
    ++src;
  }
}

void PutUnsigned(char* buf, size_t size, size_t* len, uint32_t value, unsigned base) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[value % base];
    value /= base;
  } while (value != 0);
  char text[13];
  int k = 0;
  while (n > 0) text[k++] = digits[--n];
  text[k] = 0;
  Put(buf, size, len, text);
}

}  // namespace

size_t FormatErrorMessage(const Error& error, char* buf, size_t size) {
  size_t len = 0;
  switch (error.kind) {
    case ErrorKind::kNone:
      break;
    case ErrorKind::kInOut:
      if (const char* text = WordsOf<kIoMessages>(error.code)) {
        Put(buf, size, &len, text);
      } else {
        Put(buf, size, &len, "I/O error ");
        // The code prints as a signed number, as "%d" would.
        if (static_cast<int32_t>(error.code) < 0) {
          Put(buf, size, &len, "-");
          PutUnsigned(buf, size, &len, 0u - error.code, 10);
        } else {
          PutUnsigned(buf, size, &len, error.code, 10);
        }
      }
      break;
    case ErrorKind::kGeneral:
      Put(buf, size, &len, error.text ? error.text : "");
      break;
    case ErrorKind::kOutOfMemory:
      Put(buf, size, &len, "Out of memory");
      break;
    case ErrorKind::kDde:
      if (const char* text = WordsOf<kDdeMessages>(error.code)) {
        Put(buf, size, &len, text);
      } else {
        Put(buf, size, &len, kDdeOtherWords);
      }
      PutUnsigned(buf, size, &len, error.code, 16);
      Put(buf, size, &len, ")");
      break;
  }
  if (size > 0) buf[len < size ? len : size - 1] = 0;
  return len;
}

size_t FormatErrorReport(const Error& error, char* buf, size_t size) {
  char message[256];
  size_t length = FormatErrorMessage(error, message, sizeof message);
  if (length >= sizeof message) length = sizeof message - 1;
  size_t len = 0;
  Put(buf, size, &len, message);
  if (length > 0 && static_cast<unsigned char>(message[length - 1]) > '.') Put(buf, size, &len, ".");
  if (size > 0) buf[len < size ? len : size - 1] = 0;
  return len;
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
