#include "winpath.h"

#include <string.h>

#include "cp1250.h"

namespace vek {
namespace {

// What NextCharacter gives for an undefined Windows-1250 byte or malformed UTF-8.
constexpr uint32_t kNoCharacter = 0xFFFFFFFF;
// The longest device name, CONOUT$.
constexpr size_t kLongestDeviceName = 7;

// The character at *p (before end) and *p moved past it.
uint32_t NextCharacter(const char** p, const char* end, NameEncoding encoding) {
  if (encoding == NameEncoding::kUtf8) {
    const uint32_t c = DecodeUtf8(p, end);
    return c == kBadUtf8 ? kNoCharacter : c;
  }
  const unsigned char byte = static_cast<unsigned char>(*(*p)++);
  if (byte < 0x80) return byte;
  const uint16_t c = Cp1250ToUnicode(byte);
  return c == 0 ? kNoCharacter : c;
}

// The character at *p as the device-name rule reads it: in 8-bit text the byte
// itself, as the Western code pages (Latin-1) read it.
uint32_t NextDeviceCharacter(const char** p, const char* end, NameEncoding encoding) {
  if (encoding == NameEncoding::kUtf8) return DecodeUtf8(p, end);
  return static_cast<unsigned char>(*(*p)++);
}

bool IsForbiddenCharacter(uint32_t c) {
  if (c < 0x20 || c == kNoCharacter) return true;
  switch (c) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|': return true;
    default: return false;
  }
}

uint32_t AsciiUpper(uint32_t c) { return c >= 'a' && c <= 'z' ? c - 0x20 : c; }

// Whether the n characters of base are word (upper-case ASCII) when letter case is ignored.
bool EqualsWord(const uint32_t* base, size_t n, const char* word) {
  size_t i = 0;
  for (; i < n && word[i]; ++i) {
    if (AsciiUpper(base[i]) != static_cast<unsigned char>(word[i])) return false;
  }
  return i == n && word[i] == 0;
}

// 1-9, and the superscripts 1, 2 and 3.
bool IsDeviceDigit(uint32_t c) { return (c >= '1' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3; }

}  // namespace

bool IsWindowsDeviceName(const char* name, size_t length, NameEncoding encoding) {
  // The characters before the first dot, without trailing blanks.
  uint32_t base[kLongestDeviceName];
  size_t n = 0, blanks = 0;
  for (const char *p = name, *end = name + length; p < end && *p != '.';) {
    const uint32_t c = NextDeviceCharacter(&p, end, encoding);
    if (c == ' ') {
      ++blanks;
      continue;
    }
    if (n + blanks >= kLongestDeviceName) return false;
    for (; blanks > 0; --blanks) base[n++] = ' ';
    base[n++] = c;
  }
  switch (n) {
    case 3:
      return EqualsWord(base, 3, "CON") || EqualsWord(base, 3, "PRN") || EqualsWord(base, 3, "AUX") ||
             EqualsWord(base, 3, "NUL");
    case 4: return (EqualsWord(base, 3, "COM") || EqualsWord(base, 3, "LPT")) && IsDeviceDigit(base[3]);
    case 6: return EqualsWord(base, 6, "CONIN$");
    case 7: return EqualsWord(base, 7, "CONOUT$");
    default: return false;
  }
}

NameRule CheckWindowsName(const char* name, size_t length, NameEncoding encoding) {
  if (length == 0) return NameRule::kEmpty;
  bool only_dots_and_blanks = true;
  for (const char *p = name, *end = name + length; p < end;) {
    const uint32_t c = NextCharacter(&p, end, encoding);
    if (IsForbiddenCharacter(c)) return NameRule::kForbiddenCharacter;
    if (c != '.' && c != ' ') only_dots_and_blanks = false;
  }
  if (only_dots_and_blanks) return NameRule::kDotName;
  if (IsWindowsDeviceName(name, length, encoding)) return NameRule::kDeviceName;
  const char last = name[length - 1];
  if (last == '.' || last == ' ') return NameRule::kTrailingDotOrBlank;
  return NameRule::kFine;
}

NameRule CheckWindowsNames(const char* path, size_t length, NameEncoding encoding) {
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i < length && !IsWindowsSeparator(path[i])) continue;
    const NameRule rule = CheckWindowsName(path + start, i - start, encoding);
    if (rule != NameRule::kFine) return rule;
    start = i + 1;
  }
  return NameRule::kFine;
}

