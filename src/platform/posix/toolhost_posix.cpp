// The tools' requests to a POSIX system.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "posixerror.h"
#include "toolhost.h"

namespace vek {

std::string SystemErrorText(uint32_t) { return std::string(); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

std::string ProgramFolder() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

bool DestinationFolder(const std::string& folder, std::string* destination) {
  // Only "/" separates: a "\\" is part of a name here.
  std::string d = folder.empty() ? "." : folder;
  while (!d.empty() && d.back() == '/') d.pop_back();
  if (!d.empty() && d[0] != '/' && d != ".") d = "./" + d;  // a relative folder's parent is "."
  *destination = d;                                         // empty: the root, which joins "/name"
  return true;
}

Error OpenNativeFile(const char* path, FileHandle* file) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return InOutError(TranslateOpenErrno(errno, path));
  *file = fd;
  return NoError();
}

bool ExamineNativePath(const char* path, PathFacts* facts) {
  return PlatformPackEdge().Examine(kNoFolder, path, facts).ok();
}

}  // namespace vek
