// The final-path check of what the Win32 edge opened below a destination (folderwalk.h).
#include "folderwalk_win32.h"

#include <stdlib.h>
#include <string.h>

#include "fileedge.h"

namespace vek {
namespace {

// The final path of an open file or folder (malloc'd, *length units without the
// terminating zero); nullptr when Windows tells none or memory ran out.
wchar_t* FinalPathOf(HANDLE opened, size_t* length) {
  DWORD size = MAX_PATH;
  for (;;) {
    wchar_t* buffer = static_cast<wchar_t*>(malloc(size * sizeof(wchar_t)));
    if (!buffer) return nullptr;
    const DWORD n = GetFinalPathNameByHandleW(opened, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n > 0 && n < size) {
      *length = n;
      return buffer;
    }
    free(buffer);
    if (n == 0) return nullptr;
    size = n + 1;
  }
}

bool SameText(const wchar_t* a, size_t a_length, const wchar_t* b, size_t b_length) {
  return CompareStringOrdinal(a, static_cast<int>(a_length), b, static_cast<int>(b_length), TRUE) == CSTR_EQUAL;
}

}  // namespace

void Win32FolderWalk::Forget() {
  destination_.Clear();
  known_ = false;
  free(final_);
  final_ = nullptr;
  final_length_ = 0;
}

bool Win32FolderWalk::Knows(const char* path, size_t destination_length) const {
  return known_ && destination_.size() == destination_length &&
         memcmp(destination_.data(), path, destination_length) == 0;
}

bool Win32FolderWalk::Below(const char* path, size_t* destination_length) const {
  const size_t n = destination_.size();
  if (!known_ || strlen(path) <= n || memcmp(destination_.data(), path, n) != 0 || path[n] != '\\') return false;
  *destination_length = n;
  return true;
}

void Win32FolderWalk::Learn(const char* path, size_t destination_length, HANDLE destination) {
  Forget();
  destination_.Append(path, destination_length);
  known_ = !destination_.failed();
  if (destination == INVALID_HANDLE_VALUE) return;
  final_ = FinalPathOf(destination, &final_length_);
  // A root ends in "\"; the entries' names each begin with one.
  if (final_ && final_length_ > 0 && final_[final_length_ - 1] == L'\\') --final_length_;
}

Error Win32FolderWalk::Check(HANDLE opened, const char* path, size_t destination_length) const {
  if (!final_) return NoError();
  size_t length = 0;
  wchar_t* found = FinalPathOf(opened, &length);
  if (!found) return NoError();
  const char* rest = path + destination_length;
  const int bytes = static_cast<int>(strlen(rest));
  const int units = bytes ? MultiByteToWideChar(CP_UTF8, 0, rest, bytes, nullptr, 0) : 0;
  wchar_t* names = static_cast<wchar_t*>(malloc((static_cast<size_t>(units) + 1) * sizeof(wchar_t)));
  const bool no_memory = !names;
  bool same = false;
  if (names) {
    if (units) MultiByteToWideChar(CP_UTF8, 0, rest, bytes, names, units);
    same = length == final_length_ + static_cast<size_t>(units) &&
           SameText(found, final_length_, final_, final_length_) &&
           SameText(found + final_length_, static_cast<size_t>(units), names, static_cast<size_t>(units));
  }
  free(names);
  free(found);
  if (no_memory) return OutOfMemoryError();
  return same ? NoError() : GeneralError(kNameLeadsElsewhere);
}

}  // namespace vek
