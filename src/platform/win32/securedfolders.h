// The memory of a file edge for the folders below a destination that it has found
// to be real folders (no link, junction or other reparse point), so that the files
// of one folder cost no check after the first: entries come folder by folder.
#pragma once

#include <stddef.h>
#include <string.h>

#include "ansistring.h"

namespace vek {

class SecuredFolders {
 public:
  // separator: the one of the edge's paths.
  explicit SecuredFolders(char separator) : separator_(separator) {}

  // Where the check of the folders of path[0, length) below its first
  // destination_length bytes has to begin: length when they were all checked, else
  // the end of the deepest folder that path shares with the checked one. Each check
  // goes one "\"-separated name at a time from there.
  size_t StartOf(const char* path, size_t length, size_t destination_length) const {
    if (length <= destination_length) return length;
    if (checked_.size() >= length && memcmp(checked_.c_str(), path, length) == 0 &&
        (checked_.size() == length || checked_[length] == separator_)) {
      return length;
    }
    size_t common = 0;
    while (common < length && common < checked_.size() && path[common] == checked_[common]) ++common;
    for (size_t k = common; k > destination_length; --k) {
      if ((k == length || path[k] == separator_) && (k == checked_.size() || checked_[k] == separator_)) return k;
    }
    return destination_length;
  }
  // The end of the name that begins at position (a separator) in path[0, length).
  size_t NextEnd(const char* path, size_t length, size_t position) const {
    size_t next = position + 1;
    while (next < length && path[next] != separator_) ++next;
    return next;
  }
  // path[0, end) is a real folder, and every folder above it below the destination.
  void Remember(const char* path, size_t end, size_t destination_length) {
    if (end <= destination_length) return;
    checked_.Clear();
    checked_.Append(path, end);
    if (checked_.failed()) Forget();
  }
  // What was found may have changed (another run, another destination).
  void Forget() { checked_ = AnsiString(); }

 private:
  char separator_;
  AnsiString checked_;
};

}  // namespace vek
