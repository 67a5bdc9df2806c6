// A publisher's configuration of the stub: its texts, proposed folder, Start-menu
// group and items, set when the executable is packed.
//
// The configuration is UTF-8 text of "key = value" lines; blank lines and lines whose
// first non-blank character is "#" are ignored; blanks around key and value are
// dropped. Every key may be given once, except "item", which may repeat:
//
//   caption prompt folder footer group done folder-error group-error
//   extract-button quit-button damaged rights-error run-error
//   caption[de] = ...       a text key (IsTextKey) for a language: see ParseStubConfig
//   item = TARGET,NAME      TARGET relative to the destination, NAME the item's name
//   open = TARGET           what the stub opens after the closing message (not with /S)
//   run = PROGRAM [ARGUMENTS]   what the stub starts once the files are there, in
//                           their folder, and waits for: its exit code is the
//                           installer's. PROGRAM is a TARGET, in double quotes when
//                           it holds a blank; the ARGUMENTS go to it as written
//   confirm = yes|no        with folder = {temp}: yes shows the window before the
//                           files are extracted; no (the default) extracts at once
//   publisher version copyright product   the executable's version information,
//                           which vekpack writes into its version resource (version:
//                           up to four numbers 0..65535 separated by dots)
//   icon = FILE.ico         the executable's icon, which vekpack puts into its
//                           resources (never into the block: the stub has no use for it)
//   uninstall = yes|no      yes: a completed install writes uninstall.exe into the
//                           destination and registers it in Apps & Features
//   id = NAME               that entry's key, the same for every version of a product
//                           (vekpack writes it with uninstall = yes, from product when
//                           the file has none; the stub's own fallback is product,
//                           else group)
//
// vekpack reads a publisher's file more kindly (src/pack/configread.h) and writes the
// form this parser takes; the keys it reads alone (original-filename, internal-name,
// comments, elevation) never reach the block.
//
// vekpack checks a publisher's file with this parser and writes it, as the
// configuration block, between the stub and the archive: kConfigMagic followed by the
// text. The stub parses the block again with the same code. Nothing here allocates.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "winpath.h"

