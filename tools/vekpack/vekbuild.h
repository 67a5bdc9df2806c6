// The archive builder: packs a folder, or entries given one by one, into a VEK
// archive, bare or appended to a copy of the stub as a self-extracting executable.
#pragma once

#include <stdint.h>
#include <time.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vek::build {

// A refusal: the message names the path concerned.
class BuildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The builder's rights notice: 32 characters, beginning and ending with a space.
inline constexpr char kRightsNotice[] = " vekpack (c) 2026 the VEK team. ";
static_assert(sizeof(kRightsNotice) - 1 == 32);

inline constexpr uint32_t kFileAttributes = 0x20;  // archive
inline constexpr uint32_t kReadOnlyAttribute = 0x01;

struct Entry {
  uint16_t id = 0;
  uint16_t parent_id = 0;
  uint8_t kind = 0;          // 0 directory, 255 file
  std::string name;          // Windows-1250 bytes
  uint32_t attributes = 0;
  uint32_t time_stamp = 0;   // MS-DOS date (high 16 bits) and time, local time
  int32_t size = 0;
  uint32_t data_offset = 0;
  std::string source;        // file to take the data from, or empty for `data`
  int64_t source_modified = -1;  // the source's modification time when scanned, in
                                 // nanoseconds since 1970; -1 when not known
  std::string data;          // the data itself, when no source is given
  std::string display_path;  // for messages: the path as the user knows it
};

// Converts a time to an MS-DOS time stamp in local time (2-second steps, rounded
// down). Times before 1980 or after 2107 are clamped; clamped is then set.
uint32_t ToDosTimeStamp(time_t t, bool* clamped);

class ArchiveBuilder {
 public:
  // Adds a directory below parent (0: the archive root) and returns its identifier;
  // display_path names it in messages (default: its name).
  uint16_t AddDirectory(uint16_t parent, std::string name, std::string display_path = {});
  // Adds a file with its bytes in memory.
  uint16_t AddFile(uint16_t parent, std::string name, std::string data, uint32_t time_stamp,
                   uint32_t attributes = kFileAttributes);
  // Adds a file whose bytes are read from source when the archive is written; a
  // file whose size or (when given) modification time is not what they were then is
  // refused as changed while it was read.
  uint16_t AddFileFromSource(uint16_t parent, std::string name, std::string source, int32_t size,
                             uint32_t time_stamp, uint32_t attributes, std::string display_path,
                             int64_t modified = -1);

  const std::vector<Entry>& entries() const { return entries_; }
  // Size of the archive: signature, header, records and data.
  uint64_t ArchiveSize() const;

  // The signature, header and entry table, as they precede the data.
  std::string SerializePrologue() const;
  // The whole archive in memory (tests and small archives).
  std::string Serialize() const;

 private:
  uint16_t Add(Entry entry);
  std::vector<Entry> entries_;
  uint64_t data_size_ = 0;
};

struct PackOptions {
  std::string source_folder;  // UTF-8 on POSIX
  std::string output;
  std::string stub;           // empty: a bare archive
  // Called now and then while data is written: bytes done, bytes in all.
  std::function<void(uint64_t, uint64_t)> progress;
  // Called for each warning (clamped times, skipped special files).
  std::function<void(const std::string&)> warn;
};

struct PackResult {
  uint32_t files = 0;
  uint32_t directories = 0;
  uint64_t data_bytes = 0;
  uint64_t archive_bytes = 0;
  uint64_t output_bytes = 0;
  uint32_t start_offset = 0;
};

// Walks source_folder into builder: at each level the files first, then each
// subdirectory followed by its contents, names in byte order. Throws BuildError.
void ScanFolder(const std::string& source_folder, ArchiveBuilder& builder,
                const std::function<void(const std::string&)>& warn);

// Sets the start-offset constant in a copy of the stub's bytes to the stub's length;
// throws BuildError when the stub has no such constant.
std::string PrepareStub(const std::string& stub_bytes, const std::string& stub_name);

// Writes builder's archive (after the stub, if any) to options.output through a
// temporary file that replaces the output only when everything was written: created
// exclusively next to the output (never through a name planted there), flushed to
// the disk before it replaces the output, removed on an interrupt, termination or
// hang-up. The output itself is never packed: a source file that is the output is
// refused.
PackResult WriteArchive(const ArchiveBuilder& builder, const PackOptions& options);

// ScanFolder + WriteArchive; an output inside the source folder is refused.
PackResult Pack(const PackOptions& options);

}  // namespace vek::build
