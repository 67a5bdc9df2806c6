#include "pefile.h"

#include <string.h>

#include <algorithm>
#include <set>

#include "pelayout.h"
#include "restable.h"

namespace vek::tools {
namespace {

using pe::DataDirectory;
using pe::FileHeader;
using pe::kResourceHighBit;
using pe::OptionalHeader;
using pe::ResourceDataEntry;
using pe::ResourceDirectoryHeader;
using pe::ResourceEntry;
using pe::SectionHeader;

constexpr char kResourceSection[] = ".rsrc", kOldResourceSection[] = ".rsrc0";
// More entries (of every directory together) than any executable's table holds.
constexpr size_t kResourceLimit = 1 << 14;

uint64_t AlignUp(uint64_t at, uint64_t alignment) { return (at + alignment - 1) / alignment * alignment; }
// The file alignments a PE image may have.
constexpr uint32_t kFileAlignmentMin = 512, kFileAlignmentMax = 64 * 1024;

// The headers of an image whose DOS header, PE signature, file header and section
// table lie within its bytes.
struct Headers {
  const unsigned char* bytes = nullptr;
  size_t size = 0;
  size_t optional = 0;  // the optional header's offset
  size_t optional_size = 0;
  size_t sections = 0;  // the section table's
  uint16_t section_count = 0;
  // The data directories': 0 (and no directories) without an optional header of a
  // kind known here.
  size_t directories = 0;
  uint32_t directory_count = 0;

  bool Has(size_t at, size_t count) const { return at <= size && count <= size - at; }
  const unsigned char* Section(uint16_t i) const { return bytes + sections + size_t{i} * SectionHeader::kSize; }
  size_t SectionTableEnd() const { return sections + size_t{section_count} * SectionHeader::kSize; }
  // SizeOfHeaders, where the optional header is long enough to hold it; else 0.
  uint32_t HeadersSize() const {
    return optional_size >= OptionalHeader::kHeadersSizeOffset + 4
               ? LoadU32(bytes + optional + OptionalHeader::kHeadersSizeOffset)
               : 0;
  }

  // The file offset of the address rva with count bytes there; nullopt when no
  // section's data holds them.
  std::optional<size_t> Offset(uint32_t rva, size_t count) const {
    for (uint16_t i = 0; i < section_count; ++i) {
      const uint32_t address = LoadU32(Section(i) + SectionHeader::kAddressOffset);
      const uint32_t raw = LoadU32(Section(i) + SectionHeader::kRawSizeOffset);
      // Empty data may lie at the very end of a section's.
      if (rva < address || rva - address > raw || (count > 0 && rva - address == raw) ||
          count > raw - (rva - address)) {
        continue;
      }
      const size_t at = size_t{LoadU32(Section(i) + SectionHeader::kRawPointerOffset)} + (rva - address);
      if (Has(at, count)) return at;
    }
    return std::nullopt;
  }
};

std::optional<Headers> ReadHeaders(const unsigned char* bytes, size_t size) {
  static_assert(sizeof pe::kSignature == pe::kSignatureSize);
  Headers h{bytes, size};
  if (!h.Has(0, pe::DosHeader::kSize) || memcmp(bytes, pe::kDosMagic, 2) != 0) return std::nullopt;
  const size_t at = LoadU32(bytes + pe::DosHeader::kNewHeaderOffset);
  if (!h.Has(at, pe::kSignatureSize + FileHeader::kSize) ||
      memcmp(bytes + at, pe::kSignature, pe::kSignatureSize) != 0) {
    return std::nullopt;
  }
  const unsigned char* file_header = bytes + at + pe::kSignatureSize;
  h.optional = at + pe::kSignatureSize + FileHeader::kSize;
  h.optional_size = LoadU16(file_header + FileHeader::kOptionalHeaderSizeOffset);
  h.sections = h.optional + h.optional_size;
  h.section_count = LoadU16(file_header + FileHeader::kSectionCountOffset);
  if (!h.Has(h.sections, size_t{h.section_count} * SectionHeader::kSize)) return std::nullopt;
  // The optional header lies before the section table, within the bytes.
  const uint16_t magic = h.optional_size >= 2 ? LoadU16(bytes + h.optional + OptionalHeader::kMagicOffset) : 0;
  const size_t directories = magic == pe::kPe32PlusMagic ? OptionalHeader::kPe32PlusDirectoriesOffset
                             : magic == pe::kPe32Magic   ? OptionalHeader::kPe32DirectoriesOffset
                                                         : 0;
  if (directories != 0 && h.optional_size >= directories) {
    h.directories = h.optional + directories;
    h.directory_count = static_cast<uint32_t>(
        std::min<size_t>(LoadU32(bytes + h.directories - 4), (h.optional_size - directories) / DataDirectory::kSize));
  }
  return h;
}

class TableReader {
 public:
  TableReader(const Headers& h, size_t base, std::vector<Resource>* out, std::string* problem)
      : h_(h), base_(base), out_(out), problem_(problem) {}