const char* DescribeNameRule(NameRule rule) {
  static constexpr const char* kTexts[] = VEK_NAME_RULE_TEXTS("");
  const size_t index = static_cast<size_t>(rule);
  return index < sizeof kTexts / sizeof kTexts[0] ? kTexts[index] : "a name Windows refuses";
}

PathKind ClassifyWindowsPath(const char* p, size_t n) {
  if (n >= 2 && IsWindowsSeparator(p[0]) && IsWindowsSeparator(p[1])) {
    if (n >= 3 && (p[2] == '.' || p[2] == '?') && (n == 3 || IsWindowsSeparator(p[3]))) {
      return n > 4 ? PathKind::kDevice : PathKind::kNetworkPrefix;
    }
    size_t i = 2;
    while (i < n && !IsWindowsSeparator(p[i])) ++i;
    if (i == 2 || i == n) return PathKind::kNetworkPrefix;  // no host, or no share
    size_t share = ++i;
    while (i < n && !IsWindowsSeparator(p[i])) ++i;
    return i == share ? PathKind::kNetworkPrefix : PathKind::kUnc;
  }
  if (n >= 1 && IsWindowsSeparator(p[0])) return PathKind::kRooted;
  if (n >= 2 && p[1] == ':')
    return n >= 3 && IsWindowsSeparator(p[2]) ? PathKind::kDriveAbsolute : PathKind::kDriveRelative;
  return PathKind::kRelative;
}

bool JoinLeavesTheDisk(const char* destination, size_t destination_length, const char* relative,
                       size_t relative_length) {
  // The joined path's first two bytes.
  char first[2] = {0, 0};
  size_t k = 0;
  for (size_t i = 0; i < destination_length && k < 2; ++i) first[k++] = destination[i];
  for (size_t i = 0; i < relative_length && k < 2; ++i) first[k++] = relative[i];
  if (!IsWindowsSeparator(first[0]) || !IsWindowsSeparator(first[1])) return false;
  PathKind kind = ClassifyWindowsPath(destination, destination_length);
  return kind != PathKind::kUnc && kind != PathKind::kDevice;
}

size_t TrimDestination(const char* destination, size_t length, bool* root) {
  size_t trimmed = length;
  while (trimmed > 0 && IsWindowsSeparator(destination[trimmed - 1])) --trimmed;
  *root = length > 0 && trimmed == 0;
  return trimmed;
}

size_t PathUnits(const PathLimits& limits, const char* text, size_t length, NameEncoding encoding) {
  // UTF-8 counted in bytes, and Windows-1250 in UTF-16 units, is one unit a byte.
  if (limits.utf8 == (encoding == NameEncoding::kUtf8)) return length;
  size_t units = 0;
  for (const char *p = text, *end = text + length; p < end;) {
    uint32_t c = NextCharacter(&p, end, encoding);
    if (c == kNoCharacter) c = 0xFFFD;
    if (limits.utf8) {
      units += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;  // Windows-1250 has nothing beyond U+FFFF
    } else {
      units += c >= 0x10000 ? 2 : 1;  // a surrogate pair
    }
  }
  return units;
}

LongForm LongPathForm(const char* path, size_t length) {
  if (length >= 4 && memcmp(path, "\\\\?\\", 4) == 0) return LongForm::kAlready;
  const PathKind kind = ClassifyWindowsPath(path, length);
  if (kind != PathKind::kDriveAbsolute && kind != PathKind::kUnc) return LongForm::kNone;
  // The names after "C:\" or after "\\": host, share and the rest.
  const size_t first = kind == PathKind::kUnc ? 2 : 3;
  if (kind == PathKind::kDriveAbsolute) {
    const char drive = static_cast<char>(path[0] | 0x20);
    if (drive < 'a' || drive > 'z') return LongForm::kNone;
    if (length == first) return LongForm::kDrive;  // the root
  }
  if (CheckWindowsNames(path + first, length - first, NameEncoding::kUtf8) != NameRule::kFine) return LongForm::kNone;
  return kind == PathKind::kUnc ? LongForm::kUnc : LongForm::kDrive;
}

}  // namespace vek
