#include "selfcrc.h"

#include <string.h>

#include "crc32.h"
#include "layout.h"
#include "pelayout.h"

namespace vek {
namespace {

// The optional header's CheckSum field, at the same place in PE32 and PE32+.
constexpr size_t kCheckSumOffset = 64;
constexpr size_t kCheckSumSize = 4;
constexpr size_t kLongestExclusion = pe::DataDirectory::kSize;

// Whether [at, at + length) lies inside the first size bytes.
bool Inside(uint64_t at, uint64_t length, size_t size) { return at <= size && length <= size - at; }

}  // namespace

bool FindSelfCrcExclusions(const unsigned char* image, size_t size, SelfCrcExclusions* out) {
  if (!Inside(0, pe::DosHeader::kSize, size) || image[0] != 'M' || image[1] != 'Z') return false;
  const uint64_t signature = LoadU32(image + pe::DosHeader::kNewHeaderOffset);
  const uint64_t file_header = signature + pe::kSignatureSize;
  const uint64_t optional = file_header + pe::FileHeader::kSize;
  if (!Inside(signature, pe::kSignatureSize + pe::FileHeader::kSize + 2, size) ||
      memcmp(image + signature, pe::kSignature, pe::kSignatureSize) != 0) {
    return false;
  }
  const uint16_t magic = LoadU16(image + optional + pe::OptionalHeader::kMagicOffset);
  if (magic != pe::kPe32Magic && magic != pe::kPe32PlusMagic) return false;
  const uint64_t optional_size = LoadU16(image + file_header + pe::FileHeader::kOptionalHeaderSizeOffset);
  const uint64_t certificates = (magic == pe::kPe32Magic ? pe::OptionalHeader::kPe32DirectoriesOffset
                                                         : pe::OptionalHeader::kPe32PlusDirectoriesOffset) +
                                uint64_t{pe::kSecurityDirectory} * pe::DataDirectory::kSize;
  if (optional_size < certificates + pe::DataDirectory::kSize || !Inside(optional, optional_size, size)) return false;
  // The constants' section, by its name.
  const uint64_t sections = optional + optional_size;
  const uint32_t count = LoadU16(image + file_header + pe::FileHeader::kSectionCountOffset);
  if (!Inside(sections, uint64_t{count} * pe::SectionHeader::kSize, size)) return false;
  uint64_t field = 0;
  for (uint32_t i = 0; i < count && field == 0; ++i) {
    const unsigned char* header = image + sections + uint64_t{i} * pe::SectionHeader::kSize;
    if (strncmp(reinterpret_cast<const char*>(header + pe::SectionHeader::kNameOffset), kStartOffsetSection,
                pe::SectionHeader::kNameSize) != 0) {
      continue;
    }
    constexpr uint32_t kHeld = StubConstants::kSelfCrcOffset + StubConstants::kSelfCrcSize;
    if (LoadU32(header + pe::SectionHeader::kRawSizeOffset) < kHeld ||
        LoadU32(header + pe::SectionHeader::kVirtualSizeOffset) < kHeld) {
      return false;
    }
    field = uint64_t{LoadU32(header + pe::SectionHeader::kRawPointerOffset)} + StubConstants::kSelfCrcOffset;
  }
  // The field lies after the headers, whose bytes the other two are.
  if (field < sections + uint64_t{count} * pe::SectionHeader::kSize || field > UINT32_MAX - kLongestExclusion) {
    return false;
  }
  out->offset[0] = static_cast<uint32_t>(optional + kCheckSumOffset);
  out->size[0] = kCheckSumSize;
  out->offset[1] = static_cast<uint32_t>(optional + certificates);
  out->size[1] = pe::DataDirectory::kSize;
  out->offset[2] = static_cast<uint32_t>(field);
  out->size[2] = StubConstants::kSelfCrcSize;
  return true;
}

uint32_t SelfCrcUpdate(uint32_t crc, const SelfCrcExclusions& exclusions, uint64_t offset, const unsigned char* data,
                       size_t size) {
  static const unsigned char kZeros[kLongestExclusion] = {};
  const uint64_t end = offset + size;
  for (int i = 0; i < SelfCrcExclusions::kCount; ++i) {
    const uint64_t from = exclusions.offset[i];
    const uint64_t to = from + exclusions.size[i];
    if (to <= offset || from >= end) continue;
    if (from > offset) {  // the bytes before the excluded ones
      crc = Crc32(crc, data, static_cast<size_t>(from - offset));
      data += from - offset;
      offset = from;
    }
    const size_t zeros = static_cast<size_t>((to < end ? to : end) - offset);
    crc = Crc32(crc, kZeros, zeros);
    data += zeros;
    offset += zeros;
  }
  return Crc32(crc, data, static_cast<size_t>(end - offset));
}

}  // namespace vek