  // Reads the directory at `table` (from the table's start) at `level` (0: types),
  // with `path` the type and name that lead to it.
  bool Directory(uint32_t table, size_t level, Resource& path) {
    const size_t at = base_ + table;
    if (!h_.Has(at, ResourceDirectoryHeader::kSize)) return Fail("a directory lies beyond the table");
    // Each directory is read once: one that two entries lead to (or that leads back
    // to itself) would be walked again for each.
    if (!visited_.insert(table).second) return Fail("two entries lead to one directory");
    const size_t count = size_t{LoadU16(h_.bytes + at + ResourceDirectoryHeader::kNamedCountOffset)} +
                         LoadU16(h_.bytes + at + ResourceDirectoryHeader::kIdCountOffset);
    if (!h_.Has(at + ResourceDirectoryHeader::kSize, count * ResourceEntry::kSize)) {
      return Fail("a directory holds more entries than the table");
    }
    entries_ += count;
    if (entries_ > kResourceLimit) return Fail("it has more than " + std::to_string(kResourceLimit) + " entries");
    for (size_t i = 0; i < count; ++i) {
      const unsigned char* entry = h_.bytes + at + ResourceDirectoryHeader::kSize + i * ResourceEntry::kSize;
      const uint32_t id = LoadU32(entry), target = LoadU32(entry + 4);
      ResourceId key;
      if (id & kResourceHighBit) {
        if (level == pe::kResourceLevels - 1) return Fail("a language has a name");
        if (!Name(id & ~kResourceHighBit, &key.name)) return Fail("a name lies beyond the table");
      } else {
        key.number = static_cast<uint16_t>(id);
      }
      if (level == 0) path.type = key;
      if (level == 1) path.name = key;
      if (level == pe::kResourceLevels - 1) {
        path.language = key.number;
        if (target & kResourceHighBit) return Fail("a language leads to a directory");
        if (!Leaf(target, path)) return false;
      } else if (!(target & kResourceHighBit)) {
        return Fail("a type or a name leads to data");
      } else if (!Directory(target & ~kResourceHighBit, level + 1, path)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool Fail(const std::string& why) {
    *problem_ = why;
    return false;
  }

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
    if (!h_.Has(at, ResourceDataEntry::kSize)) return Fail("a leaf lies beyond the table");
    const uint32_t size = LoadU32(h_.bytes + at + 4);
    const auto data = h_.Offset(LoadU32(h_.bytes + at), size);
    if (!data) return Fail("a resource's data lies outside every section");
    // The resources' data, each copied, never takes more than the image: leaves that
    // share their data would multiply it.
    copied_ += size;
    if (copied_ > h_.size) return Fail("its resources' data overlap");
    Resource& r = out_->emplace_back(path);
    r.code_page = LoadU32(h_.bytes + at + ResourceDataEntry::kCodePageOffset);
    r.data.assign(reinterpret_cast<const char*>(h_.bytes + *data), size);
    r.file_offset = static_cast<uint32_t>(*data);
    return true;
  }

  const Headers& h_;
  size_t base_;
  std::vector<Resource>* out_;
  std::string* problem_;
  std::set<uint32_t> visited_;  // the directories read, by offset
  size_t entries_ = 0;          // theirs
  uint64_t copied_ = 0;         // the bytes of the resources read
};

// Where the headers and every section's data end in the file.
uint64_t FindImageEnd(const Headers& h) {
  uint64_t end = std::max<uint64_t>(h.SectionTableEnd(), h.HeadersSize());
  for (uint16_t i = 0; i < h.section_count; ++i) {
    const uint64_t raw = LoadU32(h.Section(i) + SectionHeader::kRawSizeOffset);
    if (raw) end = std::max(end, LoadU32(h.Section(i) + SectionHeader::kRawPointerOffset) + raw);
  }
  return end;
}

bool PowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

std::optional<SectionSpan> FindStartOffsetSection(const unsigned char* image, size_t size, std::string* problem,
                                                  uint64_t file_size) {
  if (file_size < size) file_size = size;
  std::string ignored;
  if (!problem) problem = &ignored;
  problem->clear();
  const auto h = ReadHeaders(image, size);
  if (!h) return std::nullopt;
  // The headers end at SizeOfHeaders, and never before the section table's end.
  const uint64_t headers_end = std::max<uint64_t>(h->SectionTableEnd(), h->HeadersSize());
  const size_t name_length = sizeof kStartOffsetSection - 1;
  std::optional<SectionSpan> found;
  uint64_t image_end = headers_end;
  for (uint16_t i = 0; i < h->section_count; ++i) {
    const unsigned char* header = h->Section(i);
    uint64_t begin = LoadU32(header + SectionHeader::kRawPointerOffset);
    uint64_t raw = LoadU32(header + SectionHeader::kRawSizeOffset);
    if (raw) image_end = std::max(image_end, begin + raw);
    char name[SectionHeader::kNameSize + 1] = {};
    memcpy(name, header + SectionHeader::kNameOffset, SectionHeader::kNameSize);
    if (strcmp(name, kStartOffsetSection) == 0 && !found) {
      found = SectionSpan{static_cast<uint32_t>(begin), static_cast<uint32_t>(raw),
                          LoadU32(header + SectionHeader::kVirtualSizeOffset), 0};
    }
  }
  if (!found) return std::nullopt;
  const uint64_t begin = found->file_offset, end = begin + found->raw_size;
  const std::string its = "its " + std::string(kStartOffsetSection) + " section ";
  if (found->raw_size < StubConstants::kStartOffsetSize) {
    *problem = its + "holds fewer than 4 bytes";
  } else if (begin < headers_end) {
    *problem = its + "lies in the PE headers";
  } else if (begin + StubConstants::kStartOffsetSize > file_size) {
    *problem = its + "lies beyond the end of the file";
  } else {
    for (uint16_t i = 0; i < h->section_count; ++i) {
      const unsigned char* header = h->Section(i);
      uint64_t other = LoadU32(header + SectionHeader::kRawPointerOffset);
      uint64_t other_end = other + LoadU32(header + SectionHeader::kRawSizeOffset);
      bool same = other == begin && other_end == end && memcmp(header, kStartOffsetSection, name_length) == 0;
      if (!same && other < end && begin < other_end) {
        *problem = its + "overlaps the data of another section";
        break;
      }
    }
  }
  if (!problem->empty()) return std::nullopt;
  found->image_end = image_end;
  return found;
}

bool ReadResources(const unsigned char* image, size_t size, std::vector<Resource>* out, std::string* problem) {
  std::string ignored;
  if (!problem) problem = &ignored;
  problem->clear();
  out->clear();
  const auto h = ReadHeaders(image, size);
  if (!h || h->directories == 0) {
    *problem = "it is no PE image with data directories";
    return false;
  }
  if (h->directory_count <= pe::kResourceDirectory) return true;
  const uint32_t rva = LoadU32(image + h->directories + pe::kResourceDirectory * DataDirectory::kSize);
  if (rva == 0) return true;
  const auto base = h->Offset(rva, ResourceDirectoryHeader::kSize);
  if (!base) {
    *problem = "its resource table lies outside every section";
    return false;
  }
  Resource path;
  if (TableReader(*h, *base, out, problem).Directory(0, 0, path)) return true;
  *problem = "its resource table is broken: " + *problem;
  out->clear();
  return false;
}

std::string CheckLayout(const unsigned char* image, size_t size) {
  const auto h = ReadHeaders(image, size);
  if (!h) return "it is no PE image";
  for (uint16_t i = 0; i < h->section_count; ++i) {
    const unsigned char* section = h->Section(i);
    const uint64_t raw_end = uint64_t{LoadU32(section + SectionHeader::kRawPointerOffset)} +
                             LoadU32(section + SectionHeader::kRawSizeOffset);
    const uint64_t virtual_end = uint64_t{LoadU32(section + SectionHeader::kAddressOffset)} +
                                 std::max(LoadU32(section + SectionHeader::kRawSizeOffset),
                                          LoadU32(section + SectionHeader::kVirtualSizeOffset));
    if (raw_end > UINT32_MAX || virtual_end > UINT32_MAX) {
      return "its section " + std::to_string(i + 1) + " ends beyond what 32 bits address";
    }
  }
  if (h->optional_size < OptionalHeader::kFileAlignmentOffset + 4) return "";  // no alignments to keep
  const uint32_t section_alignment = LoadU32(image + h->optional + OptionalHeader::kSectionAlignmentOffset);
  const uint32_t file_alignment = LoadU32(image + h->optional + OptionalHeader::kFileAlignmentOffset);
  if (!PowerOfTwo(file_alignment) || file_alignment < kFileAlignmentMin || file_alignment > kFileAlignmentMax) {
    return "its file alignment " + std::to_string(file_alignment) + " is not a power of two from " +
           std::to_string(kFileAlignmentMin) + " to " + std::to_string(kFileAlignmentMax);
  }
  if (!PowerOfTwo(section_alignment) || section_alignment < file_alignment) {
    return "its section alignment " + std::to_string(section_alignment) +
           " is not a power of two at least its file alignment";
  }
  return "";
}

std::string ReplaceResources(std::string* image, const std::vector<Resource>& resources) {
  auto h = ReadHeaders(reinterpret_cast<const unsigned char*>(image->data()), image->size());
  if (!h || h->directory_count <= pe::kResourceDirectory) return "it is no PE image with a resource table";
  auto* bytes = reinterpret_cast<unsigned char*>(image->data());
  const std::string layout = CheckLayout(bytes, image->size());
  if (!layout.empty()) return layout;
  const uint32_t section_alignment = LoadU32(bytes + h->optional + OptionalHeader::kSectionAlignmentOffset);
  const uint32_t file_alignment = LoadU32(bytes + h->optional + OptionalHeader::kFileAlignmentOffset);

  // The new section's header goes after the last one: it must be zeros in the headers,
  // before any section's data.
  size_t headers_end = h->HeadersSize();
  uint64_t virtual_end = 0;
  for (uint16_t i = 0; i < h->section_count; ++i) {
    const unsigned char* section = h->Section(i);
    const uint32_t raw = LoadU32(section + SectionHeader::kRawSizeOffset);
    if (raw > 0) headers_end = std::min<size_t>(headers_end, LoadU32(section + SectionHeader::kRawPointerOffset));
    virtual_end =
        std::max<uint64_t>(virtual_end, uint64_t{LoadU32(section + SectionHeader::kAddressOffset)} +
                                            std::max(raw, LoadU32(section + SectionHeader::kVirtualSizeOffset)));
  }
  const size_t header_at = h->SectionTableEnd();
  if (header_at + SectionHeader::kSize > headers_end || header_at + SectionHeader::kSize > image->size() ||
      std::any_of(bytes + header_at, bytes + header_at + SectionHeader::kSize,
                  [](unsigned char c) { return c != 0; })) {
    return "its headers have no room for another section";
  }
  const uint64_t rva = AlignUp(virtual_end, section_alignment);
  if (rva >= kResourceHighBit) return "it would become too large";
  const std::string table = ResourceTableBytes(resources, static_cast<uint32_t>(rva));
  const uint64_t raw_at = AlignUp(image->size(), file_alignment), raw_size = AlignUp(table.size(), file_alignment);
  if (rva + table.size() >= kResourceHighBit || raw_at + raw_size >= kResourceHighBit)
    return "it would become too large";

  std::string out = *image;
  bytes = reinterpret_cast<unsigned char*>(out.data());
  // The old table's section, by name.
  unsigned char* directory = bytes + h->directories + pe::kResourceDirectory * DataDirectory::kSize;
  const uint32_t old_rva = LoadU32(directory);
  for (uint16_t i = 0; i < h->section_count && old_rva != 0; ++i) {
    unsigned char* section = bytes + h->sections + size_t{i} * SectionHeader::kSize;
    const uint32_t address = LoadU32(section + SectionHeader::kAddressOffset);
    if (old_rva >= address && old_rva - address < LoadU32(section + SectionHeader::kVirtualSizeOffset) &&
        memcmp(section, kResourceSection, sizeof kResourceSection) == 0) {
      memcpy(section, kOldResourceSection, sizeof kOldResourceSection);
    }
  }
  unsigned char* section = bytes + header_at;
  memcpy(section, kResourceSection, sizeof kResourceSection);
  static_assert(sizeof kOldResourceSection <= SectionHeader::kNameSize);
  StoreU32(section + SectionHeader::kVirtualSizeOffset, static_cast<uint32_t>(table.size()));
  StoreU32(section + SectionHeader::kAddressOffset, static_cast<uint32_t>(rva));
  StoreU32(section + SectionHeader::kRawSizeOffset, static_cast<uint32_t>(raw_size));
  StoreU32(section + SectionHeader::kRawPointerOffset, static_cast<uint32_t>(raw_at));
  StoreU32(section + SectionHeader::kFlagsOffset, pe::kInitializedReadableData);
  StoreU16(bytes + h->optional - FileHeader::kSize + FileHeader::kSectionCountOffset,
           static_cast<uint16_t>(h->section_count + 1));
  unsigned char* initialized = bytes + h->optional + OptionalHeader::kInitializedDataOffset;
  StoreU32(initialized, LoadU32(initialized) + static_cast<uint32_t>(raw_size));
  StoreU32(bytes + h->optional + OptionalHeader::kImageSizeOffset,
           static_cast<uint32_t>(AlignUp(rva + table.size(), section_alignment)));
  StoreU32(directory, static_cast<uint32_t>(rva));
  StoreU32(directory + 4, static_cast<uint32_t>(table.size()));
  out.resize(raw_at, '\0');
  out += table;
  out.resize(raw_at + raw_size, '\0');

  // The image as written is read back by the reader that vek and vekpack use: it
  // must give the resources it was given.
  std::vector<Resource> read;
  std::string problem;
  if (!ReadResources(reinterpret_cast<const unsigned char*>(out.data()), out.size(), &read, &problem)) {
    return "its new resources do not read back: " + problem;
  }
  std::vector<const Resource*> given;
  for (const Resource& r : resources) given.push_back(&r);
  std::stable_sort(given.begin(), given.end(), InResourceTableOrder);
  const bool same = read.size() == given.size() &&
                    std::equal(read.begin(), read.end(), given.begin(), [](const Resource& a, const Resource* b) {
                      return a.type == b->type && a.name == b->name && a.language == b->language &&
                             a.code_page == b->code_page && a.data == b->data;
                    });
  if (!same) return "its new resources read back otherwise";
  *image = std::move(out);
  return "";
}

SignatureState DropSignature(std::string* image) {
  const auto h = ReadHeaders(reinterpret_cast<const unsigned char*>(image->data()), image->size());
  if (!h || h->directory_count <= pe::kSecurityDirectory) return SignatureState::kUnsigned;
  auto* directory =
      reinterpret_cast<unsigned char*>(image->data()) + h->directories + pe::kSecurityDirectory * DataDirectory::kSize;
  const uint64_t at = LoadU32(directory), size = LoadU32(directory + 4);
  if (at == 0 && size == 0) return SignatureState::kUnsigned;
  // The certificates lie after every section, at the end of the file (8-aligned).
  if (at + size > image->size() || AlignUp(at + size, 8) < image->size() || at < FindImageEnd(*h)) {
    return SignatureState::kMisplaced;
  }
  memset(directory, 0, DataDirectory::kSize);
  image->resize(at);
  return SignatureState::kDropped;
}

}  // namespace vek::tools
