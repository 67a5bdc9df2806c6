// The walk of the folders below a destination by descriptors (folderwalk.h).
#include "folderwalk_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fileedge.h"
#include "posixerror.h"

namespace vek {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Rounds of "a link is there / it was removed / something is there again" before
// an entry is given up: only another process at work makes a second round.
constexpr int kAttempts = 3;

}  // namespace

void PosixFolderWalk::Forget() {
  while (depth_ > 0) close(levels_[--depth_].fd);
  path_.Clear();
  free(seen_);
  seen_ = nullptr;
  seen_count_ = seen_capacity_ = 0;
}

Error PosixFolderWalk::Push(size_t end, int fd) {
  if (depth_ == levels_capacity_) {
    size_t grown = levels_capacity_ ? 2 * levels_capacity_ : 16;
    Level* bigger = static_cast<Level*>(realloc(levels_, grown * sizeof(Level)));
    if (!bigger) {
      close(fd);
      return OutOfMemoryError();
    }
    levels_ = bigger;
    levels_capacity_ = grown;
  }
  levels_[depth_++] = Level{end, fd};
  return NoError();
}

uint64_t PosixFolderWalk::HashOf(size_t end) const {
  uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (size_t i = destination_length_; i < end; ++i) {
    h ^= static_cast<unsigned char>(path_[i]);
    h *= 1099511628211ull;
  }
  return h ? h : 1;
}

void PosixFolderWalk::Remember(size_t end) {
  if (2 * (seen_count_ + 1) > seen_capacity_) {
    size_t grown = seen_capacity_ ? 2 * seen_capacity_ : 256;
    uint64_t* bigger = static_cast<uint64_t*>(calloc(grown, sizeof(uint64_t)));
    if (!bigger) return;  // forgotten: a later swap there is replaced, not reported
    for (size_t i = 0; i < seen_capacity_; ++i) {
      if (!seen_[i]) continue;
      size_t at = seen_[i] & (grown - 1);
      while (bigger[at]) at = (at + 1) & (grown - 1);
      bigger[at] = seen_[i];
    }
    free(seen_);
    seen_ = bigger;
    seen_capacity_ = grown;
  }
  const uint64_t h = HashOf(end);
  size_t at = h & (seen_capacity_ - 1);
  while (seen_[at]) {
    if (seen_[at] == h) return;
    at = (at + 1) & (seen_capacity_ - 1);
  }
  seen_[at] = h;
  ++seen_count_;
}

bool PosixFolderWalk::Remembered(size_t end) const {
  if (!seen_capacity_) return false;
  const uint64_t h = HashOf(end);
  for (size_t at = h & (seen_capacity_ - 1); seen_[at]; at = (at + 1) & (seen_capacity_ - 1)) {
    if (seen_[at] == h) return true;
  }
  return false;
}

Error PosixFolderWalk::Obstacle(int parent, const char* name, size_t end, Missing missing, bool* again) {
  *again = true;
  struct stat st;
  if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) return NoError();  // changed
  if (!S_ISLNK(st.st_mode)) {
    return InOutError(missing == Missing::kMake ? kWinErrorAlreadyExists : kWinErrorPathNotFound);
  }
  if (Remembered(end)) return GeneralError(kFolderSwapped);
  // A link that stood there before: a real folder takes its place.
  if (unlinkat(parent, name, 0) != 0 && errno != ENOENT) return GeneralError(kLinkInTheWay);
  if (mkdirat(parent, name, 0777) == 0) {
    Remember(end);
  } else if (errno != EEXIST) {
    return InOutError(TranslateErrno(errno));
  }
  return NoError();
}

