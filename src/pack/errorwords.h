// Error reports for the command-line tools: the runtime's message, as the stub shows
// it, with the operating system's reason in words beside any bare code
// ("I/O error 112 (disk full)."), the same on every platform.
#pragma once

#include <string>

#include "error.h"

namespace vek::tools {

// The message with the reason beside it, without a final full stop.
std::string ErrorInWords(const Error& error);

// The report: the message with the reason and a full stop where the stub puts one.
std::string ReportInWords(const Error& error);

}  // namespace vek::tools
