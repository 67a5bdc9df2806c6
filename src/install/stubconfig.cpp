#include "stubconfig.h"

#include <string.h>

#include "cp1250.h"

namespace vek {
namespace {

struct KeyInfo {
  const char* name;
  uint16_t limit;  // characters
  bool may_be_empty;
  bool text;  // a text of the window or a message box, which may be given per language
};

// Limits: what the window shows in one line (caption, prompt, footer, a button's
// caption, at 96 pixels per inch), what a message box shows without becoming a wall
// of text, and names the Start menu and a DDE command carry comfortably.
constexpr KeyInfo kKeys[kConfigKeyCount] = {
    {"caption", 60, false, true},       {"prompt", 50, true, true},
    {"folder", 160, false, false},      {"footer", 64, true, true},
    {"group", 60, false, false},        {"item", 60, false, false},
    {"done", 300, false, true},         {"folder-error", 200, false, true},
    {"group-error", 200, false, true},  {"extract-button", 12, false, true},
    {"quit-button", 12, false, true},   {"damaged", 200, false, true},
    {"rights-error", 200, false, true}, {"run-error", 200, false, true},
    {"publisher", 60, false, false},    {"version", 23, false, false},
    {"copyright", 60, false, false},    {"product", 60, false, false},
    {"open", 100, false, false},        {"icon", 260, false, false},
    {"uninstall", 3, false, false},     {"id", 60, false, false},
    {"run", 200, false, false},         {"confirm", 3, false, false},
};

// The characters that a Start-menu name and an item's TARGET cannot hold beyond those
// Windows forbids in names: each ends or splits a field of the item line
// ("TARGET,NAME") or of a Program Manager command.
constexpr char kNotInItemField[] = ",()[]";
// The folder begins every item's command line: no comma there either.
constexpr char kNotInFolder[] = ",";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

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

// The problem of a name that breaks a rule: kBadName with the rule, or in a path
// `in_path` for a name that is empty, "." or "..", which leaves or means the folder
// it is in.
ConfigProblem NameProblem(NameRule rule, ConfigProblem in_path, ConfigResult* result) {
  if (rule == NameRule::kFine) return ConfigProblem::kNone;
  if (in_path != ConfigProblem::kBadName && (rule == NameRule::kEmpty || rule == NameRule::kDotName)) {
    return in_path;
  }
  result->name_rule = rule;
  return ConfigProblem::kBadName;
}

// The group or an item's NAME: one name of the Start menu, which may hold what a file
// name may (commas, brackets): the stub quotes such names in its commands.
ConfigProblem CheckStartMenuName(const char* name, ConfigResult* result) {
  return NameProblem(CheckWindowsName(name, strlen(name), NameEncoding::kUtf8), ConfigProblem::kBadName, result);
}

// A path below the destination: an item's TARGET, what "open" opens.
ConfigProblem CheckBelowDestination(const char* target, ConfigResult* result) {
  if (IsWindowsSeparator(target[0]) || strchr(target, ':')) return ConfigProblem::kTargetLeaves;
  return NameProblem(CheckWindowsNames(target, strlen(target), NameEncoding::kUtf8), ConfigProblem::kTargetLeaves,
                     result);
}

ConfigProblem CheckTarget(const char* target, ConfigResult* result) {
  const ConfigProblem problem = CheckBelowDestination(target, result);
  if (problem != ConfigProblem::kNone) return problem;
  return HasAny(target, kNotInItemField) ? ConfigProblem::kBadCharacter : ConfigProblem::kNone;
}

ConfigProblem CheckFolder(const char* folder, ConfigResult* result) {
  size_t prefix = 0;
  if (folder[0] == '{') {
    const KnownFolder known = FolderPrefix(folder, &prefix);
    if (known == KnownFolder::kNone) return ConfigProblem::kUnknownFolder;
    if (known == KnownFolder::kTemp && folder[prefix] == 0) return ConfigProblem::kNone;  // the new folder itself
  } else {
    const char drive = static_cast<char>(folder[0] | 0x20);
    if (drive >= 'a' && drive <= 'z' && folder[1] == ':') prefix = 2;
  }
  if (prefix == 0 || folder[prefix] != '\\' || folder[prefix + 1] == 0) return ConfigProblem::kFolderNotAbsolute;
  // Names separated by "\" alone; one "\" may end it ("C:\Name\" is "C:\Name").
  const char* names = folder + prefix + 1;
  size_t length = strlen(names);
  if (names[length - 1] == '\\') --length;
  const NameRule rule = memchr(names, '/', length) ? NameRule::kForbiddenCharacter
                                                   : CheckWindowsNames(names, length, NameEncoding::kUtf8);
  const ConfigProblem problem = NameProblem(rule, ConfigProblem::kFolderNotAbsolute, result);
  if (problem != ConfigProblem::kNone) return problem;
  return HasAny(names, kNotInFolder) ? ConfigProblem::kBadCharacter : ConfigProblem::kNone;
}

// "run = PROGRAM ARGUMENTS", PROGRAM in double quotes when it holds a blank: cut
// into PROGRAM, which must be below the destination, and the ARGUMENTS.
ConfigProblem SplitRun(char* value, StubConfig* out, ConfigResult* result) {
  char* program = value;
  char* end = value;
  if (*value == '"') {
    program = ++end;
    end = strchr(program, '"');
    if (!end) return ConfigProblem::kOpenQuote;
  } else {
    while (*end && !IsBlank(*end)) ++end;
  }
  char* arguments = *end ? end + 1 : end;
  *end = 0;
  while (IsBlank(*arguments)) ++arguments;
  out->text[kKeyRun] = program;
  out->run_arguments = arguments;
  if (!*program) return ConfigProblem::kEmpty;
  return CheckBelowDestination(program, result);
}

ConfigProblem TooLong(uint32_t characters, uint32_t limit, ConfigResult* result) {
  result->characters = characters;
  result->limit = limit;
  return ConfigProblem::kTooLong;
}

// Drops blanks at both ends of [*begin, *end).
void Trim(char** begin, char** end) {
  while (*begin < *end && IsBlank(**begin)) ++*begin;
  while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

ConfigProblem CheckValue(ConfigKey key, char* begin, char* end, StubConfig* out, ConfigResult* result) {
  uint32_t characters = 0;
  ConfigProblem problem = CheckText(begin, end, &characters);
  if (problem != ConfigProblem::kNone) return problem;
  if (key != kKeyItem) {
    if (characters == 0 && !kKeys[key].may_be_empty) return ConfigProblem::kEmpty;
    if (characters > kKeys[key].limit) return TooLong(characters, kKeys[key].limit, result);
    *end = 0;
    out->text[key] = begin;
    if (key == kKeyFolder) return CheckFolder(begin, result);
    if (key == kKeyGroup) return CheckStartMenuName(begin, result);
    // A registry key's name: one name by the same rules as a file's.
    if (key == kKeyId)
      return NameProblem(CheckWindowsName(begin, strlen(begin), NameEncoding::kUtf8), ConfigProblem::kBadName, result);
    if ((key == kKeyUninstall || key == kKeyConfirm) && strcmp(begin, "yes") != 0 && strcmp(begin, "no") != 0) {
      return ConfigProblem::kNotYesNo;
    }
    if (key == kKeyOpen) return CheckBelowDestination(begin, result);
    if (key == kKeyRun) return SplitRun(begin, out, result);
    uint16_t numbers[4];
    if (key == kKeyVersion && !ParseVersionNumbers(begin, numbers)) return ConfigProblem::kBadVersion;
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
  if (target_characters > kConfigTargetLimit) {
    result->field = ConfigField::kTarget;
    return TooLong(target_characters, kConfigTargetLimit, result);
  }
  if (name_characters > kKeys[kKeyItem].limit) {
    result->field = ConfigField::kName;
    return TooLong(name_characters, kKeys[kKeyItem].limit, result);
  }
  *target_end = 0;
  *name_end = 0;
  result->field = ConfigField::kTarget;
  problem = CheckTarget(target, result);
  if (problem != ConfigProblem::kNone) return problem;
  result->field = ConfigField::kName;
  problem = CheckStartMenuName(name, result);
  if (problem != ConfigProblem::kNone) return problem;
  result->field = ConfigField::kValue;
  out->items[out->item_count++] = {target, name};
  return ConfigProblem::kNone;
}

bool IsLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// A language tag's form: two letters, or two letters, "-" and two letters.
bool IsTagForm(const char* tag, size_t length) {
  if (length != 2 && (length != 5 || tag[2] != '-')) return false;
  for (size_t i = 0; i < length; ++i) {
    if (i != 2 && !IsLetter(tag[i])) return false;
  }
  return true;
}

// How well a text of the language `tag` suits a run in `language`: 3 the same tag,
// 2 the run's primary language ("de" for "de-AT"), 0 neither. Letter case aside.
uint8_t TagRank(const char* tag, size_t length, const char* language) {
  size_t i = 0;
  while (i < length && language[i] && (tag[i] | 0x20) == (language[i] | 0x20)) ++i;
  if (i == length && !language[i]) return 3;
  return i == 2 && length == 2 && language[2] == '-' ? 2 : 0;
}

}  // namespace

bool ParseVersionNumbers(const char* text, uint16_t numbers[4]) {
  for (int i = 0; i < 4; ++i) numbers[i] = 0;
  for (int i = 0;; ++i) {
    if (i == 4 || *text < '0' || *text > '9') return false;
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
      value = value * 10 + static_cast<uint32_t>(*text - '0');
      if (value > 0xFFFF) return false;
    }
    numbers[i] = static_cast<uint16_t>(value);
    if (*text == 0) return true;
    if (*text++ != '.') return false;
  }
}

KnownFolder FolderPrefix(const char* folder, size_t* length) {
  static constexpr const char* kNames[] = {"{localappdata}", "{programfiles}", "{documents}", "{desktop}", "{temp}"};
  for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
    const size_t n = strlen(kNames[i]);
    if (strlen(folder) >= n && memcmp(folder, kNames[i], n) == 0) {
      *length = n;
      return static_cast<KnownFolder>(i);
    }
  }
  *length = 0;
  return KnownFolder::kNone;
}

const char* ConfigKeyName(ConfigKey key) { return key < kConfigKeyCount ? kKeys[key].name : ""; }

uint32_t ConfigKeyLimit(ConfigKey key) { return key < kConfigKeyCount ? kKeys[key].limit : 0; }

bool IsTextKey(ConfigKey key) { return key < kConfigKeyCount && kKeys[key].text; }

ConfigResult ParseStubConfig(char* text, size_t size, StubConfig* out, const char* language) {
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
  uint8_t best[kConfigKeyCount] = {};  // the rank of the text taken for each key
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
    // "key[tag]": the key's text in a language.
    char* name_end = key_end;
    char* tag = nullptr;
    if (key_end[-1] == ']') {
      tag = static_cast<char*>(memchr(begin, '[', static_cast<size_t>(key_end - begin)));
      if (tag) name_end = tag++;
    }
    const size_t tag_length = tag ? static_cast<size_t>(key_end - 1 - tag) : 0;
    ConfigKey key = kConfigKeyCount;
    for (int k = 0; k < kConfigKeyCount; ++k) {
      if (strlen(kKeys[k].name) == static_cast<size_t>(name_end - begin) &&
          memcmp(kKeys[k].name, begin, static_cast<size_t>(name_end - begin)) == 0) {
        key = static_cast<ConfigKey>(k);
      }
    }
    // A key with a language is named as written.
    result.word = tag ? begin : nullptr;
    result.word_length = static_cast<uint32_t>(key_end - begin);
    if (key == kConfigKeyCount) {
      uint32_t ignored;
      result.problem = CheckText(begin, key_end, &ignored);
      if (result.ok()) {
        result.problem = ConfigProblem::kUnknownKey;
        result.word = begin;
      }
      return result;
    }
    result.key = key;
    uint8_t rank = 1;  // the default text
    if (tag) {
      if (!kKeys[key].text) result.problem = ConfigProblem::kLanguageOnKey;
      if (!IsTagForm(tag, tag_length)) result.problem = ConfigProblem::kBadLanguage;
      if (!result.ok()) return result;
      rank = TagRank(tag, tag_length, language);
    } else {
      if (seen[key] && key != kKeyItem) {
        result.problem = ConfigProblem::kDuplicateKey;
        return result;
      }
      seen[key] = true;
    }
    char* value = equals + 1;
    Trim(&value, &stop);
    const char* kept = out->text[key];
    result.problem = CheckValue(key, value, stop, out, &result);
    if (!result.ok()) return result;
    // Per key the best match: the run's exact language, its primary one, the default.
    if (rank <= best[key]) out->text[key] = kept;
    if (rank > best[key]) best[key] = rank;
  }
  result = ConfigResult();
  return result;
}

