// The file edge on POSIX systems. Paths are the system's own ("/" separates, any
// other byte is a name's) and reach it untouched. Windows' notions are kept where a
// caller relies on them: a file without write bits is read-only and refuses to be
// opened for writing even by root, and errno values become Windows error codes.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "ansistring.h"
#include "dostime.h"
#include "fileedge.h"
#include "folderwalk_posix.h"
#include "posixerror.h"
#include "winpath.h"

namespace vek {

uint32_t TranslateErrno(int e) {
  switch (e) {
    case ENOENT: return kWinErrorFileNotFound;
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
    default: return kWinErrorIoDevice;
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

bool IsReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

mode_t CurrentUmask() {
  static mode_t mask = [] {
    mode_t m = umask(022);
    umask(m);
    return m;
  }();
  return mask;
}

}  // namespace

bool DosStampToUnixTime(uint32_t stamp, time_t* out) {
  DosTime r;
  if (!DecodeDosTime(stamp, &r)) return false;
  // The wall-clock reading counted as if it were universal time; the instant is that
  // minus the zone's offset at the instant. localtime_r answers from the zone state
  // loaded once (mktime would look at /etc/localtime again on every call). Settle the
  // offset by a few rounds; a reading that the clock skips (the hour lost in spring)
  // makes them alternate between two offsets: take the later instant, as mktime does.
  const time_t wall =
      static_cast<time_t>(DaysFromCivil(r.year, r.month, r.day) * 86400 + r.hour * 3600 + r.minute * 60 + r.second);
  time_t t = wall;
  time_t before = wall;
  for (int round = 0; round < 3; ++round) {
    struct tm local;
    if (!localtime_r(&t, &local)) return false;
    time_t next = wall - static_cast<time_t>(local.tm_gmtoff);
    if (next == t) {
      *out = t;
      return true;
    }
    before = t;
    t = next;
  }
  *out = t > before ? t : before;
  return true;
}

namespace {

// Positions kept by the edge for files that were positioned with Seek, so that a seek
// costs no system call: reads and copies then name the position themselves.
constexpr int kTrackedFiles = 256;
// Positioned files are read ahead in pieces of this size, each into a buffer of its
// own (so that threads reading files of their own share nothing); copies of at least
// kKernelCopyMin bytes that were not read ahead go from file to file in the kernel.
constexpr uint32_t kReadAhead = 128 * 1024;
constexpr uint32_t kKernelCopyMin = 32 * 1024;

// What was read ahead of a positioned file: length bytes from start.
struct ReadAhead {
  char* bytes = nullptr;  // kReadAhead of them, once the file is first read ahead
  off_t start = 0;
  size_t length = 0;
  bool Holds(off_t from, off_t count) const {
    return from >= start && from + count <= start + static_cast<off_t>(length);
  }
};

class PosixFileEdge final : public FileEdge {
 public:
  PosixFileEdge() {
    tzset();  // the zone is read once; localtime_r then answers from it
    (void)CurrentUmask();
  }

  char Separator() const override { return '/'; }

  Error OpenRead(const char* path, FileHandle* file) override {
    walk_.Forget();  // a new run: the destination may have changed since the last
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return InOutError(TranslateOpenErrno(errno, path));
    *file = fd;
    return NoError();
  }

  Error Create(const char* path, FileHandle* file) override {
    // Open without truncating first: a read-only file must come out untouched.
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return InOutError(TranslateOpenErrno(errno, path));
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

  // Only remembers the position; the next read or copy starts there.
  Error Seek(FileHandle file, int64_t offset) override {
    if (offset < 0) return InOutError(kWinErrorNegativeSeek);
    static_assert(sizeof(off_t) >= sizeof(int64_t), "64-bit file positions needed");
    int fd = static_cast<int>(file);
    if (fd >= 0 && fd < kTrackedFiles) {
      tracked_[fd] = true;
      position_[fd] = static_cast<off_t>(offset);
      return NoError();
    }
    if (lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return InOutError(TranslateErrno(errno));
    return NoError();
  }

  Error Read(FileHandle file, void* buffer, uint32_t count, uint32_t* done) override {
    *done = 0;
    int fd = static_cast<int>(file);
    off_t* position = Position(fd);
    char* p = static_cast<char*>(buffer);
    // A regular file delivers what it has; keep reading across interruptions and
    // partial transfers as ReadFile does. A positioned file (an archive) is read
    // ahead in large pieces, which serve the many small reads of records and files.
    while (*done < count) {
      uint32_t want = count - *done;
      ssize_t n;
      if (position) {
        ReadAhead& ahead = ahead_[fd];
        if (ahead.Holds(*position, 1)) {
          size_t have = static_cast<size_t>(ahead.start + static_cast<off_t>(ahead.length) - *position);
          size_t take = have < want ? have : want;
          memcpy(p + *done, ahead.bytes + (*position - ahead.start), take);
          *done += static_cast<uint32_t>(take);
          *position += static_cast<off_t>(take);
          continue;
        }
        if (want < kReadAhead && !ahead.bytes) ahead.bytes = static_cast<char*>(malloc(kReadAhead));
        if (want < kReadAhead && ahead.bytes) {
          n = pread(fd, ahead.bytes, kReadAhead, *position);
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) return InOutError(TranslateErrno(errno));
          ahead.start = *position;
          ahead.length = static_cast<size_t>(n);
          if (n == 0) break;
          continue;
        }
        n = pread(fd, p + *done, want, *position);
      } else {
        n = read(fd, p + *done, want);
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        return InOutError(TranslateErrno(errno));
      }
      if (n == 0) break;
      *done += static_cast<uint32_t>(n);
      if (position) *position += n;
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
  // falls back to reading and writing where the files do not allow it. A failure
  // after some bytes went (a full disk) is a failure, not a short copy.
  Error CopyBlock(FileHandle from, FileHandle to, void* buffer, uint32_t count, uint32_t* read,
                  uint32_t* written) override {
#ifdef __linux__
    off_t* position = Position(static_cast<int>(from));
    // Small pieces, and what was read ahead already, come from the read-ahead buffer.
    bool ahead = position && (count < kKernelCopyMin || ahead_[from].Holds(*position, static_cast<off_t>(count)));
    if (copy_range_usable_ && !ahead) {
      uint32_t total = 0;
      *read = 0;
      *written = 0;
      while (total < count) {
        ssize_t n = copy_file_range(static_cast<int>(from), position, static_cast<int>(to), nullptr, count - total, 0);
        if (n < 0) {
          if (errno == EINTR) continue;
          if (total == 0 &&
              (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF)) {
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
    return CopyThroughBuffer(*this, from, to, buffer, count, read, written);
  }

  Error Close(FileHandle file) override {
    int fd = static_cast<int>(file);
    if (fd >= 0 && fd < kTrackedFiles && tracked_[fd]) {
      // An archive goes, and with it the folders held while it was extracted.
      tracked_[fd] = false;
      free(ahead_[fd].bytes);
      ahead_[fd] = ReadAhead();
      walk_.Forget();
    }
    if (close(fd) != 0 && errno != EINTR) return InOutError(TranslateErrno(errno));
    return NoError();
  }

  Error MakeEntryFolder(const char* path, size_t length, size_t destination_length) override {
    return walk_.MakeFolder(path, length, destination_length);
  }

  // The file is made relative to its folder's descriptor (PosixFolderWalk), so no link
  // on the way, swapped in whenever, can take it elsewhere.
  Error CreateEntryFile(const char* path, size_t destination_length, FileHandle archive, FileHandle* file) override {
    size_t name = strlen(path);
    while (name > destination_length && path[name - 1] != '/') --name;
    if (name <= destination_length) return InOutError(kWinErrorPathNotFound);
    int folder = -1;
    VEK_TRY(walk_.Open(path, name - 1, destination_length, PosixFolderWalk::Missing::kFail, &folder));
    const char* leaf = path + name;
    // A new file, never through a link. Whatever stands there already is looked at
    // and, unless it must be kept, removed, and the file made anew.
    for (int attempt = 0;; ++attempt) {
      int fd = openat(folder, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd >= 0) {
        *file = fd;
        return NoError();
      }
      if (errno != EEXIST || attempt == 2) return InOutError(TranslateErrno(errno));
      struct stat st;
      if (fstatat(folder, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      if (S_ISDIR(st.st_mode)) return InOutError(kIoAccessDenied);
      if (S_ISREG(st.st_mode)) {
        if (IsReadOnlyMode(st.st_mode)) return InOutError(kIoAccessDenied);
        struct stat source;
        if (archive != kNoFile && fstat(static_cast<int>(archive), &source) == 0 && source.st_dev == st.st_dev &&
            source.st_ino == st.st_ino) {
          return GeneralError(kOverwritesArchive);
        }
      }
      // A link, a file with other names, or an old copy: replaced, never written
      // through or truncated in place.
      if (unlinkat(folder, leaf, 0) != 0 && errno != ENOENT) return InOutError(TranslateErrno(errno));
    }
  }

  // The file is the one CreateEntryFile just made: a regular file, writable, with the
  // mode 0666 less the umask. Its time and mode are set through the descriptor.
  Error FinishEntryFile(FileHandle file, const char* path, uint32_t dos_time_stamp, uint32_t attributes) override {
    int fd = static_cast<int>(file);
    // The entries of an archive mostly share a few stamps: the last one's instant is kept.
    if (dos_time_stamp != stamp_ || !stamp_known_) {
      stamp_ = dos_time_stamp;
      stamp_known_ = true;
      stamp_valid_ = DosStampToUnixTime(dos_time_stamp, &stamp_time_);
    }
    const time_t t = stamp_time_;
    if (stamp_valid_) {
      struct timespec times[2];
      times[0].tv_sec = 0;
      times[0].tv_nsec = UTIME_OMIT;  // access time left alone
      times[1].tv_sec = t;
      times[1].tv_nsec = 0;
      (void)futimens(fd, times);
    }
    const mode_t made = 0666 & ~CurrentUmask();
    mode_t mode = made;
    if (attributes & kAttrReadOnly) {
      mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else if (IsReadOnlyMode(mode)) {
      mode |= S_IWUSR;
    }
    if (mode != made) (void)fchmod(fd, mode);
    return Close(file);
  }

  // The file of the entry just made: removed from the folder the walk holds for it.
  Error RemoveFile(const char* path) override {
    size_t name = strlen(path);
    while (name > 0 && path[name - 1] != '/') --name;
    const int folder = name > 0 ? walk_.Held(path, name - 1) : -1;
    if ((folder >= 0 ? unlinkat(folder, path + name, 0) : unlink(path)) != 0) return InOutError(TranslateErrno(errno));
    return NoError();
  }

  bool FreeSpace(const char* path, uint64_t* bytes) override {
    struct statvfs volume;
    if (statvfs(*path ? path : "/", &volume) != 0) return false;
    *bytes = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
    return true;
  }

  bool GetAttributes(const char* path, uint32_t* attributes) override {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    uint32_t a = 0;
    if (S_ISDIR(st.st_mode)) a |= kAttrDirectory;
    if (IsReadOnlyMode(st.st_mode)) a |= kAttrReadOnly;
    if (!S_ISDIR(st.st_mode)) a |= kAttrArchive;
    *attributes = a;
    return true;
  }

  Error MakeDirectory(const char* path) override {
    if (mkdir(path, 0777) == 0) return NoError();
    return InOutError(errno == EEXIST ? kWinErrorAlreadyExists : TranslateErrno(errno));
  }

  bool SetAttributes(const char* path, uint32_t attributes) override {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly) {
      mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else if (IsReadOnlyMode(mode)) {
      mode |= static_cast<mode_t>(0222 & ~CurrentUmask()) | S_IWUSR;
    }
    if (mode == (st.st_mode & 07777)) return true;
    return chmod(path, mode) == 0;
  }

 private:
  // The position of a file that Seek positioned, or nullptr: it is read at the
  // kernel's own position.
  off_t* Position(int fd) { return fd >= 0 && fd < kTrackedFiles && tracked_[fd] ? &position_[fd] : nullptr; }

  bool copy_range_usable_ = true;
  bool tracked_[kTrackedFiles] = {};
  off_t position_[kTrackedFiles] = {};
  PosixFolderWalk walk_;
  ReadAhead ahead_[kTrackedFiles];  // of the positioned files
  // The stamp FinishEntryFile converted last, and its instant when it is a date.
  uint32_t stamp_ = 0;
  bool stamp_known_ = false;
  bool stamp_valid_ = false;
  time_t stamp_time_ = 0;
};

class PosixUninstallQueries final : public UninstallQueries {
 public:
  bool FileStamp(const char* path, uint64_t* size, uint64_t* time) override {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *size = static_cast<uint64_t>(st.st_size);
    *time = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u + static_cast<uint64_t>(st.st_mtim.tv_nsec);
    return true;
  }

  bool RemoveEmptyFolder(const char* path) override { return rmdir(path) == 0; }

  uint32_t CountEntries(const char* path) override {
    DIR* folder = opendir(path);
    if (!folder) return 0;
    uint32_t count = 0;
    while (const dirent* entry = readdir(folder)) {
      const char* name = entry->d_name;
      count += !(name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2])));
    }
    closedir(folder);
    return count;
  }
};

}  // namespace

FileEdge& PlatformFileEdge() {
  static PosixFileEdge edge;
  return edge;
}

UninstallQueries& PlatformUninstallQueries() {
  static PosixUninstallQueries queries;
  return queries;
}

// Where the path is finally created: the limits its names and length must keep.
const PathLimits& PlatformPathLimits() { return kPosixPathLimits; }

}  // namespace vek
