// Text in this platform's own terms, as the command-line tools meet it: file names,
// command-line arguments and what the terminal shows. On POSIX that is UTF-8; on
// Windows the tools use the 8-bit (ANSI) functions, which take the system's
// Windows-1250 bytes as they are. One implementation per platform
// (nativetext_posix.cpp, nativetext_win32.cpp) is picked by the build.
#pragma once

#include <stddef.h>

#include <string>

namespace vek {

// Windows-1250 bytes as this platform's text. On POSIX the bytes that Windows-1250
// leaves undefined all become U+FFFD, so two names that differ only in them are one.
std::string Cp1250ToNative(const char* bytes, size_t length);

// This platform's text as Windows-1250 bytes in *bytes; false when it cannot be
// written so (on POSIX: not UTF-8, or a character the code page lacks).
bool NativeToCp1250(const std::string& text, std::string* bytes);

}  // namespace vek
