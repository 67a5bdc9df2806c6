// The pack edge on POSIX systems: names are looked up in their open folder (openat,
// fstatat), files are read with plain calls and the output is written at explicit
// offsets; on Linux larger files move into the output inside the kernel.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "packedge.h"
#include "posixerror.h"

namespace vek {
namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

Error ErrnoError() { return InOutError(TranslateErrno(errno)); }

void FactsFrom(const struct stat& st, PathFacts* facts) {
  facts->kind = S_ISREG(st.st_mode) ? FileKind::kFile : S_ISDIR(st.st_mode) ? FileKind::kFolder : FileKind::kOther;
  facts->read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  facts->size = static_cast<uint64_t>(st.st_size);
  facts->modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * kNanosecondsPerSecond + st.st_mtim.tv_nsec;
  facts->volume = static_cast<uint64_t>(st.st_dev);
  facts->index = static_cast<uint64_t>(st.st_ino);
}

ListedKind KindOf(unsigned char type) {
  switch (type) {
    case DT_REG: return ListedKind::kFile;
    case DT_DIR: return ListedKind::kFolder;
    case DT_LNK:
    case DT_UNKNOWN: return ListedKind::kUnknown;
    default: return ListedKind::kOther;
  }
}

int FolderFd(FolderHandle folder) { return folder == kNoFolder ? AT_FDCWD : static_cast<int>(folder); }

// The file that an interrupt removes; written before the handlers are installed.
char g_remove_on_interrupt[4096];

extern "C" void RemoveAndRaise(int signal_number) {
  if (g_remove_on_interrupt[0]) unlink(g_remove_on_interrupt);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

class PosixPackEdge final : public PackEdge {
 public:
  Error OpenFolder(FolderHandle parent, const char* path, FolderHandle* folder, PathFacts* facts) override {
    int fd = openat(FolderFd(parent), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return InOutError(errno == ENOTDIR ? kWinErrorPathNotFound : TranslateOpenErrno(errno, path));
    struct stat st;
    if (fstat(fd, &st) != 0) {
      Error e = ErrnoError();
      close(fd);
      return e;
    }
    FactsFrom(st, facts);
    *folder = fd;
    return NoError();
  }

  void CloseFolder(FolderHandle folder) override { close(static_cast<int>(folder)); }

  Error ListFolder(FolderHandle folder, std::vector<ListedName>* names) override {
    // The listing reads through a descriptor of its own, so the folder's stays free
    // for the lookups.
    int fd = openat(static_cast<int>(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return ErrnoError();
    DIR* dir = fdopendir(fd);
    if (!dir) {
      Error e = ErrnoError();
      close(fd);
      return e;
    }
    errno = 0;
    while (const struct dirent* entry = readdir(dir)) {
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      names->push_back({name, KindOf(entry->d_type)});
    }
    Error e = errno != 0 ? ErrnoError() : NoError();
    closedir(dir);
    return e;
  }

  Error Examine(FolderHandle folder, const char* name, PathFacts* facts) override {
    struct stat st;
    if (fstatat(FolderFd(folder), name, &st, 0) != 0) return InOutError(TranslateOpenErrno(errno, name));
    FactsFrom(st, facts);
    return NoError();
  }

  Error OpenRead(FolderHandle folder, const char* name, FileHandle* file) override {
    int fd = openat(FolderFd(folder), name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return InOutError(TranslateOpenErrno(errno, name));
    *file = fd;
    return NoError();
  }

  Error FileFacts(FileHandle file, PathFacts* facts) override {
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return ErrnoError();
    FactsFrom(st, facts);
    return NoError();
  }

  Error Read(FileHandle file, void* buffer, size_t count, size_t* done) override {
    for (;;) {
      ssize_t n = read(static_cast<int>(file), buffer, count);
      if (n >= 0) {
        *done = static_cast<size_t>(n);
        return NoError();
      }
      if (errno != EINTR) return ErrnoError();
    }
  }

  Error Close(FileHandle file) override {
    if (close(static_cast<int>(file)) != 0 && errno != EINTR) return ErrnoError();
    return NoError();
  }

  Error CreateExclusive(const char* path, FileHandle* file) override {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return InOutError(TranslateOpenErrno(errno, path));
    *file = fd;
    return NoError();
  }

  Error WriteAt(FileHandle file, uint64_t offset, const void* data, size_t count) override {
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
      ssize_t n = pwrite(static_cast<int>(file), p, count, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ErrnoError();
      if (n == 0) return InOutError(kWinErrorDiskFull);
      p += n;
      offset += static_cast<uint64_t>(n);
      count -= static_cast<size_t>(n);
    }
    return NoError();
  }

  Error CopyRange(FileHandle from, FileHandle to, uint64_t offset, uint64_t count, uint64_t* done) override {
    *done = 0;
#ifdef __linux__
    if (copy_range_usable_) {
      off_t at = static_cast<off_t>(offset);
      for (;;) {
        ssize_t n = copy_file_range(static_cast<int>(from), nullptr, static_cast<int>(to), &at, count, 0);
        if (n >= 0) {
          *done = static_cast<uint64_t>(n);
          return NoError();
        }
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF) {
          return ErrnoError();
        }
        copy_range_usable_ = false;  // not between these file systems: by hand from now on
        break;
      }
    }
#endif
    return InOutError(kWinErrorNotSupported);
  }

  // The mode a new file gets (0666 less the umask): the temporary file was made for
  // its owner alone until it was complete.
  Error Commit(FileHandle file) override {
    mode_t mask = umask(022);
    umask(mask);
    int fd = static_cast<int>(file);
    if (fchmod(fd, 0666 & ~mask) != 0 || fsync(fd) != 0) return ErrnoError();
    return NoError();
  }

  Error Rename(const char* from, const char* to) override {
    if (rename(from, to) != 0) return InOutError(TranslateOpenErrno(errno, to));
    return NoError();
  }

  Error Remove(const char* path) override {
    if (unlink(path) != 0) return InOutError(TranslateOpenErrno(errno, path));
    return NoError();
  }

  Error SyncFolderOf(const char* path) override {
    const char* slash = strrchr(path, '/');
    std::string folder = slash ? std::string(path, slash == path ? 1 : static_cast<size_t>(slash - path)) : ".";
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return ErrnoError();
    Error e = fsync(fd) != 0 ? ErrnoError() : NoError();
    close(fd);
    return e;
  }

  void RemoveOnInterrupt(const char* path) override {
    if (!path) {
      if (armed_) {
        for (size_t i = 0; i < sizeof kInterruptSignals / sizeof kInterruptSignals[0]; ++i) {
          sigaction(kInterruptSignals[i], &previous_[i], nullptr);
        }
      }
      armed_ = false;
      g_remove_on_interrupt[0] = 0;
      return;
    }
    size_t length = strlen(path);
    if (length >= sizeof g_remove_on_interrupt) return;
    memcpy(g_remove_on_interrupt, path, length + 1);
    if (armed_) return;
    struct sigaction action = {};
    action.sa_handler = RemoveAndRaise;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof kInterruptSignals / sizeof kInterruptSignals[0]; ++i) {
      sigaction(kInterruptSignals[i], &action, &previous_[i]);
    }
    armed_ = true;
  }

 private:
  bool copy_range_usable_ = true;
  bool armed_ = false;
  struct sigaction previous_[sizeof kInterruptSignals / sizeof kInterruptSignals[0]] = {};
};

}  // namespace

const char kPathSeparators[] = "/";

PackEdge& PlatformPackEdge() {
  static PosixPackEdge edge;
  return edge;
}

bool LocalReading(int64_t seconds, DosTime* out) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local;
  if (!localtime_r(&t, &local)) return false;
  *out = DosTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
  return true;
}

}  // namespace vek
