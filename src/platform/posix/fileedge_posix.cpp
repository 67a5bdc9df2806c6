// The file edge on POSIX systems. Paths arrive as Windows-1250 Windows paths: the
// backslashes become "/" and the bytes UTF-8. Windows' notions are kept where a
// caller relies on them: a file without write bits is read-only and refuses to be
// opened for writing even by root, and errno values become Windows error codes.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "cp1250.h"
#include "fileedge.h"
#include "posixerror.h"

namespace vek {

uint32_t TranslateErrno(int e) {
  switch (e) {
    case ENOENT: return 2;
    case ENOTDIR: return kWinErrorPathNotFound;
    case EMFILE:
    case ENFILE: return kIoTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY: return kIoAccessDenied;
    case EBADF: return kWinErrorInvalidHandle;
    case ENOMEM: return kWinErrorNotEnoughMemory;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return kWinErrorDiskFull;
    case EFBIG: return kWinErrorDiskFull;
    case EEXIST: return kWinErrorFileExists;
    case EINVAL: return kWinErrorInvalidParameter;
    case ENAMETOOLONG: return kWinErrorFilenameTooLong;
    case EILSEQ: return kWinErrorInvalidName;
    default: return 1117;  // ERROR_IO_DEVICE
  }
}

uint32_t TranslateOpenErrno(int e, const char* path) {
  if (e != ENOENT) return TranslateErrno(e);
  const char* slash = strrchr(path, '/');
  if (!slash || slash == path) return TranslateErrno(e);
  size_t length = static_cast<size_t>(slash - path);
  char* parent = static_cast<char*>(malloc(length + 1));
  if (!parent) return TranslateErrno(e);
  memcpy(parent, path, length);
  parent[length] = 0;
  struct stat st;
  bool folder_there = stat(parent, &st) == 0 && S_ISDIR(st.st_mode);
  free(parent);
  return folder_there ? TranslateErrno(e) : kWinErrorPathNotFound;
}

namespace {

// A Windows path in Windows-1250 as a POSIX path in UTF-8; empty on failure.
class NativePath {
 public:
  explicit NativePath(const char* path) {
    size_t length = strlen(path);
    size_t size = length * 3 + 1;
    buffer_ = static_cast<char*>(malloc(size));
    if (!buffer_) return;
    if (Cp1250ToUtf8(path, length, buffer_, size) == static_cast<size_t>(-1)) {
      free(buffer_);
      buffer_ = nullptr;
      return;
    }
    for (char* p = buffer_; *p; ++p) {
      if (*p == '\\') *p = '/';
    }
  }
  ~NativePath() { free(buffer_); }
  NativePath(const NativePath&) = delete;
  NativePath& operator=(const NativePath&) = delete;
  const char* get() const { return buffer_; }

