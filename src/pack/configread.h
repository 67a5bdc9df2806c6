// The publisher's configuration file as vekpack reads it. The block's reader
// (stubconfig.h), which the stub shares, takes the canonical form that vekpack writes
// and no more; vekpack forgives what a person writes (yes/no in any letter case, a
// value in double quotes), refuses what would mislead (an invisible or
// direction-changing character), points at the key meant by a misspelt one, and reads
// the keys that set only the executable's resources and never reach the block.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "stubconfig.h"

namespace vek::build {

// The keys that vekpack alone reads: the version resource's further strings and the
// manifest's execution level.
enum ToolKey : uint8_t {
  kToolOriginalFilename,
  kToolInternalName,
  kToolComments,
  kToolElevation,  // "admin" or "user"
  kToolKeyCount,
};

const char* ToolKeyName(ToolKey key);
uint32_t ToolKeyLimit(ToolKey key);

// A text key's value for one language ("caption[de] = ..."), tag in canonical form
// ("de", "de-AT").
struct Translation {
  ConfigKey key;
  std::string tag;
  std::string text;
  uint32_t line;
};

// The file as read: the parsed configuration (pointing into `text`), where each key
// was given, the texts per language and the values of vekpack's own keys.
struct PublisherFile {
  PublisherFile() = default;
  PublisherFile(const PublisherFile&) = delete;
  PublisherFile& operator=(const PublisherFile&) = delete;

  std::string text;  // the lines the block's reader took, in its form
  StubConfig config;
  uint32_t line[kConfigKeyCount] = {};  // 1-based; 0: not given (item: its first)
  std::vector<uint32_t> item_lines;     // of config.items, in order
  std::vector<Translation> translations;  // in the file's order
  std::string tool[kToolKeyCount];      // vekpack's own keys' values (lower case: elevation)
  uint32_t tool_line[kToolKeyCount] = {};
};

// Reads the text of a configuration file into *out. Throws BuildError
// "SHOWN:LINE: KEY: PROBLEM" for the file's first problem; `warn` (when set) gets
// the warnings ("SHOWN:LINE: KEY: ...") of what was taken in a form of its own.
void ReadPublisherFile(const std::string& text, const std::string& shown,
                       const std::function<void(const std::string&)>& warn, PublisherFile* out);

// The canonical form of a language tag that Windows has a locale for: a two-letter
// language in lower case ("de"), optionally "-" and a region's two letters in upper
// case ("de-AT"); the tag in any letter case. Empty when it is none.
std::string CanonicalLanguage(const std::string& tag);

// The known key nearest to `word` (by edit distance, letter case aside) when it is
// close enough to be the one meant; empty otherwise.
std::string NearestKey(const std::string& word);

}  // namespace vek::build
