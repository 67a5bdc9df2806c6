// rnvek100: the VEK archive reader and extractor.
//
// A VEK archive is an 8-byte signature, a 48-byte header, a table of 256-byte entry
// records and the uncompressed file data, all little-endian. This unit holds, once per
// process, the signature and header buffers and the entry table, reads them from an
// open archive file, answers lookups by entry identifier and builds relative paths
// from parent links.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ansistring.h"
#include "error.h"
#include "fileedge.h"

namespace vek {

// ---- Layouts ---------------------------------------------------------------------

struct ArchiveSignature {
  static constexpr size_t kSize = 8;
  static constexpr size_t kMagicOffset = 0;
  static constexpr size_t kMagicSize = 6;
  static constexpr size_t kTailOffset = 6;
  static constexpr size_t kTailSize = 2;
};
inline constexpr char kArchiveMagic[ArchiveSignature::kMagicSize + 1] = "RN-VEK";
inline constexpr unsigned char kSignatureTail[ArchiveSignature::kTailSize] = {0x00, 0x01};

struct ArchiveHeader {
  static constexpr size_t kSize = 48;
  static constexpr size_t kEntryCountOffset = 0;
  static constexpr size_t kEntryCountSize = 2;
  static constexpr size_t kReservedOffset = 2;
  static constexpr size_t kReservedSize = 13;
  static constexpr size_t kNoticeOffset = 15;
  static constexpr size_t kNoticeSize = 33;  // length byte + up to 32 characters
  // HeaderReserved as the builder writes it: byte 4 of the header is 1, the rest 0.
  static constexpr size_t kReservedOneOffset = 4;
};

struct EntryRecord {
  static constexpr size_t kSize = 256;
  static constexpr size_t kIdOffset = 0;
  static constexpr size_t kParentIdOffset = 2;
  static constexpr size_t kKindOffset = 4;
  static constexpr size_t kReservedOffset = 5;
  static constexpr size_t kNameOffset = 6;
  static constexpr size_t kNameFieldSize = 233;  // length byte + characters
  static constexpr size_t kNameMaxLength = 232;
  static constexpr size_t kFillerOffset = 239;
  static constexpr size_t kAttributesOffset = 240;
  static constexpr size_t kTimeStampOffset = 244;
  static constexpr size_t kSizeOffset = 248;
  static constexpr size_t kDataOffsetOffset = 252;
};

// Bytes from the archive start to the first entry record.
inline constexpr uint32_t kArchivePrologueSize =
    static_cast<uint32_t>(ArchiveSignature::kSize + ArchiveHeader::kSize);

inline constexpr uint8_t kEntryKindDirectory = 0;
inline constexpr uint8_t kEntryKindFile = 255;
inline constexpr uint8_t kEntryKindNotFound = 128;

// The table's room when the archive holds fewer records; it grows to the entry count
// when there are more (at most 65,535).
inline constexpr uint32_t kEntryTableCapacity = 10000;
inline constexpr uint32_t kMaxEntryCount = 65535;

// ---- The archive file ------------------------------------------------------------

// An open file read or written byte by byte through a file edge.
struct ArchiveFile {
  FileEdge* edge = nullptr;
  FileHandle handle = kNoFile;
};

// Reads exactly count bytes; a shortfall is the input/output error 100.
Error ReadExactly(ArchiveFile& file, void* buffer, uint32_t count);

// ---- The reader ------------------------------------------------------------------

Error ReadArchiveSignature(ArchiveFile& file);
Error ReadArchiveHeader(ArchiveFile& file);
uint16_t GetEntryCount();
Error AllocateEntryTable();
Error LoadEntryTable(ArchiveFile& file);
void FreeEntryTable();

// The raw buffers, for tools that show them.
const unsigned char* GetSignatureBuffer();
const unsigned char* GetHeaderBuffer();

// Lookups by identifier: the field of the first slot, in slot order, whose Id equals
// id; the not-found value when none does.
uint8_t GetEntryKind(int32_t id);
uint32_t GetEntryAttributes(int32_t id);
uint32_t GetEntryTimeStamp(int32_t id);
int32_t GetEntrySize(int32_t id);
uint32_t GetEntryDataOffset(int32_t id);
uint16_t GetEntryParentId(int32_t id);
// The entry's name bytes (at most 232) and their count; nullptr when not found.
const char* GetEntryName(int32_t id, size_t* length);

// The entry's path relative to the destination folder: "\" + segment for every
// ancestor, outermost first, then the entry's own. Empty when no slot holds id. A
// parent that no slot holds ends the walk; a cycle ends it after EntryCount levels.
// Check failed() on the result when memory may run out.
AnsiString GetEntryPath(int32_t id);

// Whether an entry's path can be written below a destination folder without
// leaving it. Unsafe: a name "." or "..", or one made only of dots and blanks (which
// Windows folds into those); a name holding "\", "/", ":" or a zero byte; a parent
// chain that runs into a cycle; a path longer than kMaxEntryPathLength.
enum class PathSafety : uint8_t {
  kSafe = 0,
  kDotName,
  kForbiddenCharacter,
  kCycle,
  kTooLong,
};
inline constexpr size_t kMaxEntryPathLength = 32767;
PathSafety CheckEntryPath(int32_t id);
const char* DescribePathSafety(PathSafety safety);

// Number of slots loaded by the last LoadEntryTable (fewer than the count when it
// failed part-way).
uint32_t GetLoadedEntryCount();
// The raw record in a slot (1-based), for tools that inspect the table as stored;
// nullptr for a slot that was not loaded.
const unsigned char* GetSlotRecord(uint32_t slot);

// ---- Little-endian helpers ---------------------------------------------------------

inline uint16_t LoadU16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void StoreU16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void StoreU32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace vek

// ---- Extraction ----------------------------------------------------------------------

namespace vek {

inline constexpr uint32_t kCopyBlockSize = 32768;
inline constexpr char kErrorWritingFile[] = "Error writing file";
inline constexpr char kUnableToCreateDirectory[] = "Unable to create directory";

// Makes sure that the directory path and every missing directory above it exist,
// outermost first. Fails only for an empty path ("Unable to create directory");
// directories that cannot be made are not reported.
Error ForceDirectoryChain(const char* path, FileEdge& edge);
inline Error ForceDirectoryChain(const AnsiString& path, FileEdge& edge) {
  return ForceDirectoryChain(path.c_str(), edge);
}

// Writes entry id below destination (no trailing backslash): a directory is made, a
// file created and filled from the data area, other kinds produce nothing. An entry
// whose path is unsafe fails with the input/output error 3 before anything is made.
// A file's data is copied whole or the entry fails: data cut short by the end of the
// archive is the input/output error 100 ("Read beyond end of file"), a write that
// stops short the disk-full code 112; the bytes copied so far stay in the file.
// "Error writing file" is shown first when the last write transferred nothing.
Error ExtractEntry(ArchiveFile& archive, int32_t id, const AnsiString& destination,
                   uint32_t archive_start_offset, uint32_t entry_count);
Error ExtractFileEntry(ArchiveFile& archive, int32_t id, const AnsiString& destination,
                       uint32_t archive_start_offset, uint32_t entry_count);
// Applies the entry's time stamp and then its attributes to the file at full_path;
// failures are not reported.
void SetEntryAttributesAndTime(int32_t id, const AnsiString& full_path, FileEdge& edge);

}  // namespace vek