 private:
  char* buffer_ = nullptr;
};

bool IsReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

mode_t CurrentUmask() {
  static mode_t mask = [] {
    mode_t m = umask(022);
    umask(m);
    return m;
  }();
  return mask;
}

bool DosToLocalTime(uint32_t stamp, time_t* out) {
  unsigned date = stamp >> 16;
  unsigned time_part = stamp & 0xFFFF;
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  tm.tm_year = static_cast<int>((date >> 9) & 0x7F) + 1980 - 1900;
  tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>(date & 0x1F);
  tm.tm_hour = static_cast<int>((time_part >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((time_part >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>(time_part & 0x1F) * 2;
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > kDays[tm.tm_mon] ||
      tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59) {
    return false;
  }
  int year = tm.tm_year + 1900;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (tm.tm_mon == 1 && tm.tm_mday == 29 && !leap) return false;
  tm.tm_isdst = -1;
  time_t t = mktime(&tm);
  if (t == static_cast<time_t>(-1)) return false;
  *out = t;
  return true;
}

class PosixFileEdge final : public FileEdge {
 public:
  Error OpenRead(const char* path, FileHandle* file) override {
    NativePath native(path);
    if (!native.get()) return InOutError(kWinErrorInvalidName);
    int fd = open(native.get(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return InOutError(TranslateOpenErrno(errno, native.get()));
    *file = fd;
    return NoError();
  }

  Error Create(const char* path, FileHandle* file) override {
    NativePath native(path);
    if (!native.get()) return InOutError(kWinErrorInvalidName);
    // Open without truncating first: a read-only file must come out untouched.
    int fd = open(native.get(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return InOutError(TranslateOpenErrno(errno, native.get()));
    struct stat st;
    if (fstat(fd, &st) != 0) {
      int e = errno;
      close(fd);
      return InOutError(TranslateErrno(e));
    }
    if (!S_ISREG(st.st_mode) || IsReadOnlyMode(st.st_mode)) {
      close(fd);
      return InOutError(kIoAccessDenied);
    }
    if (st.st_size != 0 && ftruncate(fd, 0) != 0) {
      int e = errno;
      close(fd);
      return InOutError(TranslateErrno(e));
    }
    *file = fd;
    return NoError();
  }

  Error Seek(FileHandle file, int64_t offset) override {
    if (offset < 0) return InOutError(kWinErrorNegativeSeek);
    static_assert(sizeof(off_t) >= sizeof(int64_t), "64-bit file positions needed");
    if (lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) < 0) {
      return InOutError(TranslateErrno(errno));
    }
    return NoError();
  }

  Error Read(FileHandle file, void* buffer, uint32_t count, uint32_t* done) override {
    *done = 0;
    char* p = static_cast<char*>(buffer);
    // A regular file delivers what it has; keep reading across interruptions and
    // partial transfers as ReadFile does.
    while (*done < count) {
      ssize_t n = read(static_cast<int>(file), p + *done, count - *done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return InOutError(TranslateErrno(errno));
      }
      if (n == 0) break;
      *done += static_cast<uint32_t>(n);
    }
    return NoError();
  }

  Error Write(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) override {
    *done = 0;
    const char* p = static_cast<const char*>(buffer);
    while (*done < count) {
      ssize_t n = write(static_cast<int>(file), p + *done, count - *done);
      if (n < 0) {
        if (errno == EINTR) continue;
        // A full disk after part of the bytes went is as much a failure as one
        // before the first: *done tells how many went.
        return InOutError(TranslateErrno(errno));
      }
      if (n == 0) break;
      *done += static_cast<uint32_t>(n);
    }
    return NoError();
  }

  // Lets the kernel move the bytes between the files (no copy through user space);
  // falls back to reading and writing where the files do not allow it.
  Error CopyBlock(FileHandle from, FileHandle to, void* buffer, uint32_t count, uint32_t* read,
                  uint32_t* written) override {
#ifdef __linux__
    if (copy_range_usable_) {
      uint32_t total = 0;
      *read = 0;
      *written = 0;
      while (total < count) {
        ssize_t n = copy_file_range(static_cast<int>(from), nullptr, static_cast<int>(to), nullptr, count - total, 0);
        if (n < 0) {
          if (errno == EINTR) continue;
          if (total == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                             errno == EBADF)) {
            copy_range_usable_ = false;  // not for these files: copy by hand from now on
            break;
          }
          // A failure after part of the block went (a full disk) is still a failure.
          *read = *written = total;
          return InOutError(TranslateErrno(errno));
        }
        if (n == 0) break;  // the end of the archive
        total += static_cast<uint32_t>(n);
      }
      if (copy_range_usable_) {
        *read = *written = total;
        return NoError();
      }
    }
#endif
    return FileEdge::CopyBlock(from, to, buffer, count, read, written);
  }

  Error Close(FileHandle file) override {
    if (close(static_cast<int>(file)) != 0 && errno != EINTR) return InOutError(TranslateErrno(errno));
    return NoError();
  }

  bool GetAttributes(const char* path, uint32_t* attributes) override {
    NativePath native(path);
    struct stat st;
    if (!native.get() || stat(native.get(), &st) != 0) return false;
    uint32_t a = 0;
    if (S_ISDIR(st.st_mode)) a |= kAttrDirectory;
    if (IsReadOnlyMode(st.st_mode)) a |= kAttrReadOnly;
    if (!S_ISDIR(st.st_mode)) a |= kAttrArchive;
    *attributes = a;
    return true;
  }

  bool MakeDirectory(const char* path) override {
    NativePath native(path);
    return native.get() && mkdir(native.get(), 0777) == 0;
  }

  bool SetAttributes(const char* path, uint32_t attributes) override {
    NativePath native(path);
    struct stat st;
    if (!native.get() || stat(native.get(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly) {
      mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else if (IsReadOnlyMode(mode)) {
      mode |= static_cast<mode_t>(0222 & ~CurrentUmask()) | S_IWUSR;
    }
    if (mode == (st.st_mode & 07777)) return true;
    return chmod(native.get(), mode) == 0;
  }

  bool SetLastWriteTime(const char* path, uint32_t dos_time_stamp) override {
    NativePath native(path);
    if (!native.get()) return false;
    // Windows opens the file for writing to set its time: a read-only file or a
    // directory refuses.
    struct stat st;
    if (stat(native.get(), &st) != 0 || !S_ISREG(st.st_mode) || IsReadOnlyMode(st.st_mode)) return false;
    time_t t;
    if (!DosToLocalTime(dos_time_stamp, &t)) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // access time left alone
    times[1].tv_sec = t;
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, native.get(), times, 0) == 0;
  }

  bool IsLeadByte(unsigned char) override { return false; }  // Windows-1250 is single-byte

 private:
  bool copy_range_usable_ = true;
};

}  // namespace

FileEdge& PlatformFileEdge() {
  static PosixFileEdge edge;
  return edge;
}

}  // namespace vek
