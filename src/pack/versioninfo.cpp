#include "versioninfo.h"

#include <string.h>

#include <algorithm>

#include "casefold.h"
#include "cp1250.h"
#include "layout.h"
#include "pefile.h"

namespace vek::tools {
namespace {

constexpr uint16_t kVersionId = 1;  // the version resource's name

// The version resource: blocks of length, value length, type (1: the value is text,
// counted in UTF-16 units), a zero-terminated UTF-16 key, the value and the children,
// each of the last three beginning on a 4-byte boundary.
constexpr size_t kBlockHeaderSize = 6;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedSize = 52;
constexpr size_t kFixedFileVersionOffset = 8, kFixedProductVersionOffset = 16;

size_t Align4(size_t at) { return (at + 3) & ~size_t{3}; }

struct Block {
  size_t begin = 0, end = 0;  // the block's bytes, as its length counts them
  uint16_t value_length = 0;
  bool text = false;
  std::string key;  // UTF-8
  size_t value = 0, value_end = 0, children = 0;
};

std::string Utf16(const unsigned char* p, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    uint32_t c = LoadU16(p + 2 * i);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
      const uint32_t low = LoadU16(p + 2 * i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(&out, c);
  }
  return out;
}

bool ReadBlock(const unsigned char* data, size_t at, size_t limit, Block* block) {
  if (at > limit || limit - at < kBlockHeaderSize) return false;
  const size_t length = LoadU16(data + at);
  if (length < kBlockHeaderSize || length > limit - at) return false;
  block->begin = at;
  block->end = at + length;
  block->value_length = LoadU16(data + at + 2);
  block->text = LoadU16(data + at + 4) == 1;
  size_t key = at + kBlockHeaderSize, zero = key;
  while (zero + 2 <= block->end && LoadU16(data + zero) != 0) zero += 2;
  if (zero + 2 > block->end) return false;
  block->key = Utf16(data + key, (zero - key) / 2);
  block->value = Align4(zero + 2);
  if (block->value > block->end) block->value = block->end;
  const size_t value_bytes = size_t{block->value_length} * (block->text ? 2 : 1);
  if (value_bytes > block->end - block->value) return false;
  block->value_end = block->value + value_bytes;
  block->children = Align4(block->value_end);
  return true;
}

// The children of a block; false when one of them is broken.
bool Children(const unsigned char* data, const Block& parent, std::vector<Block>* out) {
  out->clear();
  for (size_t at = parent.children; at < parent.end; at = Align4(out->back().end)) {
    out->emplace_back();
    if (!ReadBlock(data, at, parent.end, &out->back())) return false;
  }
  return true;
}

// The string tables: the children of the root's StringFileInfo blocks.
bool StringTables(const unsigned char* data, size_t size, Block* root, std::vector<Block>* tables) {
  std::vector<Block> children, found;
  if (!ReadBlock(data, 0, size, root) || root->key != "VS_VERSION_INFO" || root->value_end - root->value < kFixedSize ||
      LoadU32(data + root->value) != kFixedSignature || !Children(data, *root, &children)) {
    return false;
  }
  tables->clear();
  for (const Block& child : children) {
    if (child.key != "StringFileInfo") continue;
    if (!Children(data, child, &found)) return false;
    tables->insert(tables->end(), found.begin(), found.end());
  }
  return true;
}

void ReadVersion(const unsigned char* p, uint16_t out[4]) {
  out[0] = LoadU16(p + 2);
  out[1] = LoadU16(p);
  out[2] = LoadU16(p + 6);
  out[3] = LoadU16(p + 4);
}

void WriteVersion(unsigned char* p, const uint16_t numbers[4]) {
  StoreU32(p, uint32_t{numbers[0]} << 16 | numbers[1]);
  StoreU32(p + 4, uint32_t{numbers[2]} << 16 | numbers[3]);
}

void Pad4(std::string* out) { out->append(Align4(out->size()) - out->size(), '\0'); }

void AppendU16(std::string* out, uint16_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>(value >> 8));
}

// A String block of key and text, whose slot holds the text and its zero.
std::string StringBlock(const std::string& key, const std::string& text) {
  std::vector<uint16_t> units(text.size() + 1);
  const size_t length = Utf8ToUtf16(text.c_str(), units.data(), units.size());
  std::string out;
  AppendU16(&out, 0);
  AppendU16(&out, static_cast<uint16_t>(length + 1));
  AppendU16(&out, 1);
  std::vector<uint16_t> key_units(key.size() + 1);
  const size_t key_length = Utf8ToUtf16(key.c_str(), key_units.data(), key_units.size());
  for (size_t i = 0; i <= key_length; ++i) AppendU16(&out, i < key_length ? key_units[i] : 0);
  Pad4(&out);
  for (size_t i = 0; i <= length; ++i) AppendU16(&out, i < length ? units[i] : 0);
  out[0] = static_cast<char>(out.size() & 0xFF);
  out[1] = static_cast<char>(out.size() >> 8);
  return out;
}

// The block copied: below a string table (depth 3 and more) as it is, slot and all,
// except a string of `strings` whose slot is too small for its text, which becomes a
// block that fits it; above, its children copied and, in a string table (depth 2),
// the strings it lacks after them, each length counted anew.
bool CopyBlock(const unsigned char* data, const Block& block, int depth,
               const std::vector<std::pair<std::string, std::string>>& strings, std::string* out) {
  const size_t begin = out->size();
  if (depth >= 3) {
    for (const auto& string : strings) {
      if (depth != 3 || string.first != block.key) continue;
      std::string fitting = StringBlock(string.first, string.second);
      if (fitting.size() > block.end - block.begin) {
        *out += fitting;
        return true;
      }
    }
    out->append(reinterpret_cast<const char*>(data + block.begin), block.end - block.begin);
    return true;
  }
  out->append(reinterpret_cast<const char*>(data + block.begin), block.children - block.begin);
  std::vector<Block> children;
  if (!Children(data, block, &children)) return false;
  for (const Block& child : children) {
    Pad4(out);
    if (!CopyBlock(data, child, depth + 1, strings, out)) return false;
  }
  const bool table = depth == 2;
  for (const auto& string : strings) {
    const std::string& key = string.first;  // a name of its own: clang 14 captures no structured binding
    if (!table || std::any_of(children.begin(), children.end(), [&](const Block& c) { return c.key == key; })) continue;
    Pad4(out);
    *out += StringBlock(key, string.second);
  }
  const size_t length = out->size() - begin;
  if (length > 0xFFFF) return false;
  (*out)[begin] = static_cast<char>(length & 0xFF);
  (*out)[begin + 1] = static_cast<char>(length >> 8);
  return true;
}

}  // namespace

