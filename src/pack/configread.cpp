#include "configread.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <utility>

#include "archivesink.h"
#include "configtext.h"
#include "cp1250.h"
#include "winpath.h"

namespace vek::build {
namespace {

struct ToolKeyInfo {
  const char* name;
  uint16_t limit;  // characters
  bool file_name;  // a name Windows takes as written
};

// The version resource's strings: a file's name, and a line of Explorer's Details.
constexpr ToolKeyInfo kToolKeys[kToolKeyCount] = {
    {"original-filename", 60, true},
    {"internal-name", 60, true},
    {"comments", 200, false},
    {"elevation", 5, false},
};

// The two-letter languages that Windows has locales for (ISO 639-1).
constexpr char kLanguages[] =
    " af am ar as az ba be bg bn bo br bs ca co cs cy da de dv el en es et eu fa ff fi fo fr fy ga gd gl gn gu"
    " ha he hi hr hu hy id ig ii is it iu ja ka kk kl km kn ko kr ks ku ky la lb lo lt lv mg mi mk ml mn mr ms mt"
    " my nb ne nl nn no nr oc om or pa pl ps pt qu rm ro ru rw sa sd se si sk sl so sq sr ss st sv sw ta te tg th"
    " ti tk tn tr ts tt ug uk ur uz ve vi wo xh yi yo zh zu ";

// The text keys, for the refusal of a language on another key.
std::string TextKeys() {
  std::string names;
  for (int k = 0; k < kConfigKeyCount; ++k) {
    if (!IsTextKey(static_cast<ConfigKey>(k))) continue;
    names += (names.empty() ? "" : ", ") + std::string(ConfigKeyName(static_cast<ConfigKey>(k)));
  }
  return names;
}

// A key whose value is one of two words, taken in any letter case and written in
// lower case.
struct Choice {
  const char* key;
  const char* first;
  const char* second;
};
constexpr Choice kChoices[] = {{"uninstall", "yes", "no"}, {"confirm", "yes", "no"}, {"elevation", "admin", "user"}};

// Characters a reader cannot see, or that turn the text that follows them around:
// the byte-order mark (zero-width no-break space), zero-width spaces and joiners,
// the marks, embeddings and overrides of direction, the isolates.
bool Invisible(uint32_t c) {
  return c == 0xFEFF || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string CodePoint(uint32_t c) {
  char text[16];
  snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void Trim(const char** begin, const char** end) {
  while (*begin < *end && IsBlank(**begin)) ++*begin;
  while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

std::string Lower(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  return text;
}

// The edit distance of a and b: insertions, deletions, substitutions and swaps of
// neighbours each count one.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

int FindStubKey(const std::string& word) {
  for (int k = 0; k < kConfigKeyCount; ++k) {
    if (word == ConfigKeyName(static_cast<ConfigKey>(k))) return k;
  }
  return -1;
}

int FindToolKey(const std::string& word) {
  for (int k = 0; k < kToolKeyCount; ++k) {
    if (word == kToolKeys[k].name) return k;
  }
  return -1;
}

// Checks a value of one of vekpack's own keys; empty when it is fine.
std::string ToolValueProblem(ToolKey key, const std::string& value) {
  uint32_t characters = 0;
  const char* end = value.data() + value.size();
  for (const char* p = value.data(); p < end; ++characters) {
    const uint32_t c = DecodeUtf8(&p, end);
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return "a control character (such as a tab) in the line";
  }
  if (characters == 0) return "the value must not be empty";
  if (characters > kToolKeys[key].limit) {
    return "the value is too long (" + std::to_string(characters) + " characters; at most " +
           std::to_string(kToolKeys[key].limit) + ")";
  }
  if (kToolKeys[key].file_name) {
    const NameRule rule = CheckWindowsName(value.data(), value.size(), NameEncoding::kUtf8);
    if (rule != NameRule::kFine) return DescribeNameRule(rule);
  }
  return "";
}

}  // namespace

std::string CanonicalLanguage(const std::string& tag) {
  if (tag.size() != 2 && (tag.size() != 5 || tag[2] != '-')) return "";
  std::string canonical = Lower(tag);
  for (size_t i = 0; i < canonical.size(); ++i) {
    if (i == 2) continue;
    if (canonical[i] < 'a' || canonical[i] > 'z') return "";
    if (i > 2) canonical[i] = static_cast<char>(canonical[i] - 32);
  }
  if (!strstr(kLanguages, (" " + canonical.substr(0, 2) + " ").c_str())) return "";
  return canonical;
}

const char* ToolKeyName(ToolKey key) { return key < kToolKeyCount ? kToolKeys[key].name : ""; }

uint32_t ToolKeyLimit(ToolKey key) { return key < kToolKeyCount ? kToolKeys[key].limit : 0; }

std::string NearestKey(const std::string& word) {
  const std::string lower = Lower(word);
  std::string best;
  size_t best_distance = 0;
  auto consider = [&](const char* name) {
    const size_t distance = Distance(lower, name);
    if (best.empty() || distance < best_distance) {
      best = name;
      best_distance = distance;
    }
  };
  for (int k = 0; k < kConfigKeyCount; ++k) consider(ConfigKeyName(static_cast<ConfigKey>(k)));
  for (int k = 0; k < kToolKeyCount; ++k) consider(kToolKeys[k].name);
  // One slip in a short key, two in a longer one: more is a different word.
  const size_t allowed = lower.size() <= 4 ? 1 : 2;
  return best_distance <= allowed && best_distance < lower.size() ? best : std::string();
}

void ReadPublisherFile(const std::string& file, const std::string& shown,
                       const std::function<void(const std::string&)>& warn, PublisherFile* out) {
  const char* const end = file.data() + file.size();
  const char* line = file.data();
  if (file.size() >= 3 && memcmp(line, "\xEF\xBB\xBF", 3) == 0) line += 3;  // a byte-order mark begins it
  out->text.clear();
  // The first problem: its line and "KEY: PROBLEM".
  uint32_t refused_line = 0;
  std::string refusal;
  std::set<std::pair<int, std::string>> translated;  // the keys and languages given
  auto refuse = [&](uint32_t at, const std::string& text) {
    refused_line = at;
    refusal = text;
  };
  for (uint32_t number = 1; line < end && !refused_line; ++number) {
    const char* newline = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(end - line)));
    const char* line_end = newline ? newline : end;
    const char* begin = line;
    const char* stop = line_end;
    if (stop > begin && stop[-1] == '\r') --stop;
    line = newline ? newline + 1 : end;
    // The block's reader gets the line as it is unless vekpack takes it otherwise.
    const std::string as_written(begin, stop);
    Trim(&begin, &stop);
    bool utf8 = true;
    for (const char* p = begin; p < stop && utf8;) utf8 = DecodeUtf8(&p, stop) != kBadUtf8;
    const char* equals = std::find(begin, stop, '=');
    if (equals == stop) equals = nullptr;
    if (begin == stop || *begin == '#' || !utf8 || !equals) {
      out->text += as_written + "\n";
      continue;
    }
    const char* key_end = equals;
    const char* value = equals + 1;
    Trim(&begin, &key_end);
    Trim(&value, &stop);
    // The key as it reads, without what cannot be seen of it.
    std::string key;
    uint32_t hidden = 0;
    bool hidden_in_key = false;
    for (const char* p = begin; p < stop;) {
      const char* at = p;
      const uint32_t c = DecodeUtf8(&p, stop);
      if (Invisible(c)) {
        if (!hidden) {
          hidden = c;
          hidden_in_key = at < key_end;
        }
      } else if (at < key_end) {
        key.append(at, p);
      }
    }
    if (hidden) {
      refuse(number, key + ": an invisible or direction-changing character (" + CodePoint(hidden) + ") in the " +
                         (hidden_in_key ? "key" : "value"));
      break;
    }
    // Not a line of a key, or a key with a control character: the block's reader says so.
    if (key.empty() || std::any_of(key.begin(), key.end(), [](char c) { return (c >= 0 && c < 0x20) || c == 0x7F; })) {
      out->text += as_written + "\n";
      continue;
    }
    // "key[tag]": a text key's value in a language.
    std::string name = key, tag;
    const size_t open = key.find('[');
    const bool translation = open != std::string::npos && key.back() == ']';
    if (translation) {
      name = key.substr(0, open);
      tag = key.substr(open + 1, key.size() - open - 2);
    }
    const int stub_key = FindStubKey(name);
    const int tool_key = FindToolKey(name);
    if (stub_key < 0 && tool_key < 0) {
      const std::string nearest = NearestKey(name);
      refuse(number, key + ": unknown key" + (nearest.empty() ? "" : " (did you mean \"" + nearest + "\"?)"));
      break;
    }
    if (translation) {
      if (stub_key < 0 || !IsTextKey(static_cast<ConfigKey>(stub_key))) {
        refuse(number, key + ": " + name + " takes no language; the texts that do: " + TextKeys());
        break;
      }
      const std::string canonical = CanonicalLanguage(tag);
      if (canonical.empty()) {
        refuse(number, key + ": unknown language \"" + tag +
                           "\" (a language's two letters, optionally with a region's: de, de-AT, pt-BR)");
        break;
      }
      if (!translated.insert({stub_key, canonical}).second) {
        refuse(number, key + ": the key is given twice for language " + canonical);
        break;
      }
      tag = canonical;
    }
    std::string text(value, stop);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"' && text.find('"', 1) == text.size() - 1) {
      text = text.substr(1, text.size() - 2);
      const char* inner = text.data();
      const char* inner_end = inner + text.size();
      Trim(&inner, &inner_end);
      text = std::string(inner, inner_end);
      if (warn) {
        warn(shown + ":" + std::to_string(number) + ": " + key +
             ": the double quotes around the value were taken off (a value needs none)");
      }
    }
    for (const Choice& choice : kChoices) {
      if (key != choice.key || text.empty()) continue;
      const std::string lower = Lower(text);
      if (lower != choice.first && lower != choice.second) {
        refuse(number, key + ": \"" + text + "\" is not " + choice.first + " or " + choice.second);
        break;
      }
      text = lower;
    }
    if (refused_line) break;
    if (translation) {
      out->translations.push_back({static_cast<ConfigKey>(stub_key), tag, text, number});
      out->text += name + "[" + tag + "]=" + text + "\n";
      continue;
    }
    if (stub_key >= 0) {
      if (!out->line[stub_key]) out->line[stub_key] = number;
      if (stub_key == kKeyItem) out->item_lines.push_back(number);
      out->text += key + "=" + text + "\n";
      continue;
    }
    const ToolKey tool = static_cast<ToolKey>(tool_key);
    std::string problem = out->tool_line[tool] ? "the key is given twice" : ToolValueProblem(tool, text);
    if (!problem.empty()) {
      refuse(number, key + ": " + problem);
      break;
    }
    out->tool[tool] = text;
    out->tool_line[tool] = number;
    out->text += "\n";  // the block never holds it; the line stays to be counted
  }
  // The block's reader has the lines before a refusal: a problem it finds there comes first.
  ConfigResult result = ParseStubConfig(out->text.data(), out->text.size(), &out->config);
  if (!result.ok()) throw BuildError(tools::DescribeConfigResult(shown, result));
  if (refused_line) throw BuildError(shown + ":" + std::to_string(refused_line) + ": " + refusal);
}

}  // namespace vek::build
