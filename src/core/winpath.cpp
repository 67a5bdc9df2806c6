#include "winpath.h"

#include "cp1250.h"

namespace vek {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsForbiddenByte(unsigned char c) {
  if (c < 0x20) return true;
  switch (c) {
    case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
      return true;
    default:
      return c >= 0x80 && Cp1250ToUnicode(c) == 0;
  }
}

// Compares length bytes of name with an upper-case ASCII word, ignoring letter case.
bool EqualsWord(const char* name, size_t length, const char* word) {
  size_t i = 0;
  for (; i < length && word[i]; ++i) {
    if (FoldCase1250(static_cast<unsigned char>(name[i])) != static_cast<unsigned char>(word[i])) return false;
  }
  return i == length && word[i] == 0;
}

bool IsDeviceDigit(unsigned char c) { return (c >= '1' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3; }

}  // namespace

bool IsWindowsDeviceName(const char* name, size_t length) {
  size_t base = 0;
  while (base < length && name[base] != '.') ++base;
  while (base > 0 && name[base - 1] == ' ') --base;
  switch (base) {
    case 3:
      return EqualsWord(name, 3, "CON") || EqualsWord(name, 3, "PRN") || EqualsWord(name, 3, "AUX") ||
             EqualsWord(name, 3, "NUL");
    case 4:
      return (EqualsWord(name, 3, "COM") || EqualsWord(name, 3, "LPT")) &&
             IsDeviceDigit(static_cast<unsigned char>(name[3]));
    case 6:
      return EqualsWord(name, 6, "CONIN$");
    case 7:
      return EqualsWord(name, 7, "CONOUT$");
    default:
      return false;
  }
}

NameRule CheckWindowsName(const char* name, size_t length) {
  if (length == 0) return NameRule::kEmpty;
  bool only_dots_and_blanks = true;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsForbiddenByte(c)) return NameRule::kForbiddenCharacter;
    if (c != '.' && c != ' ') only_dots_and_blanks = false;
  }
  if (only_dots_and_blanks) return NameRule::kDotName;
  if (IsWindowsDeviceName(name, length)) return NameRule::kDeviceName;
  char last = name[length - 1];
  if (last == '.' || last == ' ') return NameRule::kTrailingDotOrBlank;
  return NameRule::kFine;
}

const char* DescribeNameRule(NameRule rule) {
  switch (rule) {
    case NameRule::kFine: return "a name Windows takes as written";
    case NameRule::kEmpty: return "an empty name";
    case NameRule::kDotName: return "\".\", \"..\" or only dots and blanks";
    case NameRule::kForbiddenCharacter:
      return "a character Windows forbids in names (\\ / : * ? \" < > | or a control character)";
    case NameRule::kTrailingDotOrBlank: return "a trailing dot or blank, which Windows drops";
    case NameRule::kDeviceName: return "a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$)";
  }
  return "a name Windows refuses";
}

PathKind ClassifyWindowsPath(const char* p, size_t n) {
  if (n >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
    if (n >= 3 && (p[2] == '.' || p[2] == '?') && (n == 3 || IsSeparator(p[3]))) {
      return n > 4 ? PathKind::kDevice : PathKind::kNetworkPrefix;
    }
    size_t i = 2;
    while (i < n && !IsSeparator(p[i])) ++i;
    if (i == 2 || i == n) return PathKind::kNetworkPrefix;  // no host, or no share
    size_t share = ++i;
    while (i < n && !IsSeparator(p[i])) ++i;
    return i == share ? PathKind::kNetworkPrefix : PathKind::kUnc;
  }
  if (n >= 1 && IsSeparator(p[0])) return PathKind::kRooted;
  if (n >= 2 && p[1] == ':') return n >= 3 && IsSeparator(p[2]) ? PathKind::kDriveAbsolute : PathKind::kDriveRelative;
  return PathKind::kRelative;
}

bool JoinLeavesTheDisk(const char* destination, size_t destination_length, const char* relative,
                       size_t relative_length) {
  // The joined path's first two bytes.
  char first[2] = {0, 0};
  size_t k = 0;
  for (size_t i = 0; i < destination_length && k < 2; ++i) first[k++] = destination[i];
  for (size_t i = 0; i < relative_length && k < 2; ++i) first[k++] = relative[i];
  if (!IsSeparator(first[0]) || !IsSeparator(first[1])) return false;
  PathKind kind = ClassifyWindowsPath(destination, destination_length);
  return kind != PathKind::kUnc && kind != PathKind::kDevice;
}

size_t TrimDestination(const char* destination, size_t length, bool* root) {
  size_t trimmed = length;
  while (trimmed > 0 && IsSeparator(destination[trimmed - 1])) --trimmed;
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
