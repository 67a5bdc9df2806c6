// The Windows error code that stands for an errno value, so that failures read the
// same on every platform ("File access denied" for EACCES, ...).
#pragma once

#include <stdint.h>
#include <time.h>

namespace vek {

uint32_t TranslateErrno(int error_number);

// The instant of an MS-DOS date (high 16 bits) and time (low 16 bits) read as local
// time in the zone loaded at start; false for a date or time that does not exist.
bool DosStampToUnixTime(uint32_t stamp, time_t* out);

}  // namespace vek
