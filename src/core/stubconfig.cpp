#include "stubconfig.h"

#include <string.h>

#include "cp1250.h"

namespace vek {
namespace {

struct KeyInfo {
  const char* name;
  uint16_t limit;      // characters
  bool may_be_empty;
};

// Limits: what the window shows in one line (caption, prompt, footer, a button's
// caption, at 96 pixels per inch), what a message box shows without becoming a wall
// of text, and names the Start menu and a DDE command carry comfortably.
constexpr KeyInfo kKeys[kConfigKeyCount] = {
    {"caption", 60, false},      {"prompt", 50, true},         {"folder", 160, false},
    {"footer", 64, true},        {"group", 60, false},         {"item", 60, false},
    {"done", 300, false},        {"folder-error", 200, false}, {"group-error", 200, false},
    {"extract-button", 12, false}, {"quit-button", 12, false},
};

// Characters a Start-menu name cannot hold: those of no file name, and those that
// end or split an argument of a Program Manager command.
constexpr char kNotInName[] = "\\/:*?\"<>|,()[]";
constexpr char kNotInTarget[] = ":*?\"<>|,()[]";
constexpr char kNotInFolder[] = "/*?\"<>|,";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Checks UTF-8 and control characters over [begin, end) and counts the characters.
ConfigProblem CheckText(const char* begin, const char* end, uint32_t* characters) {
  *characters = 0;
  for (const char* p = begin; p < end;) {
    uint32_t c = DecodeUtf8(&p, end);
    if (c == kBadUtf8) return ConfigProblem::kBadUtf8;
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return ConfigProblem::kControlCharacter;
    ++*characters;
  }
  return ConfigProblem::kNone;
}

bool HasAny(const char* text, const char* set) {
  for (; *text; ++text) {
    if (strchr(set, *text)) return true;
  }
  return false;
}

// A path component [begin, end) of only dots: "." or "..", which leave the folder
// they are in or mean it, or a longer run, which Windows shortens.
bool IsDots(const char* begin, const char* end) {
  if (begin == end) return false;
  for (const char* p = begin; p < end; ++p) {
    if (*p != '.') return false;
  }
  return true;
}

ConfigProblem CheckTarget(const char* target) {
  if (IsSeparator(target[0]) || strchr(target, ':')) return ConfigProblem::kTargetLeaves;
  const char* start = target;
  for (const char* p = target;; ++p) {
    if (*p == 0 || IsSeparator(*p)) {
      if (p == start || IsDots(start, p)) return ConfigProblem::kTargetLeaves;
      if (*p == 0) break;
      start = p + 1;
    }
  }
  return HasAny(target, kNotInTarget) ? ConfigProblem::kBadCharacter : ConfigProblem::kNone;
}

ConfigProblem CheckFolder(const char* folder) {
  const char drive = static_cast<char>(folder[0] | 0x20);
  if (drive < 'a' || drive > 'z' || folder[1] != ':' || folder[2] != '\\' || folder[3] == 0) {
    return ConfigProblem::kFolderNotAbsolute;
  }
  if (HasAny(folder + 3, kNotInFolder) || strchr(folder + 3, ':')) {
    return ConfigProblem::kBadCharacter;
  }
  const char* start = folder + 3;
  for (const char* p = start;; ++p) {
    if (*p == 0 || *p == '\\') {
      // An empty component only at the end: "C:\Name\" is "C:\Name".
      if ((p == start && *p != 0) || IsDots(start, p)) return ConfigProblem::kFolderNotAbsolute;
      if (*p == 0) break;
      start = p + 1;
    }
  }
  return ConfigProblem::kNone;
}

// Drops blanks at both ends of [*begin, *end).
void Trim(char** begin, char** end) {
  while (*begin < *end && IsBlank(**begin)) ++*begin;
  while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

ConfigProblem CheckValue(ConfigKey key, char* begin, char* end, StubConfig* out) {
  uint32_t characters = 0;
  ConfigProblem problem = CheckText(begin, end, &characters);
  if (problem != ConfigProblem::kNone) return problem;
  if (key != kKeyItem) {
    if (characters == 0 && !kKeys[key].may_be_empty) return ConfigProblem::kEmpty;
    if (characters > kKeys[key].limit) return ConfigProblem::kTooLong;
    *end = 0;
    out->text[key] = begin;
    if (key == kKeyFolder) return CheckFolder(begin);
    if (key == kKeyGroup && HasAny(begin, kNotInName)) return ConfigProblem::kBadCharacter;
    return ConfigProblem::kNone;
  }

  // item = TARGET,NAME
  char* comma = static_cast<char*>(memchr(begin, ',', static_cast<size_t>(end - begin)));
  if (!comma) return ConfigProblem::kItemWithoutComma;
  if (out->item_count == kConfigMaxItems) return ConfigProblem::kTooManyItems;
  char *target = begin, *target_end = comma, *name = comma + 1, *name_end = end;
  Trim(&target, &target_end);
  Trim(&name, &name_end);
  if (target == target_end || name == name_end) return ConfigProblem::kEmpty;
  uint32_t target_characters = 0, name_characters = 0;
  CheckText(target, target_end, &target_characters);
  CheckText(name, name_end, &name_characters);
  if (target_characters > kConfigTargetLimit || name_characters > kKeys[kKeyItem].limit) {
    return ConfigProblem::kTooLong;
  }
  *target_end = 0;
  *name_end = 0;
  problem = CheckTarget(target);
  if (problem != ConfigProblem::kNone) return problem;
  if (HasAny(name, kNotInName)) return ConfigProblem::kBadCharacter;
  out->items[out->item_count++] = {target, name};
  return ConfigProblem::kNone;
}

}  // namespace

const char* ConfigKeyName(ConfigKey key) { return key < kConfigKeyCount ? kKeys[key].name : ""; }

uint32_t ConfigKeyLimit(ConfigKey key) { return key < kConfigKeyCount ? kKeys[key].limit : 0; }

ConfigResult ParseStubConfig(char* text, size_t size, StubConfig* out) {
  *out = StubConfig();
  ConfigResult result;
  if (size > kConfigTextLimit) {
    result.problem = ConfigProblem::kTooLarge;
    return result;
  }
  char* const end = text + size;
  char* line = text;
  if (size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) line += 3;  // a byte-order mark
  bool seen[kConfigKeyCount] = {};
  for (uint32_t number = 1; line < end; ++number) {
    char* newline = static_cast<char*>(memchr(line, '\n', static_cast<size_t>(end - line)));
    char* line_end = newline ? newline : end;
    char* next = newline ? newline + 1 : end;
    if (line_end > line && line_end[-1] == '\r') --line_end;
    result.line = number;
    result.key = kConfigKeyCount;
    char* begin = line;
    char* stop = line_end;
    line = next;
    Trim(&begin, &stop);
    if (begin == stop || *begin == '#') {
      uint32_t ignored;
      result.problem = CheckText(begin, stop, &ignored);
      if (result.problem == ConfigProblem::kControlCharacter) result.problem = ConfigProblem::kNone;
      if (!result.ok()) return result;
      continue;
    }
    char* equals = static_cast<char*>(memchr(begin, '=', static_cast<size_t>(stop - begin)));
    char* key_end = equals ? equals : stop;
    while (key_end > begin && IsBlank(key_end[-1])) --key_end;
    if (!equals || key_end == begin) {
      result.problem = ConfigProblem::kMalformed;
      return result;
    }
    ConfigKey key = kConfigKeyCount;
    for (int k = 0; k < kConfigKeyCount; ++k) {
      if (strlen(kKeys[k].name) == static_cast<size_t>(key_end - begin) &&
          memcmp(kKeys[k].name, begin, static_cast<size_t>(key_end - begin)) == 0) {
        key = static_cast<ConfigKey>(k);
      }
    }
    if (key == kConfigKeyCount) {
      uint32_t ignored;
      result.problem = CheckText(begin, key_end, &ignored);
      if (result.ok()) result.problem = ConfigProblem::kUnknownKey;
      return result;
    }
    result.key = key;
    if (seen[key] && key != kKeyItem) {
      result.problem = ConfigProblem::kDuplicateKey;
      return result;
    }
    seen[key] = true;
    char* value = equals + 1;
    Trim(&value, &stop);
    result.problem = CheckValue(key, value, stop, out);
    if (!result.ok()) return result;
  }
  result = ConfigResult();
  return result;
}

const char* DescribeConfigProblem(const ConfigResult& result) {
  const bool item = result.key == kKeyItem;
  switch (result.problem) {
    case ConfigProblem::kNone: return "no problem";
    case ConfigProblem::kTooLarge: return "the configuration is larger than 16384 bytes";
    case ConfigProblem::kBadUtf8: return "not UTF-8 text";
    case ConfigProblem::kControlCharacter: return "a control character (such as a tab) in the line";
    case ConfigProblem::kMalformed: return "not a \"key = value\" line";
    case ConfigProblem::kUnknownKey: return "unknown key";
    case ConfigProblem::kDuplicateKey: return "the key is given twice";
    case ConfigProblem::kEmpty: return item ? "TARGET and NAME must not be empty" : "the value must not be empty";
    case ConfigProblem::kTooLong:
      return item ? "TARGET longer than 100 characters or NAME longer than 60" : "the value is too long";
    case ConfigProblem::kItemWithoutComma: return "an item is TARGET,NAME: the comma is missing";
    case ConfigProblem::kTooManyItems: return "more than 16 items";
    case ConfigProblem::kTargetLeaves:
      return "TARGET must stay inside the destination: a relative path without a drive, \".\" or \"..\"";
    case ConfigProblem::kBadCharacter:
      if (item || result.key == kKeyGroup) {
        return "a character that a Start-menu name or a Program Manager command cannot hold "
               "(\\ / : * ? \" < > | , ( ) [ ])";
      }
      return "a character that a folder name cannot hold (/ * ? \" < > | , or a second :)";
    case ConfigProblem::kFolderNotAbsolute:
      return "the folder must be a full path such as C:\\Name, without \".\" or \"..\" or empty parts";
  }
  return "";
}

}  // namespace vek
