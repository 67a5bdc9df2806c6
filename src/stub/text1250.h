// Texts between Windows-1250 bytes, in which the program keeps them, and UTF-16, in
// which the Windows wide API shows them whatever the system's code page.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ansistring.h"

namespace vek {

// Converts the zero-terminated text to UTF-16 in out (room for size units, always
// zero-terminated) and returns the number of units it needs without the zero. Bytes
// the code page leaves undefined become U+FFFD.
size_t Cp1250ToUtf16(const char* text, uint16_t* out, size_t size);

// Converts zero-terminated UTF-16 to Windows-1250; a character the code page lacks
// (or a lone surrogate) becomes '?'.
AnsiString Utf16ToCp1250(const uint16_t* text);

}  // namespace vek
