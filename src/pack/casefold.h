// Letter case as Windows compares file names: two names are one file when their
// characters are equal once each is mapped to its upper-case form. The mapping is
// Unicode's simple upper case (one character to one, as in UnicodeData.txt) of the
// characters U+0080..U+FFFF, in Unicode 14.0 (ASCII by hand); characters beyond
// U+FFFF, which Windows keeps as two UTF-16 units, map to themselves. "ß" stays "ß"
// (its upper case "SS" is two characters); "µ" is "Μ", "ı" and "ſ" are "I" and "S".
//
// For `vek test` and `vekpack`, which report or refuse two names of one folder that
// Windows would make one file; the stub does not need it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "winpath.h"

namespace vek {

// Appends the code point to out in UTF-8.
void AppendUtf8(std::string* out, uint32_t c);

// The upper-case form of a code point.
uint32_t WindowsUpperCase(uint32_t c);

// A name in the encoding as UTF-8 with every character in its upper-case form: two
// names are one file on Windows when these are equal. A byte that is no character
// of the encoding stays as it is.
std::string FoldedName(const char* name, size_t length, NameEncoding encoding);

// True when two names in one encoding are one file on Windows.
bool SameWindowsName(const char* a, size_t a_length, const char* b, size_t b_length,
                     NameEncoding encoding = NameEncoding::kWindows1250);

}  // namespace vek
