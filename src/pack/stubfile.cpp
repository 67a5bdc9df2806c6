#include "stubfile.h"

#include <string.h>

#include <algorithm>

#include "errorwords.h"
#include "nativefile.h"
#include "pefile.h"
#include "signature.h"
#include "toolhost.h"

namespace vek::tools {
namespace {

// The PE headers, the section table and the constants' section of any stub lie
// within its first bytes (a stub with inflating takes some 90 KB).
constexpr size_t kStubHeadersLimit = 256 * 1024;
// An archive start that a 32-bit offset can name.
constexpr uint64_t kArchiveStartLimit = uint64_t{1} << 32;

// "RN-VEK" 00 01, or 00 02 in a marked archive.
bool IsSignatureAt(const unsigned char* p) { return IsOurSignature(ClassifySignature(p)); }

}  // namespace

namespace {

// Reads up to count bytes at offset; returns how many came.
size_t ReadAt(FileHandle file, uint64_t offset, unsigned char* buffer, size_t count) {
  FileEdge& edge = PlatformFileEdge();
  uint32_t done = 0;
  if (edge.Seek(file, static_cast<int64_t>(offset)) || edge.Read(file, buffer, static_cast<uint32_t>(count), &done)) {
    return 0;
  }
  return done;
}

bool PlausibleInFile(FileHandle file, uint64_t file_size, uint64_t pos) {
  unsigned char head[kArchivePrologueSize + EntryRecord::kSize];
  size_t got = ReadAt(file, pos, head, sizeof head);
  if (got < kArchivePrologueSize) return false;
  uint16_t count = LoadU16(head + ArchiveSignature::kSize + ArchiveHeader::kEntryCountOffset);
  if (count > 0 && got < sizeof head) return false;
  if (!IsSignatureAt(head)) return false;
  if (pos + kArchivePrologueSize + uint64_t{count} * EntryRecord::kSize > file_size) return false;
  if (count > 0 && LoadU16(head + kArchivePrologueSize + EntryRecord::kIdOffset) != 1) return false;
  return true;
}

std::optional<ArchiveStart> LocateInFile(FileHandle in, uint64_t file_size, std::string* error) {
  // A file that begins with the signature is a bare archive, even one cut short.
  unsigned char signature[ArchiveSignature::kSize];
  if (ReadAt(in, 0, signature, sizeof signature) == sizeof signature && IsSignatureAt(signature)) {
    ArchiveStart start;  // offset 0, a bare archive
    // The extension block ends where the footer begins, at the end of the file.
    unsigned char footer[ExtensionFooter::kSize];
    if (file_size >= kArchivePrologueSize + ExtensionFooter::kSize &&
        ReadAt(in, file_size - sizeof footer, footer, sizeof footer) == sizeof footer) {
      const uint64_t size = ReadExtensionFooter(footer);
      const uint64_t end = file_size - sizeof footer;
      if (size > 0 && size <= end - kArchivePrologueSize && end < kArchiveStartLimit) {
        start.extension = ExtensionSpan(static_cast<uint32_t>(end - size), static_cast<uint32_t>(end));
      }
    }
    return start;
  }
  // Where our stub's constant is, it is the archive's start: the stub reads nothing else.
  std::vector<unsigned char> head(kStubHeadersLimit);
  head.resize(ReadAt(in, 0, head.data(), head.size()));
  std::string problem;
  auto span = FindStartOffsetSection(head.data(), head.size(), &problem, file_size);
  if (!problem.empty()) {
    *error = "a broken self-extracting executable: " + problem;
    return std::nullopt;
  }
  if (span) {
    unsigned char constant[4];
    if (ReadAt(in, span->file_offset, constant, sizeof constant) != sizeof constant) {
      *error = "cannot read the file";
      return std::nullopt;
    }
    uint32_t offset = LoadU32(constant);
    if (offset < span->image_end) {
      *error = "a self-extracting executable whose archive start offset " + std::to_string(offset) +
               " points into the stub itself (which ends at " + std::to_string(span->image_end) + ")";
      return std::nullopt;
    }
    if (offset >= file_size) {
      *error = "a self-extracting executable whose archive start offset " + std::to_string(offset) +
               " lies beyond the end of the file (" + std::to_string(file_size) + " bytes): it is cut short";
      return std::nullopt;
    }
    ArchiveStart start;
    start.offset = offset;
    start.source = StartSource::kStubConstant;
    // The configuration and extension blocks, when the stub names them, lie between it
    // and the archive: [extension][configuration][archive].
    const unsigned char* constants = head.data() + span->file_offset;
    if (span->HoldsConfigOffset() &&
        uint64_t{span->file_offset} + StubConstants::kSizeWithoutExtension <= head.size()) {
      uint32_t config = LoadU32(constants + StubConstants::kConfigOffsetOffset);
      start.config_offset = config;
      start.config_misplaced = config != 0 && (config < span->image_end || config >= offset);
    }
    if (span->HoldsExtensionOffset() &&
        uint64_t{span->file_offset} + StubConstants::kSizeWithoutFeatures <= head.size()) {
      start.extension = StubExtensionPlace(offset, start.config_offset,
                                           LoadU32(constants + StubConstants::kExtensionOffsetOffset), span->image_end);
    }
    if (span->HoldsSelfCrc() && uint64_t{span->file_offset} + StubConstants::kSizeWithSelfCrc <= head.size() &&
        LoadU32(constants + StubConstants::kFeaturesMagicOffset) == kStubFeaturesMagic &&
        (LoadU32(constants + StubConstants::kFeaturesOffset) & kStubFeatureSelfCheck)) {
      start.self_checked = true;
      start.self_crc = LoadU32(constants + StubConstants::kSelfCrcOffset);
    }
    return start;
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
          PlausibleInFile(in, file_size, base + i) && base + i < kArchiveStartLimit) {
        ArchiveStart found;
        found.offset = static_cast<uint32_t>(base + i);
        found.source = StartSource::kScan;
        return found;
      }
    }
  }
  *error = "no VEK archive found (no signature followed by a plausible header)";
  return std::nullopt;
}

}  // namespace

std::optional<ArchiveStart> LocateArchive(const std::string& path, std::string* error, FileHandle* opened) {
  PathFacts facts;
  const bool examined = ExamineNativePath(path.c_str(), &facts);
  // A folder opens for reading on POSIX but not on Windows: refuse it alike on both.
  if (examined && facts.kind == FileKind::kFolder) {
    *error = "a folder, not an archive";
    return std::nullopt;
  }
  if (examined && facts.kind != FileKind::kFile) {
    *error = "not a regular file";
    return std::nullopt;
  }
  FileHandle in = kNoFile;
  const Error open_error = OpenNativeForReading(path, &in);
  if (!examined || open_error) {
    *error = "cannot open the file: " + (open_error ? ReportInWords(open_error) : std::string("it could not be read"));
    if (!open_error) (void)PlatformFileEdge().Close(in);
    return std::nullopt;
  }
  const uint64_t file_size = facts.size;
  std::optional<ArchiveStart> start = LocateInFile(in, file_size, error);
  if (start) start->file_size = file_size;
  if (start && opened) {
    *opened = in;
  } else {
    (void)PlatformFileEdge().Close(in);
  }
  return start;
}

}  // namespace vek::tools
