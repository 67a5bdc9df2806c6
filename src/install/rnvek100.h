// rnvek100: the VEK archive reader.
//
// An ArchiveReader opens one archive (layout.h) in a file: it reads the signature and
// the header, loads the entry table, answers lookups by entry identifier, builds each
// entry's path from the parent links and judges whether that path can be written
// below a destination. Each reader owns its file and its state, so one process may
// read several archives at once. Extraction (extractor.h) writes an open reader's
// entries. An archive with an extension block (extension.h) has it read and judged by
// Open too: each entry then carries its checksum, method and original size.
//
// The table is read here (rnvek100.cpp); paths and their safety are in entrypath.cpp.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ansistring.h"
#include "error.h"
#include "extension.h"
#include "fileedge.h"
#include "layout.h"
#include "signature.h"
#include "winpath.h"

namespace vek {

// The table's room when the archive holds fewer records; it grows to the entry count
// when there are more (at most kMaxEntryCount).
inline constexpr uint32_t kEntryTableCapacity = 10000;

// An open file read through an edge.
struct ArchiveFile {
  ArchiveFiles* edge = nullptr;
  FileHandle handle = kNoFile;
};

// The method of a file whose record and extension record disagree (another length, a
// method this release does not read): no block ever holds it.
inline constexpr uint8_t kMethodInvalid = 0xFF;

// One entry as the reader knows it: its record's fields, found by FindEntry, and what
// the extension block says of it. The name points into the reader's table and stays
// valid while the reader is open.
//
// A compressed file (a record of kind kEntryKindCompressed in an archive with a sound
// block) is given kind kEntryKindFile and its method: deflated (kMethodDeflate), size
// is the stored size and original_size the file's own; in a solid block
// (kMethodLzmaSolid), size and original_size are the file's own, data_offset is
// where it begins in the decoded bytes of its block. Without a sound block a record
// of kind kEntryKindCompressed keeps its kind, for which nothing is made.
struct ArchiveEntry {
  uint16_t id = 0;
  uint16_t parent_id = 0;
  uint8_t kind = kEntryKindNotFound;
  const char* name = nullptr;  // name_length bytes (at most 232) in the reader's name_encoding()
  size_t name_length = 0;
  uint32_t attributes = 0;
  uint32_t time_stamp = 0;   // MS-DOS date and time, local time
  int32_t size = 0;          // the bytes stored in the data area
  uint32_t data_offset = 0;  // from the start of the data area
  // From the extension block, for a file. Without one: unchecked, stored, and
  // original_size equal to size.
  bool checked = false;  // crc is the CRC-32 of the stored bytes
  uint32_t crc = 0;
  uint8_t method = kMethodStored;
  uint32_t original_size = 0;  // the file's length once extracted
  uint32_t block = 0;          // kMethodLzmaSolid: the index of the block that holds it
};

// A block of a solid archive, as its record in the solid index gives it.
struct SolidBlock {
  uint32_t stored_offset = 0;  // from the start of the data area
  uint32_t stored_size = 0;
  uint32_t decoded_size = 0;
  uint32_t crc = 0;                      // of the stored bytes
  const unsigned char* props = nullptr;  // the LZMA stream's 5 property bytes
};

// Whether an entry's path can be written below a destination folder without leaving
// it, judged by Windows' rules on every platform (winpath.h): every name on the path
// must be one that Windows takes as written (no device name, no forbidden character,
// no trailing dot or blank, not empty, not "." or ".."), the parent links must not run
// into a cycle, and the path must not be longer than this platform can create
// (PlatformPathLimits: a directory's limit for a directory entry, a file's otherwise).
enum class PathSafety : uint8_t {
  kSafe = 0,
  kDotName,
  kForbiddenCharacter,
  kCycle,
  kTooLong,
  kEmptyName,
  kDeviceName,
  kTrailingDotOrBlank,
  kNetworkPath,  // the destination and the path together name a network host or a device
};
const char* DescribePathSafety(PathSafety safety);

class ArchiveReader {
 public:
  ArchiveReader() = default;
  ~ArchiveReader() { (void)Close(); }
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // Takes over file, open for reading through edge (the reader closes it, whatever
  // the outcome), positions it at start_offset, reads the signature and the header,
  // sizes the table for the header's entry count and loads that many records. A read
  // that comes out short is the input/output error 100 (kIoReadBeyondEnd); the records
  // loaded until then answer lookups (GetLoadedEntryCount). A table stream that is
  // longer than TableStreamLimit, broken, or does not give exactly EntryCount records
  // is kArchiveDamaged, and no record is loaded. A reader that was open is
  // closed first. With an extension place, the block there is then read and judged
  // (extension()); whatever it says, Open succeeds when the table was loaded.
  Error Open(ArchiveFiles& edge, FileHandle file, uint32_t start_offset, ExtensionPlace extension = {});
  // Releases the table and closes the file; returns the close's failure.
  Error Close();

