#include "nativefile.h"

#include "toolhost.h"

namespace vek::tools {

Error OpenNativeForReading(const std::string& path, FileHandle* handle) { return OpenNativeFile(path.c_str(), handle); }

}  // namespace vek::tools
