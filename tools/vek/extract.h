// vek extract: the extraction run of the stub, on any platform.
#pragma once

#include <string>

namespace vek::tools {

// Turns a folder named on the command line into the destination string of the
// extractor: Windows-1250, backslash separators, no trailing separator, and
// relative folders anchored at ".\" so that their chain can be created. A folder
// made only of separators ("/", "\") is the root (of the current drive on Windows):
// the empty destination. Returns false when the name cannot be written in
// Windows-1250.
bool DestinationFromArgument(const std::string& folder, std::string* destination);

// Extracts every entry of the archive in path below folder; prints errors as the
// stub would word them. Returns the exit status.
int ExtractCommand(const std::string& path, const std::string& folder, bool progress);

}  // namespace vek::tools
