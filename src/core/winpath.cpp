#include "winpath.h"

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
    case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
      return true;
    default:
      return false;
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
    case 4:
      return (EqualsWord(base, 3, "COM") || EqualsWord(base, 3, "LPT")) && IsDeviceDigit(base[3]);
    case 6:
      return EqualsWord(base, 6, "CONIN$");
    case 7:
      return EqualsWord(base, 7, "CONOUT$");
    default:
      return false;
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
  if (n >= 2 && p[1] == ':') return n >= 3 && IsWindowsSeparator(p[2]) ? PathKind::kDriveAbsolute : PathKind::kDriveRelative;
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

unsigned char FoldCase1250(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;  // š Š
    case 0x9C: return 0x8C;  // ś Ś
    case 0x9D: return 0x8D;  // ť Ť
    case 0x9E: return 0x8E;  // ž Ž
    case 0x9F: return 0x8F;  // ź Ź
    case 0xB3: return 0xA3;  // ł Ł
    case 0xB9: return 0xA5;  // ą Ą
    case 0xBA: return 0xAA;  // ş Ş
    case 0xBE: return 0xBC;  // ľ Ľ
    case 0xBF: return 0xAF;  // ż Ż
    default: break;
  }
  // à..ţ and À..Ţ lie 0x20 apart, but for ÷ (0xF7) and × (0xD7), which are no letters.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
  return c;
}

bool SameWindowsName(const char* a, size_t a_length, const char* b, size_t b_length) {
  if (a_length != b_length) return false;
  for (size_t i = 0; i < a_length; ++i) {
    if (FoldCase1250(static_cast<unsigned char>(a[i])) != FoldCase1250(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

const PathLimits& PlatformPathLimits() {
  // The one platform difference of this unit: where the path is finally created.
#ifdef _WIN32
  return kWindowsPathLimits;
#else
  return kPosixPathLimits;
#endif
}

size_t PathUnits(const PathLimits& limits, const char* bytes, size_t length) {
  if (!limits.utf8) return length;
  size_t units = 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++units;
      continue;
    }
    uint16_t u = Cp1250ToUnicode(c);
    units += u != 0 && u < 0x800 ? 2 : 3;  // an undefined byte (0) becomes U+FFFD: 3
  }
  return units;
}

}  // namespace vek