  ArchiveFile& file() { return file_; }
  // Where the data area begins in the file: after the signature, the header and
  // EntryCount records (right after the header when the table is a stream), in 64
  // bits so that no data offset wraps around to them.
  uint64_t DataStart() const {
    return uint64_t{start_offset_} + kArchivePrologueSize +
           (table_stream_ || index_at_ ? 0 : uint64_t{EntryRecord::kSize} * GetEntryCount());
  }
  // The stored size of the table's zlib stream (layout.h), 0 when the table is stored.
  uint32_t TableStreamSize() const { return table_stream_; }
  // Where the solid index lies from the start of the data area, and its size with the
  // table stream in it; 0 for an archive that has none.
  uint32_t SolidIndexAt() const { return index_at_; }
  uint32_t SolidIndexSize() const { return index_size_; }
  // The signature and header as read, for tools that show them.
  const unsigned char* signature() const { return signature_; }
  const unsigned char* header() const { return header_; }
  uint16_t GetEntryCount() const { return LoadU16(header_ + ArchiveHeader::kEntryCountOffset); }
  // The encoding of the entries' names as stored: UTF-8 in an archive whose sound
  // block says so, or whose signature is marked without a block; Windows-1250 in
  // every other.
  NameEncoding name_encoding() const { return names_; }
  // Records loaded by Open (fewer than the count when it failed part-way).
  uint32_t GetLoadedEntryCount() const { return loaded_; }
  // The raw record in a slot (1-based), for tools that inspect the table as stored;
  // nullptr for a slot that was not loaded.
  const unsigned char* GetSlotRecord(uint32_t slot) const {
    return slot >= 1 && slot <= loaded_ ? Slot(slot) : nullptr;
  }

  // ---- The extension block -----------------------------------------------------------
  ExtensionState extension() const { return extension_state_; }
  // Whether entries carry checksums: the block is there and sound.
  bool HasChecksums() const { return extension_state_ == ExtensionState::kSound; }
  // Whether the block was there but cannot be trusted (damaged, newer, or the
  // header and table do not match it): such an archive must not be extracted.
  bool ExtensionUnusable() const {
    return extension_state_ != ExtensionState::kAbsent && extension_state_ != ExtensionState::kSound;
  }
  // The sound block's flags (0 without one).
  uint32_t ExtensionFlags() const;
  // Whether some files are compressed, deflated or solid (the sound block says so).
  bool Compressed() const { return (ExtensionFlags() & (kExtensionDeflated | kExtensionSolid)) != 0; }
  // The blocks of a solid archive whose sound block says so (0 in any other).
  uint32_t SolidBlockCount() const { return solid_blocks_; }
  // Block index (0-based, below SolidBlockCount()).
  SolidBlock GetSolidBlock(uint32_t index) const;
  // Whether the signature is "RN-VEK" with a tail this reader takes: 00 01 or 00 02.
  // Only its eight bytes decide: a marked signature is taken with or without an
  // extension block (without one, its names are UTF-8).
  bool SignatureKnown() const;

