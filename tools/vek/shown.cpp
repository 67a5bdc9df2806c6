#include "shown.h"

#include <stdio.h>

#include <utility>
#include <vector>

#include "cp1250.h"
#include "nativetext.h"

namespace vek::tools {

std::string PrintablePath(const char* bytes, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += Cp1250ToNative(&bytes[i], 1);
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
  if (raw.size() > kShownPathLimit) raw = raw.substr(raw.size() - kShownPathLimit);
  std::string shown = PrintablePath(raw.data(), raw.size());
  return whole && raw.size() == bytes ? shown : "..." + shown;
}

std::string EntryLabel(const ArchiveReader& reader, int32_t id) {
  return "entry " + std::to_string(id) + " (" + ShownPath(reader, id) + ")";
}

std::string PrintableText(const char* text, size_t length) {
  std::string out;
  const char* const end = text + length;
  for (const char* p = text; p < end;) {
    const char* begin = p;
    const uint32_t c = DecodeUtf8(&p, end);
    if (c != kBadUtf8 && c >= 0x20 && c != 0x7F && (c < 0x80 || c >= 0xA0)) {
      out.append(begin, p);
      continue;
    }
    if (c == kBadUtf8) p = begin + 1;
    for (const char* q = begin; q < p; ++q) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(*q));
      out += hex;
    }
  }
  return out;
}

}  // namespace vek::tools
