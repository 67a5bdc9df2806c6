#include "stubfile.h"

#include <string.h>

#include <algorithm>
#include <fstream>

#include "rnvek100.h"

namespace vek::tools {
namespace {

constexpr size_t kDosLfanewOffset = 0x3C;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kCoffSectionCountOffset = 2;
constexpr size_t kCoffOptionalSizeOffset = 16;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSectionVirtualSizeOffset = 8;
constexpr size_t kSectionRawSizeOffset = 16;
constexpr size_t kSectionRawPointerOffset = 20;

bool IsSignatureAt(const unsigned char* p) {
  return memcmp(p, kArchiveMagic, ArchiveSignature::kMagicSize) == 0 &&
         memcmp(p + ArchiveSignature::kTailOffset, kSignatureTail, ArchiveSignature::kTailSize) == 0;
}

}  // namespace

std::optional<SectionSpan> FindStartOffsetSection(const unsigned char* image, size_t size) {
  if (size < 0x40 || image[0] != 'M' || image[1] != 'Z') return std::nullopt;
  uint32_t pe = LoadU32(image + kDosLfanewOffset);
  if (uint64_t{pe} + 4 + kCoffHeaderSize > size || memcmp(image + pe, "PE\0\0", 4) != 0) return std::nullopt;
  const unsigned char* coff = image + pe + 4;
  uint16_t sections = LoadU16(coff + kCoffSectionCountOffset);
  uint16_t optional_size = LoadU16(coff + kCoffOptionalSizeOffset);
  uint64_t table = uint64_t{pe} + 4 + kCoffHeaderSize + optional_size;
  for (uint16_t i = 0; i < sections; ++i) {
    uint64_t at = table + uint64_t{i} * kSectionHeaderSize;
    if (at + kSectionHeaderSize > size) return std::nullopt;
    const unsigned char* header = image + at;
    char name[9] = {};
    memcpy(name, header, 8);
    if (strcmp(name, kStartOffsetSection) != 0) continue;
    SectionSpan span{LoadU32(header + kSectionRawPointerOffset), LoadU32(header + kSectionRawSizeOffset),
                     LoadU32(header + kSectionVirtualSizeOffset)};
    if (span.raw_size < 4 || uint64_t{span.file_offset} + 4 > size) return std::nullopt;
    if (uint64_t{span.file_offset} + kStubConstantsSize > size) span.raw_size = 4;
    return span;
  }
  return std::nullopt;
}

std::optional<SectionSpan> FindStartOffsetSection(const std::vector<unsigned char>& image) {
  return FindStartOffsetSection(image.data(), image.size());
}

namespace {

// Reads up to count bytes at offset; returns how many came.
size_t ReadAt(std::ifstream& in, uint64_t offset, unsigned char* buffer, size_t count) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  if (!in) return 0;
  in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
  return static_cast<size_t>(in.gcount());
}

bool PlausibleInFile(std::ifstream& in, uint64_t file_size, uint64_t pos) {
  unsigned char head[kArchivePrologueSize + EntryRecord::kSize];
  size_t got = ReadAt(in, pos, head, sizeof head);
  if (got < kArchivePrologueSize) return false;
  uint16_t count = LoadU16(head + ArchiveSignature::kSize + ArchiveHeader::kEntryCountOffset);
  if (count > 0 && got < sizeof head) return false;
  if (!IsSignatureAt(head)) return false;
  if (pos + kArchivePrologueSize + uint64_t{count} * EntryRecord::kSize > file_size) return false;
  if (count > 0 && LoadU16(head + kArchivePrologueSize + EntryRecord::kIdOffset) != 1) return false;
  return true;
}

}  // namespace

std::optional<ArchiveStart> LocateArchive(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open the file";
    return std::nullopt;
  }
  in.seekg(0, std::ios::end);
  uint64_t file_size = static_cast<uint64_t>(in.tellg());
  // A file that begins with the signature is a bare archive, even one cut short.
  unsigned char signature[ArchiveSignature::kSize];
  if (ReadAt(in, 0, signature, sizeof signature) == sizeof signature && IsSignatureAt(signature)) {
    return ArchiveStart{0, StartSource::kBareArchive};
  }
  // The PE headers and section table lie within the first 64 KiB of any stub.
  std::vector<unsigned char> head(64 * 1024);
  head.resize(ReadAt(in, 0, head.data(), head.size()));
  if (auto span = FindStartOffsetSection(head)) {
    uint32_t offset = LoadU32(head.data() + span->file_offset);
    if (offset < file_size && PlausibleInFile(in, file_size, offset)) {
      ArchiveStart start{offset, StartSource::kStubConstant};
      if (span->HoldsConfigOffset()) {
        uint32_t config = LoadU32(head.data() + span->file_offset + kConfigOffsetPosition);
        if (config != 0 && config < offset) start.config_offset = config;
      }
      return start;
    }
  }
  // Scan for the signature in overlapping windows.
  constexpr size_t kWindow = 1 << 20;
  std::vector<unsigned char> window(kWindow + ArchiveSignature::kSize);
  for (uint64_t base = 0; base < file_size; base += kWindow) {
    size_t got = ReadAt(in, base, window.data(), window.size());
    for (size_t i = 0; i + ArchiveSignature::kSize <= got && i < kWindow; ++i) {
      const void* hit = memchr(window.data() + i, kArchiveMagic[0], std::min(got, kWindow) - i);
      if (!hit) break;
      i = static_cast<const unsigned char*>(hit) - window.data();
      if (i + ArchiveSignature::kSize <= got && IsSignatureAt(window.data() + i) &&
          PlausibleInFile(in, file_size, base + i) && base + i < (uint64_t{1} << 32)) {
        return ArchiveStart{static_cast<uint32_t>(base + i), StartSource::kScan};
      }
    }
  }
  *error = "no VEK archive found (no signature followed by a plausible header)";
  return std::nullopt;
}

}  // namespace vek::tools