std::optional<std::string> AddVersionStrings(const unsigned char* data, size_t size,
                                             const std::vector<std::pair<std::string, std::string>>& strings) {
  Block root;
  std::vector<Block> tables;
  if (!StringTables(data, size, &root, &tables)) return std::nullopt;
  std::string out;
  // Depth 1: StringFileInfo, 2: its tables; VarFileInfo and the like are copied as they are.
  std::vector<Block> children;
  if (!Children(data, root, &children)) return std::nullopt;
  out.append(reinterpret_cast<const char*>(data + root.begin), root.children - root.begin);
  for (const Block& child : children) {
    Pad4(&out);
    if (!CopyBlock(data, child, child.key == "StringFileInfo" ? 1 : 3, strings, &out)) return std::nullopt;
  }
  if (out.size() > 0xFFFF) return std::nullopt;
  out[0] = static_cast<char>(out.size() & 0xFF);
  out[1] = static_cast<char>(out.size() >> 8);
  return out;
}

std::optional<ResourcePlace> FindVersionResource(const unsigned char* bytes, size_t size, std::string* problem) {
  std::vector<Resource> resources;
  if (!ReadResources(bytes, size, &resources, problem)) return std::nullopt;
  for (const Resource& r : resources) {
    if (r.type == ResourceId{kVersionType, {}} && r.name == ResourceId{kVersionId, {}} && !r.data.empty()) {
      return ResourcePlace{r.file_offset, static_cast<uint32_t>(r.data.size())};
    }
  }
  return std::nullopt;
}

bool ReadVersionInfo(const unsigned char* data, size_t size, VersionInfo* out) {
  Block root;
  std::vector<Block> tables, strings;
  if (!StringTables(data, size, &root, &tables)) return false;
  ReadVersion(data + root.value + kFixedFileVersionOffset, out->file_version);
  ReadVersion(data + root.value + kFixedProductVersionOffset, out->product_version);
  out->strings.clear();
  if (tables.empty()) return true;
  if (!Children(data, tables[0], &strings)) return false;
  // The value as the block bounds it: value_length counts bytes, not UTF-16 units, in
  // a block that is not text.
  for (const Block& s : strings) out->strings.emplace_back(s.key, Utf16(data + s.value, (s.value_end - s.value) / 2));
  return true;
}

std::string SetVersionInfo(unsigned char* data, size_t size, const uint16_t* numbers,
                           const std::vector<std::pair<std::string, std::string>>& strings) {
  Block root;
  std::vector<Block> tables, found;
  if (!StringTables(data, size, &root, &tables)) return "its version resource is damaged";
  if (numbers) {
    WriteVersion(data + root.value + kFixedFileVersionOffset, numbers);
    WriteVersion(data + root.value + kFixedProductVersionOffset, numbers);
  }
  for (const auto& [key, text] : strings) {
    bool set = false;
    for (const Block& table : tables) {
      if (!Children(data, table, &found)) return "its version resource is damaged";
      for (const Block& s : found) {
        if (s.key != key || !s.text) continue;
        const size_t room = (s.end - s.value) / 2;  // UTF-16 units, the zero included
        if (room == 0) return "its version resource has no room for " + key;
        std::vector<uint16_t> units(room + 1);
        const size_t length = Utf8ToUtf16(text.c_str(), units.data(), units.size());
        if (length >= room) {
          return "its version resource has room for " + std::to_string(room - 1) + " UTF-16 units of " + key +
                 ", not " + std::to_string(length);
        }
        memset(data + s.value, 0, s.end - s.value);
        for (size_t i = 0; i < length; ++i) StoreU16(data + s.value + 2 * i, units[i]);
        StoreU16(data + s.begin + 2, static_cast<uint16_t>(length + 1));
        set = true;
      }
    }
    if (!set) return "its version resource has no " + key;
  }
  return "";
}

}  // namespace vek::tools
