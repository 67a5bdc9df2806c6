// Windows-1250 text: the code page of every name and text the system stores or shows.
// Conversions to and from Unicode for the places where the platform wants UTF-8 (POSIX
// file names, terminals) or UTF-16 (the Windows wide API).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

// The Unicode code point of a Windows-1250 byte; 0 for the five bytes it leaves undefined.
uint16_t Cp1250ToUnicode(unsigned char byte);

// The Windows-1250 byte of a code point; false when the code page has none.
bool UnicodeToCp1250(uint32_t code_point, unsigned char* byte);

// Converts length bytes of Windows-1250 text to UTF-8 in out (room for size bytes,
// zero-terminated). Undefined bytes become U+FFFD. Returns the UTF-8 length, or
// (size_t)-1 when out is too small. At most 3 bytes per input byte are needed.
size_t Cp1250ToUtf8(const char* text, size_t length, char* out, size_t size);

// Converts UTF-8 to Windows-1250 in out (room for size bytes, zero-terminated).
// Returns the length, or (size_t)-1 when the text is not valid UTF-8, holds a
// character that Windows-1250 cannot represent, or does not fit.
size_t Utf8ToCp1250(const char* text, size_t length, char* out, size_t size);

// Decodes the UTF-8 character at *p (before end) and moves *p past it. Returns
// kBadUtf8 for a malformed, over-long or surrogate form or one beyond U+10FFFF
// (*p then moves one byte).
inline constexpr uint32_t kBadUtf8 = 0xFFFFFFFF;
uint32_t DecodeUtf8(const char** p, const char* end);

// Converts zero-terminated UTF-8 to zero-terminated UTF-16 in out (room for size
// units); malformed bytes become U+FFFD. Returns the units needed without the zero.
size_t Utf8ToUtf16(const char* text, uint16_t* out, size_t size);

}  // namespace vek
