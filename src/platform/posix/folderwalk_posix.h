// The folders below a destination as open descriptors: each folder is opened relative
// to the one above it and never through a symbolic link, so that whatever another
// process does meanwhile (a folder swapped for a link to somewhere else), the files
// made relative to these descriptors stay below the destination.
//
// The walk keeps the descriptors of the folders of the path it walked last: entries
// come folder by folder, so the files of one folder cost no lookup after the first.
// A descriptor stands for the folder it was opened on, wherever that folder goes.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "ansistring.h"
#include "error.h"
#include "fileedge.h"

namespace vek {

class PosixFolderWalk {
 public:
  PosixFolderWalk() = default;
  ~PosixFolderWalk() {
    Forget();
    free(levels_);
  }
  PosixFolderWalk(const PosixFolderWalk&) = delete;
  PosixFolderWalk& operator=(const PosixFolderWalk&) = delete;

  // What becomes of a folder on the way that does not exist.
  enum class Missing : uint8_t {
    kFail,  // the path is not found (3), as opening a file in it would report
    kMake,  // it is made
  };

  // Opens the folders of path[0, length) ("/"-separated) below its first
  // destination_length bytes, the destination itself as it is (a link there is the
  // user's to choose) and every folder below it with O_NOFOLLOW. A link in place of
  // a folder is replaced by a real, empty folder, unless the folder was found real
  // earlier in this run: then another process swapped it, and the walk refuses
  // (kFolderSwapped). Anything else in place of a folder: 3, or 183 with kMake.
  // *folder receives the descriptor of path[0, length), which stays the walk's.
  Error Open(const char* path, size_t length, size_t destination_length, Missing missing, int* folder);

  // Makes the folder path[0, length) (kMake for the folders above it) without
  // opening it: a folder there already is as good; a link is dealt with as Open does.
  Error MakeFolder(const char* path, size_t length, size_t destination_length);

  // The descriptor of the folder path[0, length) when the walk holds it, else -1.
  int Held(const char* path, size_t length) const;

  // Closes every descriptor and forgets the folders found real: a new run begins.
  void Forget();

 private:
  struct Level {
    size_t end;  // of the folder's path in path_
    int fd;
  };
  Error Push(size_t end, int fd);
  // Opens (or makes, then opens) the folder `name` in parent; path_[0, end) is its path.
  Error OpenOne(int parent, const char* name, size_t end, Missing missing, int* fd);
  // What to do with a name in parent that is no folder: a link that never was a
  // folder in this run is removed (then true: try again); otherwise the failure.
  Error Obstacle(int parent, const char* name, size_t end, Missing missing, bool* again);
  void Remember(size_t end);
  bool Remembered(size_t end) const;
  uint64_t HashOf(size_t end) const;

  AnsiString path_;  // the walked path: the destination, then the held folders' names
  size_t destination_length_ = 0;
  Level* levels_ = nullptr;
  size_t depth_ = 0;
  size_t levels_capacity_ = 0;
  // The folders found real in this run, by a hash of their paths below the
  // destination (open addressing, 0 is free): a link found in place of one of
  // them was swapped in meanwhile. A false match only turns a replacement into a
  // refusal.
  uint64_t* seen_ = nullptr;
  size_t seen_count_ = 0;
  size_t seen_capacity_ = 0;
};

}  // namespace vek
