#include "versioninfo.h"

#include <string.h>

#include "casefold.h"
#include "cp1250.h"
#include "layout.h"

namespace vek::tools {
namespace {

// The PE headers, as far as the resource table.
constexpr size_t kNewHeaderOffset = 0x3C;  // where the DOS header keeps the PE header's offset
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionCountOffset = 2;
constexpr size_t kOptionalHeaderSizeOffset = 16;
constexpr uint16_t kPe32Magic = 0x10B, kPe32PlusMagic = 0x20B;
constexpr size_t kPe32DirectoriesOffset = 96, kPe32PlusDirectoriesOffset = 112;
constexpr size_t kDirectorySize = 8;
constexpr uint32_t kResourceDirectory = 2;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSectionAddressOffset = 12;
constexpr size_t kSectionRawSizeOffset = 16;
constexpr size_t kSectionRawPointerOffset = 20;

// The resource directory: a header, then entries of id and offset; an offset with its
// high bit set leads to the directory of the next level, else to a data entry (the
// data's address and size).
constexpr size_t kResourceHeaderSize = 16;
constexpr size_t kNamedCountOffset = 12, kIdCountOffset = 14;
constexpr size_t kResourceEntrySize = 8;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr uint16_t kVersionType = 16, kVersionId = 1;

// The version resource: blocks of length, value length, type (1: the value is text,
// counted in UTF-16 units), a zero-terminated UTF-16 key, the value and the children,
// each of the last three beginning on a 4-byte boundary.
constexpr size_t kBlockHeaderSize = 6;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedSize = 52;
constexpr size_t kFixedFileVersionOffset = 8, kFixedProductVersionOffset = 16;

size_t Align4(size_t at) { return (at + 3) & ~size_t{3}; }

struct Image {
  const unsigned char* bytes;
  size_t size;
  size_t sections = 0;  // the section table's offset
  uint16_t section_count = 0;

  bool Has(size_t at, size_t count) const { return at <= size && count <= size - at; }

  // The file offset of the address rva with count bytes there; 0 when no section's
  // data holds them.
  size_t Offset(uint32_t rva, size_t count) const {
    for (uint16_t i = 0; i < section_count; ++i) {
      const unsigned char* header = bytes + sections + size_t{i} * kSectionHeaderSize;
      const uint32_t address = LoadU32(header + kSectionAddressOffset);
      const uint32_t raw = LoadU32(header + kSectionRawSizeOffset);
      if (rva < address || rva - address >= raw || count > raw - (rva - address)) continue;
      const size_t at = size_t{LoadU32(header + kSectionRawPointerOffset)} + (rva - address);
      return Has(at, count) ? at : 0;
    }
    return 0;
  }
};

// The offset (from the directory's start) that the entry with `id` of the directory
// at `table` leads to (any id when `any`); nullopt when it has none.
std::optional<uint32_t> FindEntry(const Image& image, size_t base, uint32_t table, uint16_t id, bool any) {
  const size_t at = base + table;
  if (!image.Has(at, kResourceHeaderSize)) return std::nullopt;
  const size_t count = size_t{LoadU16(image.bytes + at + kNamedCountOffset)} + LoadU16(image.bytes + at + kIdCountOffset);
  if (!image.Has(at + kResourceHeaderSize, count * kResourceEntrySize)) return std::nullopt;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* entry = image.bytes + at + kResourceHeaderSize + i * kResourceEntrySize;
    if (any || LoadU32(entry) == id) return LoadU32(entry + 4);
  }
  return std::nullopt;
}

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

}  // namespace

std::optional<ResourcePlace> FindVersionResource(const unsigned char* bytes, size_t size) {
  Image image{bytes, size};
  if (!image.Has(0, kNewHeaderOffset + 4) || bytes[0] != 'M' || bytes[1] != 'Z') return std::nullopt;
  const size_t pe = LoadU32(bytes + kNewHeaderOffset);
  if (!image.Has(pe, 4 + kFileHeaderSize + 2) || memcmp(bytes + pe, "PE\0\0", 4) != 0) return std::nullopt;
  const unsigned char* file_header = bytes + pe + 4;
  const size_t optional = pe + 4 + kFileHeaderSize;
  const uint16_t magic = LoadU16(bytes + optional);
  const size_t directories = magic == kPe32PlusMagic ? kPe32PlusDirectoriesOffset
                             : magic == kPe32Magic   ? kPe32DirectoriesOffset
                                                     : 0;
  const size_t optional_size = LoadU16(file_header + kOptionalHeaderSizeOffset);
  image.sections = optional + optional_size;
  image.section_count = LoadU16(file_header + kSectionCountOffset);
  if (directories == 0 || optional_size < directories + (kResourceDirectory + 1) * kDirectorySize ||
      !image.Has(image.sections, size_t{image.section_count} * kSectionHeaderSize) ||
      LoadU32(bytes + optional + directories - 4) <= kResourceDirectory) {
    return std::nullopt;
  }
  const uint32_t rva = LoadU32(bytes + optional + directories + kResourceDirectory * kDirectorySize);
  const size_t base = image.Offset(rva, kResourceHeaderSize);
  if (rva == 0 || base == 0) return std::nullopt;
  // Type, id, language: two directories, then the data entry.
  std::optional<uint32_t> next = FindEntry(image, base, 0, kVersionType, false);
  if (!next || !(*next & kSubdirectoryBit)) return std::nullopt;
  next = FindEntry(image, base, *next & ~kSubdirectoryBit, kVersionId, false);
  if (!next || !(*next & kSubdirectoryBit)) return std::nullopt;
  next = FindEntry(image, base, *next & ~kSubdirectoryBit, 0, true);
  if (!next || (*next & kSubdirectoryBit) || !image.Has(base + *next, 8)) return std::nullopt;
  const uint32_t data_rva = LoadU32(bytes + base + *next), data_size = LoadU32(bytes + base + *next + 4);
  const size_t at = image.Offset(data_rva, data_size);
  if (at == 0 || data_size == 0) return std::nullopt;
  return ResourcePlace{static_cast<uint32_t>(at), data_size};
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
  for (const Block& s : strings) out->strings.emplace_back(s.key, Utf16(data + s.value, s.value_length));
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
        std::vector<uint16_t> units(room + 1);
        const size_t length = Utf8ToUtf16(text.c_str(), units.data(), units.size());
        if (length >= room) {
          return "its version resource has room for " + std::to_string(room - 1) + " UTF-16 units of " + key + ", not " +
                 std::to_string(length);
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
