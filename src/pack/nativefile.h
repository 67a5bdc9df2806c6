// Opening a file named in the platform's own terms (UTF-8 on POSIX, the ANSI code
// page on Windows) as a handle of the file edge, so the reader can use it.
#pragma once

#include <string>

#include "fileedge.h"

namespace vek::tools {

// Opens path for reading; returns the edge error on failure.
Error OpenNativeForReading(const std::string& path, FileHandle* handle);

}  // namespace vek::tools
