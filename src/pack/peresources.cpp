#include "peresources.h"

#include <string.h>

#include <algorithm>
#include <optional>

#include "layout.h"

namespace vek::tools {
namespace {

// The PE headers: the file header after "PE\0\0", the optional header after it (its
// fields at these offsets in PE32 and PE32+ alike, up to the data directories), then
// the section table.
constexpr size_t kNewHeaderOffset = 0x3C;  // where the DOS header keeps the PE header's offset
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionCountOffset = 2;
constexpr size_t kOptionalHeaderSizeOffset = 16;
constexpr uint16_t kPe32Magic = 0x10B, kPe32PlusMagic = 0x20B;
constexpr size_t kInitializedDataOffset = 8;
constexpr size_t kSectionAlignmentOffset = 32, kFileAlignmentOffset = 36;
constexpr size_t kImageSizeOffset = 56, kHeadersSizeOffset = 60;
constexpr size_t kPe32DirectoriesOffset = 96, kPe32PlusDirectoriesOffset = 112;
constexpr size_t kDirectorySize = 8;
constexpr uint32_t kResourceDirectory = 2;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSectionNameSize = 8;
constexpr size_t kSectionVirtualSizeOffset = 8, kSectionAddressOffset = 12;
constexpr size_t kSectionRawSizeOffset = 16, kSectionRawPointerOffset = 20, kSectionFlagsOffset = 36;
constexpr uint32_t kResourceSectionFlags = 0x40000040;  // initialised data, readable
constexpr char kResourceSection[] = ".rsrc", kOldResourceSection[] = ".rsrc0";

// The resource table: directories of a header and entries (id or name, then what
// the entry leads to), names as a length and UTF-16 units, leaves as data entries.
constexpr size_t kResourceHeaderSize = 16;
constexpr size_t kNamedCountOffset = 12, kIdCountOffset = 14;
constexpr size_t kResourceEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr size_t kDataCodePageOffset = 8;
constexpr uint32_t kHighBit = 0x80000000u;  // a name's offset, or a directory's, not a number or a leaf
constexpr size_t kLevels = 3;               // type, name, language
constexpr size_t kDataAlignment = 8;
// More resources than any executable carries: a table whose directories lead to the
// same ones again and again stops here.
constexpr size_t kResourceLimit = 1 << 14;

size_t AlignUp(size_t at, size_t alignment) { return (at + alignment - 1) / alignment * alignment; }

struct Headers {
  const unsigned char* bytes = nullptr;
  size_t size = 0;
  size_t optional = 0;     // the optional header's offset
  size_t sections = 0;     // the section table's
  uint16_t section_count = 0;
  size_t directories = 0;  // the data directories'
  uint32_t directory_count = 0;

  bool Has(size_t at, size_t count) const { return at <= size && count <= size - at; }
  const unsigned char* Section(uint16_t i) const { return bytes + sections + size_t{i} * kSectionHeaderSize; }

  // The file offset of the address rva with count bytes there; nullopt when no
  // section's data holds them.
  std::optional<size_t> Offset(uint32_t rva, size_t count) const {
    for (uint16_t i = 0; i < section_count; ++i) {
      const uint32_t address = LoadU32(Section(i) + kSectionAddressOffset);
      const uint32_t raw = LoadU32(Section(i) + kSectionRawSizeOffset);
      if (rva < address || rva - address >= raw || count > raw - (rva - address)) continue;
      const size_t at = size_t{LoadU32(Section(i) + kSectionRawPointerOffset)} + (rva - address);
      if (Has(at, count)) return at;
    }
    return std::nullopt;
  }
};

std::optional<Headers> ReadHeaders(const unsigned char* bytes, size_t size) {
  Headers h{bytes, size};
  if (!h.Has(0, kNewHeaderOffset + 4) || bytes[0] != 'M' || bytes[1] != 'Z') return std::nullopt;
  const size_t pe = LoadU32(bytes + kNewHeaderOffset);
  if (!h.Has(pe, 4 + kFileHeaderSize + 2) || memcmp(bytes + pe, "PE\0\0", 4) != 0) return std::nullopt;
  const unsigned char* file_header = bytes + pe + 4;
  h.optional = pe + 4 + kFileHeaderSize;
  const uint16_t magic = LoadU16(bytes + h.optional);
  const size_t directories = magic == kPe32PlusMagic ? kPe32PlusDirectoriesOffset
                             : magic == kPe32Magic   ? kPe32DirectoriesOffset
                                                     : 0;
  const size_t optional_size = LoadU16(file_header + kOptionalHeaderSizeOffset);
  h.sections = h.optional + optional_size;
  h.section_count = LoadU16(file_header + kSectionCountOffset);
  if (directories == 0 || optional_size < directories ||
      !h.Has(h.sections, size_t{h.section_count} * kSectionHeaderSize)) {
    return std::nullopt;
  }
  h.directories = h.optional + directories;
  h.directory_count = static_cast<uint32_t>(
      std::min<size_t>(LoadU32(bytes + h.directories - 4), (optional_size - directories) / kDirectorySize));
  return h;
}

class TableReader {
 public:
  TableReader(const Headers& h, size_t base, std::vector<Resource>* out) : h_(h), base_(base), out_(out) {}

