// The Windows error code that stands for an errno value, so that failures read the
// same on every platform ("File access denied" for EACCES, ...).
#pragma once

#include <stdint.h>

namespace vek {

uint32_t TranslateErrno(int error_number);

}  // namespace vek
