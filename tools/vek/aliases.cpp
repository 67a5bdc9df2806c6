// vek test: names that can be the short (8.3) name Windows gives another entry of
// their folder. On a volume that makes short names, "LongFolderName" is also
// "LONGFO~1" (Wine: "LONG~NYX"); an entry of that name is written over the first.
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "shown.h"

namespace vek::tools {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool Alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }
bool Hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// A character of a short name as Windows makes it from a long one: upper case, and "_"
// for what a short name cannot hold (and every byte beyond ASCII).
char ShortChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (u >= 0x80 || u < 0x20 || strchr("+,;=[]\"*/:<>?\\|", c)) return '_';
  return Upper(c);
}

// Whether Windows gives the name a short name: it is not already one (at most 8
// characters, one dot and 3 after it, nothing a short name cannot hold).
bool GetsShortName(const std::string& name) {
  const size_t dot = name.find('.');
  const size_t base = dot == std::string::npos ? name.size() : dot;
  if (base == 0 || base > 8) return true;
  if (dot != std::string::npos && (name.find('.', dot + 1) != std::string::npos || name.size() - dot - 1 > 3))
    return true;
  for (char c : name) {
    if (c == ' ' || (c != '.' && ShortChar(c) != Upper(c))) return true;
  }
  return false;
}

// The base a short name begins with, and its extension (at most 3), as Windows makes them.
void ShortParts(const std::string& name, std::string* base, std::string* ext) {
  const size_t dot = name.rfind('.');
  base->clear();
  ext->clear();
  for (size_t i = 0; i < name.size() && i < (dot == std::string::npos || dot == 0 ? name.size() : dot); ++i) {
    if (name[i] != ' ' && name[i] != '.') *base += ShortChar(name[i]);
  }
  if (dot == std::string::npos || dot == 0) return;
  for (size_t i = dot + 1; i < name.size() && ext->size() < 3; ++i) {
    if (name[i] != ' ') *ext += ShortChar(name[i]);
  }
}

// "PREFIX~TAIL.EXT" with at most 8 before the dot and 3 after: the prefix and extension.
bool AliasForm(const std::string& name, std::string* prefix, std::string* ext) {
  const size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  *ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  const size_t tilde = base.find('~');
  if (base.size() > 8 || ext->size() > 3 || tilde == std::string::npos || tilde == 0 || tilde + 1 == base.size()) {
    return false;
  }
  for (size_t i = tilde + 1; i < base.size(); ++i) {
    if (!Alnum(Upper(base[i]))) return false;
  }
  prefix->clear();
  for (size_t i = 0; i < tilde; ++i) *prefix += Upper(base[i]);
  for (char& c : *ext) c = Upper(c);
  return ext->find('.') == std::string::npos;
}

}  // namespace

void FindShortNameAliases(const ArchiveReader& reader, std::vector<Problem>* problems) {
  const uint32_t n = reader.GetEntryCount();
  // Long names by folder and short extension: their short bases, sorted.
  std::map<std::pair<uint16_t, std::string>, std::vector<std::pair<std::string, uint32_t>>> longs;
  struct Alias {
    uint32_t id;
    uint16_t parent;
    std::string prefix, ext;
  };
  std::vector<Alias> aliases;
  for (uint32_t id = 1; id <= n; ++id) {
    size_t length = 0;
    const char* bytes = reader.GetEntryName(static_cast<int32_t>(id), &length);
    if (!bytes) continue;
    const std::string name(bytes, length);
    const uint16_t parent = reader.GetEntryParentId(static_cast<int32_t>(id));
    Alias alias{id, parent, {}, {}};
    if (AliasForm(name, &alias.prefix, &alias.ext)) {
      aliases.push_back(std::move(alias));
    } else if (GetsShortName(name)) {
      std::string base, ext;
      ShortParts(name, &base, &ext);
      longs[{parent, ext}].push_back({base, id});
    }
  }
  for (auto& [key, names] : longs) std::sort(names.begin(), names.end());
  for (const Alias& alias : aliases) {
    auto folder = longs.find({alias.parent, alias.ext});
    if (folder == longs.end()) continue;
    const auto& names = folder->second;
    // Windows: the first six (or two and four hexadecimal digits); Wine: the first four.
    std::vector<std::string> prefixes{alias.prefix};
    if (alias.prefix.size() == 6 && std::all_of(alias.prefix.begin() + 2, alias.prefix.end(), Hex)) {
      prefixes.push_back(alias.prefix.substr(0, 2));
    }
    for (const std::string& prefix : prefixes) {
      auto at = std::lower_bound(names.begin(), names.end(), std::make_pair(prefix, uint32_t{0}));
      if (at != names.end() && at->first.compare(0, prefix.size(), prefix) == 0) {
        problems->push_back({"short name", EntryLabel(reader, static_cast<int32_t>(alias.id)) +
                                               ": can be the short (8.3) name that Windows gives " +
                                               EntryLabel(reader, static_cast<int32_t>(at->second)) +
                                               ", and be written over it"});
        break;
      }
    }
  }
}

}  // namespace vek::tools
