// Windows-1250 bytes, in which the program keeps its texts, as UTF-16, in which the
// Windows wide API shows them whatever the system's code page.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

// Converts the zero-terminated text to UTF-16 in out (room for size units, always
// zero-terminated) and returns the number of units it needs without the zero. Bytes
// the code page leaves undefined become U+FFFD.
size_t Cp1250ToUtf16(const char* text, uint16_t* out, size_t size);

}  // namespace vek