  // ---- Lookups by identifier ---------------------------------------------------------
  // The first record, in table order among the EntryCount records, whose Id equals
  // id; when none does, false or the not-found values (kind kEntryKindNotFound, zeros,
  // nullptr).
  bool FindEntry(int32_t id, ArchiveEntry* entry) const;
  uint8_t GetEntryKind(int32_t id) const;
  uint16_t GetEntryParentId(int32_t id) const;
  // The entry's name bytes as stored (at most 232, in name_encoding()) and their
  // count; nullptr when not found.
  const char* GetEntryName(int32_t id, size_t* length) const;

  // ---- Paths (entrypath.cpp) ---------------------------------------------------------
  // The entry's path relative to the destination folder, in UTF-8 whatever the names'
  // encoding: separator + name for every ancestor, outermost first, then the entry's
  // own. Empty when no record holds id. A parent that no record holds ends the walk; a
  // cycle ends it after EntryCount levels. A Windows-1250 byte that is no character
  // becomes U+FFFD (CheckEntryPath refuses it). Check failed() on the result when
  // memory may run out.
  AnsiString GetEntryPath(int32_t id, char separator = '\\') const;
  // The entry's path judged alone (the answers are remembered until the reader closes).
  PathSafety CheckEntryPath(int32_t id) const;
  // CheckEntryPath, and then whether destination (UTF-8 on Windows, the platform's
  // bytes elsewhere) + the entry's path stays where the destination is: it must not
  // become a UNC or device path unless the destination is one, and the whole must not
  // be longer than the platform can create.
  PathSafety CheckEntryPathBelow(const AnsiString& destination, int32_t id) const;

 private:
  struct PathMemo;

  const unsigned char* Slot(uint32_t slot) const { return table_ + static_cast<size_t>(slot - 1) * EntryRecord::kSize; }
  const unsigned char* BlockRecord(uint32_t index) const {
    return index_ + SolidIndexHeader::kSize + size_t{index} * SolidBlockRecord::kSize;
  }
  uint32_t FindSlot(int32_t id) const;
  Error ReadExactly(void* buffer, uint32_t count);
  Error AllocateTable();
  Error LoadTable();
  Error InflateTable();
  Error LoadSolidIndex();
  bool JudgeSolidIndex() const;
  void ReadExtension(ExtensionPlace place);
  void ReleaseTable();

  ArchiveFile file_;
  uint32_t start_offset_ = 0;
  uint32_t table_stream_ = 0;  // the header's table stream size in a marked archive
  uint32_t index_at_ = 0;      // the header's solid index place, when that size is 0
  uint32_t index_size_ = 0;
  unsigned char* index_ = nullptr;  // the solid index as read, the table stream in it
  uint32_t block_count_ = 0;        // in the index
  uint32_t solid_blocks_ = 0;       // those, once the sound block says the archive is solid
  uint32_t prologue_crc_ = 0;       // of the signature, header and table stream, once inflated
  NameEncoding names_ = NameEncoding::kWindows1250;
  unsigned char signature_[ArchiveSignature::kSize] = {};
  unsigned char header_[ArchiveHeader::kSize] = {};
  unsigned char* table_ = nullptr;  // capacity_ records
  uint32_t capacity_ = 0;
  uint32_t loaded_ = 0;
  // The first slot (1-based) that holds each identifier, 0 for none, over the loaded
  // slots, so that a lookup costs the same whatever the table's size.
  uint32_t* first_slot_ = nullptr;
  // Per slot: what CheckEntryPath found, filled on demand.
  mutable PathMemo* memo_ = nullptr;
  // Scratch room for the slots of one walk up the parent links, capacity_ long.
  uint32_t* walk_ = nullptr;
  // The extension block as read (only kept when sound).
  unsigned char* extension_ = nullptr;
  ExtensionState extension_state_ = ExtensionState::kAbsent;
};

}  // namespace vek