// The messages below name these limits.
static_assert(kConfigTextLimit == 16384 && kConfigMaxItems == 16, "DescribeConfigProblem names the limits");

const char* DescribeConfigProblem(const ConfigResult& result) {
  static constexpr const char* kBadNames[][6] = {VEK_NAME_RULE_TEXTS(""), VEK_NAME_RULE_TEXTS("TARGET: "),
                                                 VEK_NAME_RULE_TEXTS("NAME: ")};
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
      if (!item) return "the value is too long";
      return result.field == ConfigField::kTarget ? "TARGET is too long" : "NAME is too long";
    case ConfigProblem::kItemWithoutComma: return "an item is TARGET,NAME: the comma is missing";
    case ConfigProblem::kTooManyItems: return "more than 16 items";
    case ConfigProblem::kTargetLeaves:
      return "TARGET must stay inside the destination: a relative path without a drive, \".\" or \"..\"";
    case ConfigProblem::kBadName:
      return kBadNames[static_cast<size_t>(result.field)][static_cast<size_t>(result.name_rule)];
    case ConfigProblem::kBadCharacter:
      if (result.key == kKeyFolder) return "a comma, which would split the items' command lines";
      return "a character that splits an item line or a Program Manager command (, ( ) [ ])";
    case ConfigProblem::kFolderNotAbsolute:
      return "the folder must be a full path such as C:\\Name or {localappdata}\\Programs\\Name, without \".\" or "
             "\"..\" or empty parts";
    case ConfigProblem::kUnknownFolder:
      return "a folder by name is {localappdata}, {programfiles}, {documents}, {desktop} or {temp}";
    case ConfigProblem::kBadVersion:
      return "the version must be one to four numbers from 0 to 65535 separated by dots, such as 2.1.0";
    case ConfigProblem::kNotYesNo: return "the value must be yes or no";
    case ConfigProblem::kLanguageOnKey: return "only a text of the window or a message takes a language";
    case ConfigProblem::kOpenQuote: return "the program's closing double quote is missing";
    case ConfigProblem::kBadLanguage: return "a language is two letters, or two, \"-\" and a region's two (de, de-AT)";
  }
  return "";
}

}  // namespace vek