Error PosixFolderWalk::OpenOne(int parent, const char* name, size_t end, Missing missing, int* fd) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    *fd = openat(parent, name, kFolderFlags);
    if (*fd >= 0) {
      Remember(end);
      return NoError();
    }
    const int e = errno;
    if (e == ENOENT && missing == Missing::kMake) {
      if (mkdirat(parent, name, 0777) == 0) {
        Remember(end);  // made by this run: a link there later was swapped in
      } else if (errno != EEXIST) {
        return InOutError(TranslateErrno(errno));
      }
      continue;
    }
    if (e == ENOENT) return InOutError(kWinErrorPathNotFound);
    if (e != ELOOP && e != ENOTDIR) return InOutError(TranslateErrno(e));
    bool again = false;
    VEK_TRY(Obstacle(parent, name, end, missing, &again));
  }
  return GeneralError(Remembered(end) ? kFolderSwapped : kLinkInTheWay);
}

Error PosixFolderWalk::Open(const char* path, size_t length, size_t destination_length, Missing missing, int* folder) {
  if (depth_ == 0 || destination_length != destination_length_ || memcmp(path_.data(), path, destination_length) != 0) {
    Forget();
    path_.Append(path, destination_length);
    if (path_.failed()) return OutOfMemoryError();
    destination_length_ = destination_length;
    // The destination itself is opened as named (an empty one is the root).
    int fd = open(destination_length ? path_.c_str() : "/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return InOutError(TranslateOpenErrno(errno, path_.c_str()));
    VEK_TRY(Push(destination_length, fd));
  }
  // Keep the held folders that path runs through, close the others.
  size_t common = 0;
  const size_t limit = length < path_.size() ? length : path_.size();
  while (common < limit && path[common] == path_[common]) ++common;
  while (depth_ > 1) {
    const size_t end = levels_[depth_ - 1].end;
    if (end <= common && (end == length || path[end] == '/')) break;
    close(levels_[--depth_].fd);
  }
  size_t position = levels_[depth_ - 1].end;
  path_.Truncate(position);
  while (position < length) {
    size_t next = position + 1;
    while (next < length && path[next] != '/') ++next;
    path_.Append(path + position, next - position);
    if (path_.failed()) return OutOfMemoryError();
    int fd = -1;
    Error e = OpenOne(levels_[depth_ - 1].fd, path_.c_str() + position + 1, next, missing, &fd);
    if (!e) e = Push(next, fd);
    if (e) {
      path_.Truncate(position);
      return e;
    }
    position = next;
  }
  *folder = levels_[depth_ - 1].fd;
  return NoError();
}

Error PosixFolderWalk::MakeFolder(const char* path, size_t length, size_t destination_length) {
  // The leaf's name begins at `name`, after the separator at name - 1.
  size_t name = length;
  while (name > destination_length + 1 && path[name - 1] != '/') --name;
  if (name >= length || path[name - 1] != '/') return InOutError(kWinErrorPathNotFound);
  int parent = -1;
  VEK_TRY(Open(path, name - 1, destination_length, Missing::kMake, &parent));
  path_.Append(path + name - 1, length - (name - 1));
  if (path_.failed()) return OutOfMemoryError();
  const char* leaf = path_.c_str() + name;
  Error result = GeneralError(kLinkInTheWay);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (mkdirat(parent, leaf, 0777) == 0) {
      Remember(length);
      result = NoError();
      break;
    }
    if (errno != EEXIST) {
      result = InOutError(TranslateErrno(errno));
      break;
    }
    struct stat st;
    if (fstatat(parent, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
      Remember(length);
      result = NoError();
      break;
    }
    bool again = false;
    result = Obstacle(parent, leaf, length, Missing::kMake, &again);
    if (result) break;
    result = GeneralError(Remembered(length) ? kFolderSwapped : kLinkInTheWay);
  }
  path_.Truncate(name - 1);
  return result;
}

int PosixFolderWalk::Held(const char* path, size_t length) const {
  if (depth_ == 0 || path_.size() != length || memcmp(path_.data(), path, length) != 0) return -1;
  return levels_[depth_ - 1].fd;
}

}  // namespace vek