namespace vek {

inline constexpr char kConfigMagic[8] = {'V', 'E', 'K', '-', 'C', 'F', 'G', '1'};
inline constexpr size_t kConfigMagicSize = sizeof kConfigMagic;
// The largest configuration text, in bytes.
inline constexpr size_t kConfigTextLimit = 16384;
inline constexpr int kConfigMaxItems = 16;
// The most characters of an item's TARGET and of open's; an item's NAME has the limit
// of "item".
inline constexpr uint32_t kConfigTargetLimit = 100;

enum ConfigKey : uint8_t {
  kKeyCaption,
  kKeyPrompt,
  kKeyFolder,
  kKeyFooter,
  kKeyGroup,
  kKeyItem,
  kKeyDone,
  kKeyFolderError,
  kKeyGroupError,
  kKeyExtractButton,
  kKeyQuitButton,
  kKeyDamaged,      // the report of a damaged installer
  kKeyRightsError,  // the message for a folder the user may not write
  kKeyRunError,     // the message for a program of "run" that could not be started
  kKeyPublisher,
  kKeyVersion,
  kKeyCopyright,
  kKeyProduct,
  kKeyOpen,
  kKeyIcon,
  kKeyUninstall,  // "yes": register in Apps & Features and write an uninstaller
  kKeyId,         // the Apps & Features entry's key (default: the product's name)
  kKeyRun,        // the program started once the files are there, and waited for
  kKeyConfirm,    // "yes": with folder {temp}, the window asks before it extracts
  kConfigKeyCount,
};

// The folders that a configured folder may begin with, by name in braces
// ("{localappdata}\Programs\Acme"): the stub asks the system where each one is.
// localappdata, documents and desktop are the user's own.
// {temp} is a new folder of the run's own below the user's temporary folder, removed
// with everything in it once the program of "run" has ended.
enum class KnownFolder : uint8_t { kLocalAppData, kProgramFiles, kDocuments, kDesktop, kTemp, kNone };

// The known folder that `folder` begins with ("{name}"), with *length the length of
// "{name}"; kNone and 0 when it begins with none of them.
KnownFolder FolderPrefix(const char* folder, size_t* length);

// The key's name as written in the file.
const char* ConfigKeyName(ConfigKey key);

// The most characters the key's value may hold.
uint32_t ConfigKeyLimit(ConfigKey key);

struct ConfigItem {
  const char* target;  // relative path below the destination, "\" or "/" separated
  const char* name;
};

struct StubConfig {
  // Each given key's value (zero-terminated UTF-8 inside the parsed text); nullptr for
  // a key left out. text[kKeyItem] stays nullptr: items are in `items`.
  const char* text[kConfigKeyCount] = {};
  ConfigItem items[kConfigMaxItems] = {};
  int item_count = 0;
  // "run = PROGRAM ARGUMENTS": text[kKeyRun] is PROGRAM alone (its quotes dropped),
  // these the ARGUMENTS as written ("" for none).
  const char* run_arguments = nullptr;
};

enum class ConfigProblem : uint8_t {
  kNone,
  kTooLarge,          // more than kConfigTextLimit bytes
  kBadUtf8,           // not UTF-8
  kControlCharacter,  // a control character (a tab inside a value, a lone CR, ...)
  kMalformed,         // no "=", or nothing before it
  kUnknownKey,
  kDuplicateKey,
  kEmpty,    // a value (or an item's TARGET or NAME) that must not be empty
  kTooLong,  // more characters than the key's limit
  kItemWithoutComma,
  kTooManyItems,
  kTargetLeaves,       // absolute, with a drive, or through ".." or "."
  kBadName,            // a name Windows would not take as written (ConfigResult::name_rule)
  kBadCharacter,       // a character that splits an item line or a Program Manager command
  kFolderNotAbsolute,  // folder is not "X:\..." or "{name}\..."
  kUnknownFolder,      // folder begins with "{" but no known folder's name
  kBadVersion,         // version is not up to four numbers 0..65535 separated by dots
  kNotYesNo,           // uninstall or confirm is neither "yes" nor "no"
  kLanguageOnKey,      // "key[tag]" for a key that is not a text (IsTextKey)
  kBadLanguage,        // "key[tag]" whose tag is not of the form "ll" or "ll-RR"
  kOpenQuote,          // run's PROGRAM in double quotes without the closing one
};

// Which part of an "item = TARGET,NAME" line a problem concerns.
enum class ConfigField : uint8_t { kValue, kTarget, kName };

// The group and an item's NAME are each one name; an item's TARGET and the folder
// after its drive are names separated by "\" (TARGET also "/"). Every one of them is
// judged by the Windows name rules (winpath.h), in UTF-8.
struct ConfigResult {
  ConfigProblem problem = ConfigProblem::kNone;
  uint32_t line = 0;                // 1-based; 0 for the whole text
  ConfigKey key = kConfigKeyCount;  // the key of that line, when known
  ConfigField field = ConfigField::kValue;
  NameRule name_rule = NameRule::kFine;  // the rule a kBadName breaks
  uint32_t characters = 0;               // kTooLong: the value's (or field's) characters
  uint32_t limit = 0;                    // kTooLong: its limit
  const char* word = nullptr;            // the key as written (word_length bytes): unknown, or "key[tag]"
  uint32_t word_length = 0;
  bool ok() const { return problem == ConfigProblem::kNone; }
};

// Parses size bytes of text, which must be followed by a zero byte. The text is
// changed in place: each value is cut out as a zero-terminated string, and `out`
// points into the text. On a problem, `out` holds what came before it.
//
// A text key may also be given per language, "caption[de] = ...": the tag is two
// letters or two, "-" and two ("de-AT"), in any letter case. With a `language`
// ("de-AT"), each text key takes the value given for that tag, else the one for its
// primary language ("de"), else its default; with none (""), only the defaults.
// Every line is checked either way; a text per language repeated is vekpack's to
// refuse (src/pack/configread.h).
ConfigResult ParseStubConfig(char* text, size_t size, StubConfig* out, const char* language = "");

// Whether the key is a text of the window or of a message box, which may be given
// per language.
bool IsTextKey(ConfigKey key);

// The numbers of a version such as "2.1" (then 2, 1, 0, 0); false unless it is one to
// four numbers 0..65535 separated by dots.
bool ParseVersionNumbers(const char* text, uint16_t numbers[4]);

// The problem in words, for the key concerned ("item" problems name TARGET or NAME).
const char* DescribeConfigProblem(const ConfigResult& result);

}  // namespace vek
