// The failures of the whole program, modelled once.
//
// The reader, the extractor and the DDE layer report failures as values, not C++
// exceptions: the Windows stub is built without the exception runtime to stay small.
// An `Error` is one of four kinds, each with the class name and message that the
// program's reports show: an input/output error (a code whose message follows from
// it), a general error with a fixed message, out of memory, or the DDE manager's
// start-up error.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

enum class ErrorKind : uint8_t {
  kNone = 0,
  kInOut,        // EInOutError: code is the platform's code or the runtime's 100/101
  kGeneral,      // Exception: text is a fixed message
  kOutOfMemory,  // "Out of memory"
  kDde,          // EDdeError: code is the DDEML error code, message formatted from it
};

// Runtime input/output codes that are not the platform's.
inline constexpr uint32_t kIoFileNotFound = 2;
inline constexpr uint32_t kIoInvalidFilename = 3;
inline constexpr uint32_t kIoTooManyOpenFiles = 4;
inline constexpr uint32_t kIoAccessDenied = 5;
inline constexpr uint32_t kIoReadBeyondEnd = 100;
inline constexpr uint32_t kIoDiskFull = 101;
inline constexpr uint32_t kIoInvalidNumericInput = 106;

// DDEML codes whose reports have their own text.
inline constexpr uint32_t kDdeLowMemory = 0x4007;
inline constexpr uint32_t kDdeMemoryError = 0x4008;
inline constexpr uint32_t kDdeNoConvEstablished = 0x400A;

struct [[nodiscard]] Error {
  ErrorKind kind = ErrorKind::kNone;
  uint32_t code = 0;
  const char* text = nullptr;  // kGeneral only: a string literal

  constexpr bool ok() const { return kind == ErrorKind::kNone; }
  constexpr explicit operator bool() const { return kind != ErrorKind::kNone; }
  friend constexpr bool operator==(const Error& a, const Error& b) {
    if (a.kind != b.kind || a.code != b.code) return false;
    if (a.text == b.text) return true;
    if (!a.text || !b.text) return false;
    const char* p = a.text;
    const char* q = b.text;
    while (*p && *p == *q) ++p, ++q;
    return *p == *q;
  }
};

constexpr Error NoError() { return {}; }
constexpr Error InOutError(uint32_t code) { return {ErrorKind::kInOut, code, nullptr}; }
constexpr Error GeneralError(const char* text) { return {ErrorKind::kGeneral, 0, text}; }
constexpr Error OutOfMemoryError() { return {ErrorKind::kOutOfMemory, 0, nullptr}; }
constexpr Error DdeError(uint32_t code) { return {ErrorKind::kDde, code, nullptr}; }

// Writes the error's message, as the user sees it, into buf (always zero-terminated
// when size > 0) and returns its length (not counting the zero byte). Input/output
// errors: "File not found", ..., "I/O error %d"; DDE: the three DDE texts with "$0%X".
size_t FormatErrorMessage(const Error& error, char* buf, size_t size);

// The text of the default error report: the message with a full stop appended when
// it is not empty and its last byte sorts after the full stop. Same contract as
// FormatErrorMessage.
size_t FormatErrorReport(const Error& error, char* buf, size_t size);

// The class name that the default error reports would show for the error.
const char* ErrorClassName(const Error& error);

// Propagates a failed Error to the caller.
#define VEK_TRY(expr)                    \
  do {                                   \
    ::vek::Error vek_try_error_ = (expr); \
    if (!vek_try_error_.ok()) return vek_try_error_; \
  } while (0)

}  // namespace vek
