#include "nativefile.h"

#include "toolhost.h"

namespace vek::tools {

Error OpenNativeForReading(const std::string& path, FileHandle* handle) { return OpenNativeFile(path.c_str(), handle); }

long long NativeFileSize(const std::string& path) {
  PathFacts facts;
  return ExamineNativePath(path.c_str(), &facts) ? static_cast<long long>(facts.size) : -1;
}

}  // namespace vek::tools
