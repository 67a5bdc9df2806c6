// The Windows error code that stands for an errno value, so that failures read the
// same on every platform ("File access denied" for EACCES, ...).
#pragma once

#include <stdint.h>

namespace vek {

uint32_t TranslateErrno(int error_number);

// The code for a failure to open or create the file at path (native bytes): as
// TranslateErrno, except that a missing file whose folder is missing too is 3
// "path not found" rather than 2, as Windows reports it.
uint32_t TranslateOpenErrno(int error_number, const char* path);

}  // namespace vek
