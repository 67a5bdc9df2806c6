// Where the entries below a destination really land on Windows. A folder or file is
// opened by its full path, so a junction or link swapped in on the way by another
// process, or a short name (8.3 alias, "LONGFO~1") that names another entry's folder
// or file, would take the write elsewhere. The walk compares the final path of what
// was opened (GetFinalPathNameByHandleW: every link resolved, every name in its long
// form) with the destination's final path followed by the entry's names; what was
// opened elsewhere is refused.
#pragma once

#include <windows.h>

#include <stddef.h>

#include "ansistring.h"
#include "error.h"

namespace vek {

class Win32FolderWalk {
 public:
  Win32FolderWalk() = default;
  ~Win32FolderWalk() { Forget(); }
  Win32FolderWalk(const Win32FolderWalk&) = delete;
  Win32FolderWalk& operator=(const Win32FolderWalk&) = delete;

  // Whether the final path of the destination path[0, destination_length) is known
  // (else Learn it first).
  bool Knows(const char* path, size_t destination_length) const;
  // Whether path lies below the destination learnt last (*destination_length: its
  // length).
  bool Below(const char* path, size_t* destination_length) const;
  // Takes the destination's final path from an open handle of it (or none:
  // INVALID_HANDLE_VALUE).
  void Learn(const char* path, size_t destination_length, HANDLE destination);

  // Whether `opened` is path's own file or folder: its final path is, compared
  // without regard to case, that of the destination (path's first
  // destination_length bytes, UTF-8, learnt) followed by the rest of path;
  // kNameLeadsElsewhere when not. Where Windows tells no final path (of the
  // destination, or of a file on a file system that keeps none), nothing is compared.
  Error Check(HANDLE opened, const char* path, size_t destination_length) const;

  // A new run: the destination may be another.
  void Forget();

 private:
  AnsiString destination_;    // the destination whose final path is known
  bool known_ = false;        // Learn ran for destination_
  wchar_t* final_ = nullptr;  // its final path, without a trailing "\"
  size_t final_length_ = 0;
};

}  // namespace vek
