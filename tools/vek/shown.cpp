#include "shown.h"

#include <stdio.h>

#include <utility>
#include <vector>

#include "cp1250.h"

namespace vek::tools {

std::string PrintableText(const char* bytes, size_t length, NameEncoding encoding) {
  std::string out;
  auto hex = [&out](unsigned char c) {
    char text[8];
    snprintf(text, sizeof text, "\\x%02X", c);
    out += text;
  };
  for (const char *p = bytes, *end = bytes + length; p < end;) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F) {
      hex(c);
      ++p;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++p;
    } else if (encoding == NameEncoding::kUtf8) {
      const char* at = p;
      const uint32_t u = DecodeUtf8(&p, end);
      if (u == kBadUtf8) {
        hex(c);
      } else if (u < 0xA0) {  // a C1 control, such as the one-byte CSI
        while (at < p) hex(static_cast<unsigned char>(*at++));
      } else {
        out.append(at, static_cast<size_t>(p - at));
      }
    } else {
      char utf8[4];
      const uint16_t u = Cp1250ToUnicode(c);
      if (u == 0) {
        hex(c);
      } else {
        out.append(utf8, Cp1250ToUtf8(p, 1, utf8, sizeof utf8));
      }
      ++p;
    }
  }
  return out;
}

std::string ShownPath(const ArchiveReader& reader, int32_t id) {
  // Collect names from the entry outward until the root, or until the budget is
  // spent (a deep or cyclic chain): then the path shows as "..." and its tail.
  constexpr size_t kMaxLevels = 64;
  std::vector<std::pair<const char*, size_t>> names;
  size_t bytes = 0;
  bool whole = false;
  int32_t at = id;
  while (names.size() < kMaxLevels && bytes <= kShownPathLimit) {
    size_t length = 0;
    const char* name = reader.GetEntryName(at, &length);
    if (!name) {
      whole = true;
      break;
    }
    names.push_back({name, length});
    bytes += 1 + length;
    uint16_t parent = reader.GetEntryParentId(at);
    bool root = parent == 0 || reader.GetEntryKind(parent) == kEntryKindNotFound;
    if (root || reader.GetEntryCount() <= names.size()) {
      whole = root;
      break;
    }
    at = parent;
  }
  if (!whole && names.empty()) return "";
  std::string raw;
  for (size_t i = names.size(); i-- > 0;) {
    raw += '\\';
    raw.append(names[i].first, names[i].second);
  }
  const NameEncoding encoding = reader.name_encoding();
  if (raw.size() > kShownPathLimit) {
    size_t cut = raw.size() - kShownPathLimit;
    // Not inside a UTF-8 character.
    while (encoding == NameEncoding::kUtf8 && cut < raw.size() &&
           (static_cast<unsigned char>(raw[cut]) & 0xC0) == 0x80) {
      ++cut;
    }
    raw = raw.substr(cut);
  }
  std::string shown = PrintableText(raw.data(), raw.size(), encoding);
  return whole && raw.size() == bytes ? shown : "..." + shown;
}

std::string EntryLabel(const ArchiveReader& reader, int32_t id) {
  return "entry " + std::to_string(id) + " (" + ShownPath(reader, id) + ")";
}

}  // namespace vek::tools
