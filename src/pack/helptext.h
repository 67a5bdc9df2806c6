// The parts of vek's and vekpack's help made from the tables, so that the help (and
// the manual page made from it) lists every configuration key and every exit code.
#pragma once

#include <stddef.h>

#include <string>

#include "exitcodes.h"

namespace vek::tools {

// The width the help's paragraphs are wrapped to.
inline constexpr size_t kHelpWidth = 76;

// text as lines of at most width columns, broken at blanks, each line after the first
// indented by indent blanks; "\n" at the end.
std::string Wrap(const std::string& text, size_t width = kHelpWidth, size_t indent = 0);

// "LEAD 0 WORDS; 2 WORDS." for the codes, joined by separator, wrapped.
std::string ExitCodesText(const char* lead, const ExitCode* codes, size_t count, const char* separator);
template <size_t N>
std::string ExitCodesText(const char* lead, const ExitCode (&codes)[N], const char* separator) {
  return ExitCodesText(lead, codes, N, separator);
}

// Every configuration key, one entry each: "  NAME  what it sets (LIMIT)", the
// limits from the configuration's own table.
std::string ConfigKeysText();

}  // namespace vek::tools
