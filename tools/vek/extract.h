// vek extract: the extraction run of the stub, on any platform.
#pragma once

#include <string>
#include <vector>

namespace vek::tools {

// Extracts every entry of the archive in path below folder (DestinationFolder, in
// toolhost.h, reads it), or those that names choose (paths in the archive: each and
// what lies below it, and the folders above), decoding only the blocks that hold
// them; prints errors as the stub would word them. Returns the exit status.
int ExtractCommand(const std::string& path, const std::string& folder, bool progress,
                   const std::vector<std::string>& names = {});

}  // namespace vek::tools
