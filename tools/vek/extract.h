// vek extract: the extraction run of the stub, on any platform.
#pragma once

#include <string>

namespace vek::tools {

// Extracts every entry of the archive in path below folder (DestinationFolder, in
// toolhost.h, reads it); prints errors as the stub would word them. Returns the exit
// status.
int ExtractCommand(const std::string& path, const std::string& folder, bool progress);

}  // namespace vek::tools
