#include "nativefile.h"

#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "posixerror.h"
#endif

namespace vek::tools {

Error OpenNativeForReading(const std::string& path, FileHandle* handle) {
#ifdef _WIN32
  return PlatformFileEdge().OpenRead(path.c_str(), handle);
#else
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return InOutError(TranslateOpenErrno(errno, path.c_str()));
  *handle = fd;
  return NoError();
#endif
}

long long NativeFileSize(const std::string& path) {
#ifdef _WIN32
  struct _stat64 st;
  if (_stat64(path.c_str(), &st) != 0) return -1;
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
#endif
  return static_cast<long long>(st.st_size);
}

}  // namespace vek::tools
