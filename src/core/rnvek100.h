// rnvek100: the VEK archive reader and extractor.
//
// A VEK archive (layout.h) is an 8-byte signature, a 48-byte header, a table of 256-byte
// entry records and the uncompressed file data, all little-endian. This unit holds, once per
// process, the signature and header buffers and the entry table, reads them from an
// open archive file, answers lookups by entry identifier and builds relative paths
// from parent links.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ansistring.h"
#include "error.h"
#include "fileedge.h"
#include "layout.h"

namespace vek {

// The table's room when the archive holds fewer records; it grows to the entry count
// when there are more (at most 65,535).
inline constexpr uint32_t kEntryTableCapacity = 10000;

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
// No platform takes a longer path than this, whatever the destination.
inline constexpr size_t kMaxEntryPathLength = 32767;
PathSafety CheckEntryPath(int32_t id);
// CheckEntryPath, and then whether destination + the entry's path stays where the
// destination is: it must not become a UNC or device path unless the destination is
// one, and the whole must not be longer than the platform can create.
PathSafety CheckEntryPathBelow(const AnsiString& destination, int32_t id);
const char* DescribePathSafety(PathSafety safety);

// Number of slots loaded by the last LoadEntryTable (fewer than the count when it
// failed part-way).
uint32_t GetLoadedEntryCount();
// The raw record in a slot (1-based), for tools that inspect the table as stored;
// nullptr for a slot that was not loaded.
const unsigned char* GetSlotRecord(uint32_t slot);

}  // namespace vek

// ---- Extraction ----------------------------------------------------------------------

namespace vek {

inline constexpr uint32_t kCopyBlockSize = 32768;
inline constexpr char kErrorWritingFile[] = "Error writing file";
inline constexpr char kUnableToCreateDirectory[] = "Unable to create directory";

// Makes sure that the directory path and every missing directory above it exist,
// outermost first, in time linear in the path's length. Fails for an empty path
// ("Unable to create directory") and with the platform's code for a directory that
// could not be made and is not there afterwards (a file in its place, no permission).
Error ForceDirectoryChain(const char* path, FileEdge& edge);
inline Error ForceDirectoryChain(const AnsiString& path, FileEdge& edge) {
  return ForceDirectoryChain(path.c_str(), edge);
}

// Creates the destination folder with ForceDirectoryChain and makes sure that it is a
// directory afterwards: one that was not made ("D:" of a missing drive, a name of
// fewer than 3 bytes) is the input/output error 3, "path not found".
Error ForceDestination(const AnsiString& destination, FileEdge& edge);

// Writes entry id below destination (no trailing backslash; empty for the root of the
// current drive): a directory is made, a file created and filled from the data area,
// other kinds produce nothing. An entry that CheckEntryPathBelow refuses fails with the
// input/output error 3 ("Invalid filename") before anything is made.
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
