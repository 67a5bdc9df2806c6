// The pack edge: every file-system call that packing a folder makes. One
// implementation per platform (packedge_posix.cpp, packedge_win32.cpp) is picked by
// the build; tests wrap it to inject faults. The stub never uses it.
//
// Paths and names are UTF-8 on every platform (on POSIX the native bytes, whatever
// they are). As in the file edge, the platform's failures arrive as Windows error
// codes (2 file not found, 3 path not found, 112 disk full, ...).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "dostime.h"
#include "fileedge.h"

namespace vek {

// A folder opened for looking up names in it; kNoFolder marks none.
using FolderHandle = intptr_t;
inline constexpr FolderHandle kNoFolder = -1;

enum class FileKind : uint8_t { kFile, kFolder, kOther };

// What the packer learns of a path or an open file, links followed.
struct PathFacts {
  FileKind kind = FileKind::kOther;
  bool read_only = false;  // no write permission at all / the read-only attribute
  uint64_t size = 0;
  int64_t modified_ns = 0;  // modification time in nanoseconds since 1970 (UTC)
  uint64_t volume = 0;      // with index: the same pair is the same file
  uint64_t index = 0;
  bool SameFileAs(const PathFacts& other) const { return volume == other.volume && index == other.index; }
};

// A name as a folder's listing gives it; kind is what the listing tells without a
// look at the name itself (a link, or a file system that does not say, is unknown).
enum class ListedKind : uint8_t { kUnknown, kFile, kFolder, kOther };
struct ListedName {
  std::string name;
  ListedKind kind = ListedKind::kUnknown;
};

class PackEdge {
 public:
  virtual ~PackEdge() = default;

  // ---- Reading the source folder ---------------------------------------------------
  // Opens a folder (path, or name inside parent when parent is not kNoFolder) and
  // tells its facts: its identity tells a folder that contains itself.
  virtual Error OpenFolder(FolderHandle parent, const char* path, FolderHandle* folder, PathFacts* facts) = 0;
  virtual void CloseFolder(FolderHandle folder) = 0;
  // Every name in the folder but "." and "..", in no particular order.
  virtual Error ListFolder(FolderHandle folder, std::vector<ListedName>* names) = 0;
  // The facts of a path, or of a name inside folder (kNoFolder: name is a path).
  virtual Error Examine(FolderHandle folder, const char* name, PathFacts* facts) = 0;
  // Opens a file for reading (folder and name as for Examine); never waits on a
  // pipe or device that stands there, which then shows in its facts.
  virtual Error OpenRead(FolderHandle folder, const char* name, FileHandle* file) = 0;
  // The facts of an open file.
  virtual Error FileFacts(FileHandle file, PathFacts* facts) = 0;
  // Reads up to count bytes at the file's position: one call of the platform, which
  // may deliver fewer; *done is 0 at the end of the file.
  virtual Error Read(FileHandle file, void* buffer, size_t count, size_t* done) = 0;
  // Releases a file opened by OpenRead or CreateExclusive.
  virtual Error Close(FileHandle file) = 0;

  // ---- Writing the output ----------------------------------------------------------
  // Creates a new file for writing, readable by its owner only, never through a name
  // that exists already (a file or a planted link): 80 when the name is taken.
  virtual Error CreateExclusive(const char* path, FileHandle* file) = 0;
  // Writes all count bytes at offset, or fails (112 when the disk is full).
  virtual Error WriteAt(FileHandle file, uint64_t offset, const void* data, size_t count) = 0;
  // Moves up to count bytes from `from`'s position to `to` at offset inside the
  // system, without a copy through the program; *done is 0 at the end of `from`.
  // kWinErrorNotSupported when these files cannot be copied so (nothing moved).
  virtual Error CopyRange(FileHandle from, FileHandle to, uint64_t offset, uint64_t count, uint64_t* done) {
    *done = 0;
    return InOutError(kWinErrorNotSupported);
  }
  // Gives the complete file the access a new file gets and puts its bytes on the disk.
  virtual Error Commit(FileHandle file) = 0;
  // Renames from to `to`, replacing what `to` names.
  virtual Error Rename(const char* from, const char* to) = 0;
  virtual Error Remove(const char* path) = 0;
  // Puts the entries of the folder that holds path (a rename) on the disk.
  virtual Error SyncFolderOf(const char* path) = 0;
  // While set, an interrupt, a termination request or a hang-up removes the file at
  // path before the program ends; nullptr clears it.
  virtual void RemoveOnInterrupt(const char* path) = 0;
};

// The edge of the platform that this build targets.
PackEdge& PlatformPackEdge();

// The characters that separate a path's folders here, the one paths are joined with
// first ("/" on POSIX; "\\" and "/" on Windows).
extern const char kPathSeparators[];

// The local wall-clock reading of an instant (seconds since 1970, UTC) as this
// platform's extractor converts a stamp back; false when the platform cannot tell.
bool LocalReading(int64_t seconds, DosTime* out);

}  // namespace vek