  // Reads the directory at `table` (from the table's start) at `level` (0: types),
  // with `path` the type and name that lead to it.
  bool Directory(uint32_t table, size_t level, Resource& path) {
    const size_t at = base_ + table;
    if (!h_.Has(at, kResourceHeaderSize)) return false;
    const size_t count = size_t{LoadU16(h_.bytes + at + kNamedCountOffset)} + LoadU16(h_.bytes + at + kIdCountOffset);
    if (!h_.Has(at + kResourceHeaderSize, count * kResourceEntrySize)) return false;
    for (size_t i = 0; i < count; ++i) {
      const unsigned char* entry = h_.bytes + at + kResourceHeaderSize + i * kResourceEntrySize;
      const uint32_t id = LoadU32(entry), target = LoadU32(entry + 4);
      ResourceId key;
      if (id & kHighBit) {
        if (level == kLevels - 1 || !Name(id & ~kHighBit, &key.name)) return false;
      } else {
        key.number = static_cast<uint16_t>(id);
      }
      if (level == 0) path.type = key;
      if (level == 1) path.name = key;
      if (level == kLevels - 1) {
        path.language = key.number;
        if ((target & kHighBit) || !Leaf(target, path)) return false;
      } else if (!(target & kHighBit) || !Directory(target & ~kHighBit, level + 1, path)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool Name(uint32_t offset, std::u16string* name) {
    const size_t at = base_ + offset;
    if (!h_.Has(at, 2)) return false;
    const size_t length = LoadU16(h_.bytes + at);
    if (length == 0 || !h_.Has(at + 2, 2 * length)) return false;
    for (size_t i = 0; i < length; ++i) name->push_back(static_cast<char16_t>(LoadU16(h_.bytes + at + 2 + 2 * i)));
    return true;
  }

  bool Leaf(uint32_t offset, const Resource& path) {
    const size_t at = base_ + offset;
    if (out_->size() == kResourceLimit || !h_.Has(at, kDataEntrySize)) return false;
    const uint32_t size = LoadU32(h_.bytes + at + 4);
    const auto data = h_.Offset(LoadU32(h_.bytes + at), size);
    if (!data) return false;
    Resource& r = out_->emplace_back(path);
    r.code_page = LoadU32(h_.bytes + at + kDataCodePageOffset);
    r.data.assign(reinterpret_cast<const char*>(h_.bytes + *data), size);
    r.file_offset = static_cast<uint32_t>(*data);
    return true;
  }

  const Headers& h_;
  size_t base_;
  std::vector<Resource>* out_;
};

// The order of a directory's entries: names (by their UTF-16 units) before numbers.
bool Before(const ResourceId& a, const ResourceId& b) {
  if (a.name.empty() != b.name.empty()) return !a.name.empty();
  return a.name.empty() ? a.number < b.number : a.name < b.name;
}

// The resource table of `resources` for a section at address rva.
std::string TableBytes(const std::vector<Resource>& resources, uint32_t rva) {
  std::vector<const Resource*> sorted;
  for (const Resource& r : resources) sorted.push_back(&r);
  std::stable_sort(sorted.begin(), sorted.end(), [](const Resource* a, const Resource* b) {
    if (!(a->type == b->type)) return Before(a->type, b->type);
    if (!(a->name == b->name)) return Before(a->name, b->name);
    return a->language < b->language;
  });
  // Where each type and each name begins in `sorted`, with the end as the last.
  std::vector<size_t> types, names;
  for (size_t i = 0; i < sorted.size(); ++i) {
    const bool new_type = i == 0 || !(sorted[i]->type == sorted[i - 1]->type);
    if (new_type) types.push_back(i);
    if (new_type || !(sorted[i]->name == sorted[i - 1]->name)) names.push_back(i);
  }
  types.push_back(sorted.size());
  names.push_back(sorted.size());
  const auto names_in = [&](size_t t) {
    return static_cast<size_t>(std::lower_bound(names.begin(), names.end(), types[t + 1]) -
                               std::lower_bound(names.begin(), names.end(), types[t]));
  };

  // The directories (the root, each type's, each name's), the names, the data entries,
  // the data.
  size_t at = kResourceHeaderSize + (types.size() - 1) * kResourceEntrySize;
  std::vector<size_t> type_at, name_at, type_name_at, name_name_at, data_at;
  for (size_t t = 0; t + 1 < types.size(); ++t) {
    type_at.push_back(at);
    at += kResourceHeaderSize + names_in(t) * kResourceEntrySize;
  }
  for (size_t n = 0; n + 1 < names.size(); ++n) {
    name_at.push_back(at);
    at += kResourceHeaderSize + (names[n + 1] - names[n]) * kResourceEntrySize;
  }
  const auto place_name = [&](const std::u16string& name) {
    const size_t here = at;
    at += name.empty() ? 0 : 2 + 2 * name.size();
    return here;
  };
  for (size_t t = 0; t + 1 < types.size(); ++t) type_name_at.push_back(place_name(sorted[types[t]]->type.name));
  for (size_t n = 0; n + 1 < names.size(); ++n) name_name_at.push_back(place_name(sorted[names[n]]->name.name));
  const size_t entries_at = at = AlignUp(at, 4);
  at += sorted.size() * kDataEntrySize;
  for (const Resource* r : sorted) {
    data_at.push_back(AlignUp(at, kDataAlignment));
    at = data_at.back() + r->data.size();
  }

  std::string out(at, '\0');
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  // A directory at `where` of the entries [begin, end) of `ids`, leading to `targets`.
  const auto directory = [&](size_t where, size_t begin, size_t end, const auto& id_of, const auto& name_at_of,
                             const auto& target_of) {
    uint16_t named = 0;
    for (size_t i = begin; i < end; ++i) {
      unsigned char* entry = p + where + kResourceHeaderSize + (i - begin) * kResourceEntrySize;
      const ResourceId& id = id_of(i);
      if (!id.name.empty()) {
        ++named;
        const size_t name = name_at_of(i);
        StoreU16(p + name, static_cast<uint16_t>(id.name.size()));
        for (size_t u = 0; u < id.name.size(); ++u) StoreU16(p + name + 2 + 2 * u, id.name[u]);
        StoreU32(entry, kHighBit | static_cast<uint32_t>(name));
      } else {
        StoreU32(entry, id.number);
      }
      StoreU32(entry + 4, target_of(i));
    }
    StoreU16(p + where + kNamedCountOffset, named);
    StoreU16(p + where + kIdCountOffset, static_cast<uint16_t>(end - begin - named));
  };
  const auto first_name = [&](size_t t) {
    return static_cast<size_t>(std::lower_bound(names.begin(), names.end(), types[t]) - names.begin());
  };
  directory(
      0, 0, types.size() - 1, [&](size_t t) -> const ResourceId& { return sorted[types[t]]->type; },
      [&](size_t t) { return type_name_at[t]; }, [&](size_t t) { return kHighBit | static_cast<uint32_t>(type_at[t]); });
  for (size_t t = 0; t + 1 < types.size(); ++t) {
    const size_t first = first_name(t);
    directory(
        type_at[t], first, first + names_in(t), [&](size_t n) -> const ResourceId& { return sorted[names[n]]->name; },
        [&](size_t n) { return name_name_at[n]; }, [&](size_t n) { return kHighBit | static_cast<uint32_t>(name_at[n]); });
  }
  ResourceId language;
  for (size_t n = 0; n + 1 < names.size(); ++n) {
    directory(
        name_at[n], names[n], names[n + 1],
        [&](size_t i) -> const ResourceId& { return language = ResourceId{sorted[i]->language, {}}; },
        [](size_t) { return size_t{0}; }, [&](size_t i) { return static_cast<uint32_t>(entries_at + i * kDataEntrySize); });
  }
  for (size_t i = 0; i < sorted.size(); ++i) {
    unsigned char* entry = p + entries_at + i * kDataEntrySize;
    StoreU32(entry, rva + static_cast<uint32_t>(data_at[i]));
    StoreU32(entry + 4, static_cast<uint32_t>(sorted[i]->data.size()));
    StoreU32(entry + kDataCodePageOffset, sorted[i]->code_page);
    memcpy(p + data_at[i], sorted[i]->data.data(), sorted[i]->data.size());
  }
  return out;
}

bool PowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

bool ReadResources(const unsigned char* image, size_t size, std::vector<Resource>* out) {
  out->clear();
  const auto h = ReadHeaders(image, size);
  if (!h) return false;
  if (h->directory_count <= kResourceDirectory) return true;
  const uint32_t rva = LoadU32(image + h->directories + kResourceDirectory * kDirectorySize);
  if (rva == 0) return true;
  const auto base = h->Offset(rva, kResourceHeaderSize);
  if (!base) return false;
  Resource path;
  return TableReader(*h, *base, out).Directory(0, 0, path);
}

std::string ReplaceResources(std::string* image, const std::vector<Resource>& resources) {
  auto h = ReadHeaders(reinterpret_cast<const unsigned char*>(image->data()), image->size());
  if (!h || h->directory_count <= kResourceDirectory) return "it is no PE image with a resource table";
  auto* bytes = reinterpret_cast<unsigned char*>(image->data());
  const uint32_t section_alignment = LoadU32(bytes + h->optional + kSectionAlignmentOffset);
  const uint32_t file_alignment = LoadU32(bytes + h->optional + kFileAlignmentOffset);
  if (!PowerOfTwo(section_alignment) || !PowerOfTwo(file_alignment)) return "its section alignment is broken";

  // The new section's header goes after the last one: it must be zeros in the headers,
  // before any section's data.
  size_t headers_end = LoadU32(bytes + h->optional + kHeadersSizeOffset);
  uint64_t virtual_end = 0;
  for (uint16_t i = 0; i < h->section_count; ++i) {
    const unsigned char* section = h->Section(i);
    const uint32_t raw = LoadU32(section + kSectionRawSizeOffset);
    if (raw > 0) headers_end = std::min<size_t>(headers_end, LoadU32(section + kSectionRawPointerOffset));
    virtual_end = std::max<uint64_t>(virtual_end, uint64_t{LoadU32(section + kSectionAddressOffset)} +
                                                      std::max(raw, LoadU32(section + kSectionVirtualSizeOffset)));
  }
  const size_t header_at = h->sections + size_t{h->section_count} * kSectionHeaderSize;
  if (header_at + kSectionHeaderSize > headers_end || header_at + kSectionHeaderSize > image->size() ||
      std::any_of(bytes + header_at, bytes + header_at + kSectionHeaderSize, [](unsigned char c) { return c != 0; })) {
    return "its headers have no room for another section";
  }
  const uint32_t rva = static_cast<uint32_t>(AlignUp(virtual_end, section_alignment));
  const std::string table = TableBytes(resources, rva);
  const size_t raw_at = AlignUp(image->size(), file_alignment), raw_size = AlignUp(table.size(), file_alignment);
  if (uint64_t{rva} + table.size() >= kHighBit || raw_at + raw_size >= kHighBit) return "it would become too large";

  // The old table's section, by name.
  unsigned char* directory = bytes + h->directories + kResourceDirectory * kDirectorySize;
  const uint32_t old_rva = LoadU32(directory);
  for (uint16_t i = 0; i < h->section_count && old_rva != 0; ++i) {
    unsigned char* section = bytes + h->sections + size_t{i} * kSectionHeaderSize;
    const uint32_t address = LoadU32(section + kSectionAddressOffset);
    if (old_rva >= address && old_rva - address < LoadU32(section + kSectionVirtualSizeOffset) &&
        memcmp(section, kResourceSection, sizeof kResourceSection) == 0) {
      memcpy(section, kOldResourceSection, sizeof kOldResourceSection);
    }
  }
  unsigned char* section = bytes + header_at;
  memcpy(section, kResourceSection, sizeof kResourceSection);
  static_assert(sizeof kOldResourceSection <= kSectionNameSize);
  StoreU32(section + kSectionVirtualSizeOffset, static_cast<uint32_t>(table.size()));
  StoreU32(section + kSectionAddressOffset, rva);
  StoreU32(section + kSectionRawSizeOffset, static_cast<uint32_t>(raw_size));
  StoreU32(section + kSectionRawPointerOffset, static_cast<uint32_t>(raw_at));
  StoreU32(section + kSectionFlagsOffset, kResourceSectionFlags);
  StoreU16(bytes + h->optional - kFileHeaderSize + kSectionCountOffset, static_cast<uint16_t>(h->section_count + 1));
  unsigned char* initialized = bytes + h->optional + kInitializedDataOffset;
  StoreU32(initialized, LoadU32(initialized) + static_cast<uint32_t>(raw_size));
  StoreU32(bytes + h->optional + kImageSizeOffset,
           static_cast<uint32_t>(AlignUp(uint64_t{rva} + table.size(), section_alignment)));
  StoreU32(directory, rva);
  StoreU32(directory + 4, static_cast<uint32_t>(table.size()));
  image->resize(raw_at, '\0');
  *image += table;
  image->resize(raw_at + raw_size, '\0');
  return "";
}

}  // namespace vek::tools
