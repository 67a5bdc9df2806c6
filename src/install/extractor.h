// Extraction: writing an open reader's entries below a destination folder, and making
// the folders on the way.
#pragma once

#include <stdint.h>
#include <stdlib.h>

#include "ansistring.h"
#include "error.h"
#include "fileedge.h"
#include "rnvek100.h"

namespace vek {

inline constexpr uint32_t kCopyBlockSize = 32768;
inline constexpr char kErrorWritingFile[] = "Error writing file";
inline constexpr char kUnableToCreateDirectory[] = "Unable to create directory";

// Makes sure that the directory path and every missing directory above it exist,
// outermost first, in time linear in the path's length. Fails for an empty path
// ("Unable to create directory") and with the platform's code for a directory that
// could not be made and is not there afterwards (a file in its place, no permission).
Error ForceDirectoryChain(const char* path, TreeMaker& edge);
inline Error ForceDirectoryChain(const AnsiString& path, TreeMaker& edge) {
  return ForceDirectoryChain(path.c_str(), edge);
}

// Creates the destination folder with ForceDirectoryChain and makes sure that it is a
// directory afterwards: one that was not made ("D:" of a missing drive, a name of
// fewer than 3 bytes) is the input/output error 3 (kWinErrorPathNotFound).
Error ForceDestination(const AnsiString& destination, TreeMaker& edge);

// Whether extraction compares each file's stored bytes with its checksum as it writes
// the file (kVerify), or takes them as checked already (kTrusted: the stub checks the
// whole archive before it writes anything). Without checksums nothing is compared.
enum class DataCheck : uint8_t { kTrusted, kVerify };

// Room for copying entries, kept from one entry to the next by a caller that extracts
// many: a verified copy of a large file takes a MiB, which the system would otherwise
// map afresh (and fault in page by page) for every file. Without one, each entry
// allocates its own.
class CopyRoom {
 public:
  CopyRoom() = default;
  ~CopyRoom() { free(bytes_); }
  CopyRoom(const CopyRoom&) = delete;
  CopyRoom& operator=(const CopyRoom&) = delete;
  // At least size bytes, or nullptr when memory ran out.
  unsigned char* Get(size_t size);

 private:
  unsigned char* bytes_ = nullptr;
  size_t size_ = 0;
};

// Writes entry id of the reader below destination (no trailing backslash; empty for
// the root of the current drive) through tree, the edge of the reader's file or a
// wrapper of it (it takes the reader's handle): a directory is made,
// a file created and filled from the data area, other kinds produce nothing. An entry
// that CheckEntryPathBelow refuses fails with the input/output error 3
// (kIoInvalidFilename) before anything is made.
Error ExtractEntry(ArchiveReader& reader, TreeMaker& tree, int32_t id, const AnsiString& destination,
                   DataCheck check = DataCheck::kTrusted, CopyRoom* room = nullptr);

// Writes the file entry: its data is copied whole or the entry fails. Data cut short
// by the end of the archive is the input/output error 100 (kIoReadBeyondEnd), a write
// that stops short the disk-full code 112 (kWinErrorDiskFull); the bytes copied so far
// stay in the file. "Error writing file" is shown first when the last write
// transferred nothing. The file then gets the entry's time and attributes.
//
// A deflated file is inflated to exactly its original size (never more is written); a
// stream that does not give it is kBadCompressedData (inflate.h). With kVerify, a file
// with a checksum whose stored bytes do not match it is kDataDamaged, one whose
// records disagree kArchiveDamaged. A deflated file, or one verified, that fails in
// any way is removed again: nothing of it is left under its name. A file of a solid
// block is written as its block is decoded up to its end (DecodeBlock): checked
// whatever check says, and removed when it fails. Writing a block's files all at once
// is DecodeBlock's with all of them (solid.h).
Error ExtractFileEntry(ArchiveReader& reader, TreeMaker& tree, const ArchiveEntry& entry, const AnsiString& destination,
                       DataCheck check = DataCheck::kTrusted, CopyRoom* room = nullptr);

// The bytes that extracting every file writes: the sum of their original sizes.
uint64_t TotalOriginalSize(const ArchiveReader& reader);

// The failure of a file whose stored bytes do not match their checksum.
inline constexpr char kDataDamaged[] = "Damaged data: the checksum does not match";

}  // namespace vek
