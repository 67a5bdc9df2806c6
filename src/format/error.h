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

// ---- Error codes ---------------------------------------------------------------------
//
// The numbers an Error carries, by domain, each domain a type of its own: two domains
// may give one number two names, which are kept apart rather than merged.
//
// An input/output error's code is a Windows error code (WinErrorCode: what the system
// or a file edge reports; on POSIX an errno value translated to it) or one of the
// runtime's own (IoCode: what no system call reports, such as a read past the end).
// The runtime words some Windows codes itself, and IoCode names those as its message
// words them: 3 is kWinErrorPathNotFound for what the system means and
// kIoInvalidFilename for what the message says. A DDE error's code is a DDEML code.

enum WinErrorCode : uint32_t {
  kWinErrorInvalidFunction = 1,
  kWinErrorFileNotFound = 2,
  kWinErrorPathNotFound = 3,
  kWinErrorInvalidHandle = 6,
  kWinErrorNotEnoughMemory = 8,
  kWinErrorWriteProtect = 19,
  kWinErrorSharingViolation = 32,
  kWinErrorHandleDiskFull = 39,
  // Also the code with which a pack edge declines a fast copy between two files: the
  // caller then reads and writes.
  kWinErrorNotSupported = 50,
  kWinErrorFileExists = 80,
  kWinErrorInvalidParameter = 87,
  kWinErrorDiskFull = 112,
  kWinErrorInvalidName = 123,
  kWinErrorNegativeSeek = 131,
  kWinErrorAlreadyExists = 183,
  kWinErrorFilenameTooLong = 206,
  kWinErrorIoDevice = 1117,
};

enum IoCode : uint32_t {
  kIoFileNotFound = 2,
  kIoInvalidFilename = 3,
  kIoTooManyOpenFiles = 4,
  kIoAccessDenied = 5,
  kIoReadBeyondEnd = 100,
  kIoDiskFull = 101,
  kIoInvalidNumericInput = 106,
};

// DdeInitializeA and DdeGetLastError.
enum DdeCode : uint32_t {
  kDdeNoError = 0,
  kDdeDllNotInitialized = 0x4003,
  kDdeInvalidParameter = 0x4006,
  kDdeLowMemory = 0x4007,
  kDdeMemoryError = 0x4008,
  kDdeNoConvEstablished = 0x400A,
  kDdeSysError = 0x400F,
};

// A code, by its name, with its words.
template <typename Code>
struct CodeWords {
  Code code;
  const char* words;
};

// The runtime's message for the input/output codes it words itself; any other code
// is "I/O error N".
inline constexpr CodeWords<IoCode> kIoMessages[] = {
    {kIoFileNotFound, "File not found"},
    {kIoInvalidFilename, "Invalid filename"},
    {kIoTooManyOpenFiles, "Too many open files"},
    {kIoAccessDenied, "File access denied"},
    {kIoReadBeyondEnd, "Read beyond end of file"},
    {kIoDiskFull, "Disk full"},
    {kIoInvalidNumericInput, "Invalid numeric input"},
};

// What vek and vekpack add beside the runtime's message: the system's reason for the
// codes that the file edges produce, in the same words on every platform. Codes whose
// message already says it have none; 3 has, as "Invalid filename" alone misleads.
inline constexpr CodeWords<WinErrorCode> kWinErrorReasons[] = {
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

// A DDE error's message: these words (or kDdeOtherWords), then the code in
// hexadecimal and ")".
inline constexpr CodeWords<DdeCode> kDdeMessages[] = {
    {kDdeLowMemory, "Error occurred when DDE ran out of memory ($0"},
    {kDdeMemoryError, "Error occurred when DDE ran out of memory ($0"},
    {kDdeNoConvEstablished, "DDE Error - conversation not established ($0"},
};
alignas(char) inline constexpr char kDdeOtherWords[] = "An error returned from DDE  ($0";

// The words of code in kTable (one of the tables above); nullptr when it has none.
// The stub keeps a table as its codes and each one's words once in one block of text:
// a pointer per entry took 16 bytes an entry on x86_64, more than the stub can spare.
template <const auto& kTable>
const char* WordsOf(uint32_t code);

namespace error_detail {

template <const auto& kTable>
struct PackedWords {
  static constexpr size_t kCount = sizeof kTable / sizeof kTable[0];
  static constexpr size_t Length(const char* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
  }
  static constexpr bool Same(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
  }
  // The first entry with the same words as entry i.
  static constexpr size_t First(size_t i) {
    size_t j = 0;
    while (!Same(kTable[j].words, kTable[i].words)) ++j;
    return j;
  }
  static constexpr size_t TextSize() {
    size_t size = 0;
    for (size_t i = 0; i < kCount; ++i) size += First(i) == i ? Length(kTable[i].words) + 1 : 0;
    return size;
  }
  struct Data {
    uint16_t codes[kCount];
    uint16_t at[kCount];
    char text[TextSize()];
  };
  static constexpr Data Make() {
    Data d{};
    size_t size = 0;
    for (size_t i = 0; i < kCount; ++i) {
      d.codes[i] = static_cast<uint16_t>(kTable[i].code);
      if (First(i) != i) {
        d.at[i] = d.at[First(i)];
        continue;
      }
      d.at[i] = static_cast<uint16_t>(size);
      for (size_t k = 0; k <= Length(kTable[i].words); ++k) d.text[size++] = kTable[i].words[k];
    }
    return d;
  }
  // Aligned as its fields ask, not to the 32 bytes GCC gives a large object.
  alignas(uint16_t) static constexpr Data kData = Make();
  static_assert(TextSize() <= 0x10000, "an entry's words begin within 16 bits");
  static constexpr bool CodesFit() {
    for (size_t i = 0; i < kCount; ++i) {
      if (kTable[i].code > 0xFFFF) return false;
    }
    return true;
  }
  static_assert(CodesFit(), "codes are kept in 16 bits");
};

}  // namespace error_detail

template <const auto& kTable>
const char* WordsOf(uint32_t code) {
  using Packed = error_detail::PackedWords<kTable>;
  for (size_t i = 0; i < Packed::kCount; ++i) {
    if (Packed::kData.codes[i] == code) return Packed::kData.text + Packed::kData.at[i];
  }
  return nullptr;
}

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
#define VEK_TRY(expr)                                \
  do {                                               \
    ::vek::Error vek_try_error_ = (expr);            \
    if (!vek_try_error_.ok()) return vek_try_error_; \
  } while (0)

}  // namespace vek
