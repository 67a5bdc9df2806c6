// A path's attributes as GetFileAttributesW gives them (INVALID_FILE_ATTRIBUTES when
// they cannot be read), through the call the stub imports anyway for stamps.
#pragma once

#include <windows.h>

namespace vek {

inline DWORD FileAttributes(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExW(path, GetFileExInfoStandard, &data) ? data.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

}  // namespace vek
