// The archive writer: entries are added by name and place first; the writer copies
// each file's data and learns, as it opens the file, what its record holds (size,
// time, attributes, where the data lies, its checksum; in a solid archive, its block),
// then writes the entry table at its place ahead of the data (solid, in the index
// after it) and makes the extension block (extension.h). Bare archives and the
// archive behind a stub alike.
#pragma once

#include <stdint.h>
#include <time.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "archivesink.h"
#include "fileedge.h"
#include "layout.h"
#include "packedge.h"
#include "winpath.h"

namespace vek::build {

// The builder's rights notice: the header's 32 characters, beginning and ending with
// a space.
inline constexpr char kRightsNotice[] = " vekpack (c) 2026 the VEK team. ";
static_assert(sizeof(kRightsNotice) - 1 == ArchiveHeader::kNoticeMaxLength);

// Every file gets the archive attribute, and read-only when it has no write access.
inline constexpr uint32_t kFileAttributes = kAttrArchive;
inline constexpr uint32_t kReadOnlyAttribute = kAttrReadOnly;

// The extractor seeks with 32-bit signed positions: no file, and no archive with the
// stub before it, may reach 2 GiB.
inline constexpr uint64_t kPositionLimit = uint64_t{1} << 31;

struct Entry {
  uint16_t id = 0;
  uint16_t parent_id = 0;
  uint8_t kind = 0;  // 0 directory, 255 file
  std::string name;  // as stored: in the builder's name_encoding()
  uint32_t attributes = 0;
  uint32_t time_stamp = 0;       // MS-DOS date (high 16 bits) and time, local time
  int32_t size = 0;              // -1: learned when the data is written (with the time
                                 // and attributes)
  uint32_t data_offset = 0;      // where the sizes before it are known
  std::string source;            // file to take the data from, or empty for `data`
  int64_t source_modified = -1;  // the source's modification time when scanned, in
                                 // nanoseconds since 1970; -1 when not known
  std::string data;              // the data itself, when no source is given
  std::string display_path;      // for messages: the path as the user knows it (empty:
                                 // the source, else the name)
  const std::string& shown() const { return !display_path.empty() ? display_path : !source.empty() ? source : name; }
};

// Converts a time to an MS-DOS time stamp in local time (2-second steps, rounded
// down). Times before 1980 or after 2107 are clamped; clamped is then set.
uint32_t ToDosTimeStamp(time_t t, bool* clamped);

// A file's record as its facts give it: the stamp of its modification time (a
// warning names shown when the time is clamped; *clamped tells it too) and its
// attributes.
uint32_t StampOf(const PathFacts& facts, const std::string& shown, const std::function<void(const std::string&)>& warn,
                 bool* clamped = nullptr);
inline uint32_t AttributesOf(const PathFacts& facts) {
  return kFileAttributes | (facts.read_only ? kReadOnlyAttribute : 0);
}

inline constexpr int kDefaultCompressLevel = 9;
// A block's decoded bytes, at most: a tree up to 128 MiB is one stream, through which
// the 64 MiB dictionary slides (blocks share nothing: 64 MiB blocks made Wine's 78 MB
// of DLLs 2.8% larger), and a larger one is decoded on two processors or more. The
// decoder's memory is the dictionary's, whatever the block's size.
inline constexpr uint64_t kDefaultSolidBlockSize = uint64_t{128} << 20;
inline constexpr uint64_t kMaxSolidBlockSize = uint64_t{1} << 30;

// How the data is written.
struct ArchiveOptions {
  // Make the extension block: a checksum for every file and for the header and table.
  bool checksums = true;
  // 0: every file stored. 1 to 9: solid, LZMA at this level (a file that LZMA does
  // not shrink stays stored: WorthCompressing); needs checksums.
  int compress_level = 0;
  // The most decoded bytes of a solid block; a file never splits, and one larger has a
  // block of its own. 0: a block for each file.
  uint64_t solid_block_size = kDefaultSolidBlockSize;
  // Threads that encode blocks (0: one for each processor). The bytes are the same
  // whatever their number.
  unsigned threads = 0;
};

class ArchiveBuilder {
 public:
  // The encoding in which names are given and stored: Windows-1250, the plain layout
  // (the default), or UTF-8, which marks the archive (its signature ends 00 02).
  NameEncoding name_encoding() const { return names_; }
  // From now on names are UTF-8, and those added so far (Windows-1250) are converted.
  // Throws BuildError naming an entry whose name is then longer than 232 bytes.
  void StoreNamesInUtf8();

  // Adds a directory below parent (0: the archive root) and returns its identifier;
  // display_path names it in messages (default: its name).
  uint16_t AddDirectory(uint16_t parent, std::string name, std::string display_path = {});
  // Adds a file with its bytes in memory.
  uint16_t AddFile(uint16_t parent, std::string name, std::string data, uint32_t time_stamp,
                   uint32_t attributes = kFileAttributes);
  // Adds a file whose bytes are read from source when the archive is written; a
  // file whose size or (when given) modification time is not what they were then is
  // refused as changed while it was read.
  uint16_t AddFileFromSource(uint16_t parent, std::string name, std::string source, int32_t size, uint32_t time_stamp,
                             uint32_t attributes, std::string display_path, int64_t modified = -1);
  // Adds a file whose size, time and attributes are taken when the writer opens it.
  uint16_t AddSourceFile(uint16_t parent, std::string name, std::string source);

  const std::vector<Entry>& entries() const { return entries_; }
  // The whole archive in memory (tests and small archives), in the plain layout: no
  // extension block.
  std::string Serialize() const;
  // The whole bare archive as WriteArchiveTo writes it with options: with checksums,
  // the extension block and its footer after it.
  std::string Serialize(const ArchiveOptions& options) const;

 private:
  uint16_t Add(Entry entry);
  std::vector<Entry> entries_;
  NameEncoding names_ = NameEncoding::kWindows1250;
  uint64_t data_size_ = 0;
  bool sizes_known_ = true;
};

struct WriteHooks {
  // Called for each warning (clamped times).
  std::function<void(const std::string&)> warn;
  // Called now and then while data is written: files done, files in all.
  std::function<void(uint64_t, uint64_t)> progress;
  // The output as it stood before, when it is a file: a source that is this file is
  // refused, never packed into itself.
  const PathFacts* output = nullptr;
};

struct WrittenArchive {
  uint32_t files = 0;
  uint32_t directories = 0;
  uint32_t compressed = 0;  // files in solid blocks
  uint32_t blocks = 0;
  uint64_t data_bytes = 0;  // the files' own sizes
  uint64_t archive_bytes = 0;
  // The extension block, ready to be placed (empty without checksums).
  std::string extension;
};

// Writes builder's archive into sink from its position and finishes the sink: room
// for the signature, header and table, each file's data (from memory, or read from
// its source through edge), then the table at its place. Throws BuildError naming
// the path of a problem; the sink's output is then incomplete. The extension block
// comes back in the result: the caller places it (ExtensionTrailer for a bare
// archive; before the archive in an executable).
WrittenArchive WriteArchiveTo(const ArchiveBuilder& builder, ArchiveSink& sink, PackEdge& edge,
                              const WriteHooks& hooks = {}, const ArchiveOptions& options = {});

// What follows a bare archive: its extension block and the footer that finds it.
std::string ExtensionTrailer(const std::string& block);

}  // namespace vek::build
