#include "vekbuild.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unordered_map>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#define vek_getpid _getpid
#else
#include <fcntl.h>
#include <unistd.h>
#define vek_getpid getpid
#endif

#include "cp1250.h"
#include "dostime.h"
#include "rnvek100.h"
#include "stubconfig.h"
#include "stubfile.h"
#include "winpath.h"

namespace vek::build {
namespace fs = std::filesystem;

namespace {

constexpr uint64_t kPositionLimit = uint64_t{1} << 31;  // 32-bit signed seeks
constexpr size_t kCopyBlock = 1 << 20;
constexpr uint64_t kKernelCopyThreshold = 256 * 1024;

std::string DisplayPath(const fs::path& p) {
#ifdef _WIN32
  std::u8string utf8 = p.u8string();
  return std::string(utf8.begin(), utf8.end());
#else
  return p.string();
#endif
}

// The name as Windows-1250 bytes; throws when the code page cannot represent it.
std::string NameToCp1250(const fs::path& name, const std::string& shown) {
  std::string out;
#ifdef _WIN32
  for (wchar_t c : name.wstring()) {
    unsigned char b;
    if (!UnicodeToCp1250(static_cast<uint32_t>(c), &b)) {
      throw BuildError(shown + ": the name cannot be written in Windows-1250");
    }
    out.push_back(static_cast<char>(b));
  }
#else
  const std::string& utf8 = name.native();
  std::vector<char> buffer(utf8.size() + 1);
  if (Utf8ToCp1250(utf8.data(), utf8.size(), buffer.data(), buffer.size()) == static_cast<size_t>(-1)) {
    throw BuildError(shown + ": the name cannot be written in Windows-1250");
  }
  out.assign(buffer.data());
#endif
  return out;
}

// Source paths are kept as UTF-8 on Windows and as the native bytes elsewhere.
std::string SourceString(const fs::path& p) {
#ifdef _WIN32
  return DisplayPath(p);
#else
  return p.native();
#endif
}

fs::path SourcePath(const std::string& s) {
#ifdef _WIN32
  return fs::path(std::u8string(s.begin(), s.end()));
#else
  return fs::path(s);
#endif
}

struct FileFacts {
  bool is_directory = false;
  bool is_regular = false;
  bool read_only = false;
  uint64_t size = 0;
  time_t modified = 0;
  int64_t modified_ns = 0;  // to the nanosecond where the platform tells
};

#ifdef _WIN32
int64_t ModifiedNs(const struct _stat64& st) { return static_cast<int64_t>(st.st_mtime) * 1000000000; }
#else
int64_t ModifiedNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}
#endif

// Facts about a path, following symbolic links; false when it cannot be examined.
bool Examine(const fs::path& p, FileFacts* facts) {
#ifdef _WIN32
  struct _stat64 st;
  if (_wstat64(p.c_str(), &st) != 0) return false;
  facts->is_directory = (st.st_mode & _S_IFDIR) != 0;
  facts->is_regular = (st.st_mode & _S_IFREG) != 0;
  facts->read_only = (st.st_mode & _S_IWRITE) == 0;
#else
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return false;
  facts->is_directory = S_ISDIR(st.st_mode);
  facts->is_regular = S_ISREG(st.st_mode);
  facts->read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
#endif
  facts->size = static_cast<uint64_t>(st.st_size);
  facts->modified = st.st_mtime;
  facts->modified_ns = ModifiedNs(st);
  return true;
}

#ifndef _WIN32
// The same for a name inside an open folder: the lookup starts there, not at the
// root of the path.
bool ExamineAt(int folder, const fs::path& p, FileFacts* facts) {
  if (folder < 0) return Examine(p, facts);
  struct stat st;
  if (fstatat(folder, p.filename().c_str(), &st, 0) != 0) return false;
  facts->is_directory = S_ISDIR(st.st_mode);
  facts->is_regular = S_ISREG(st.st_mode);
  facts->read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  facts->size = static_cast<uint64_t>(st.st_size);
  facts->modified = st.st_mtime;
  facts->modified_ns = ModifiedNs(st);
  return true;
}

// A folder open for looking up names in it; -1 when it cannot be opened.
class OpenFolder {
 public:
  explicit OpenFolder(const char* path) : fd_(open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~OpenFolder() {
    if (fd_ >= 0) close(fd_);
  }
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};
#endif

// The local time of t as the extractor will convert it back. On Windows the extractor
// uses LocalFileTimeToFileTime, which applies the system zone's offset of the moment,
// so the same conversion the other way makes a packed time come back exactly. (The C
// runtime would follow a TZ variable, set by some shells and passed in by Wine from
// the host, in a format of its own.)
bool LocalTime(time_t t, struct tm* out) {
#ifdef _WIN32
  if (t < 0) return false;
  ULARGE_INTEGER ticks;
  ticks.QuadPart = (static_cast<ULONGLONG>(t) + 11644473600ULL) * 10000000ULL;
  FILETIME utc{ticks.LowPart, ticks.HighPart}, local_time;
  SYSTEMTIME local;
  if (!FileTimeToLocalFileTime(&utc, &local_time) || !FileTimeToSystemTime(&local_time, &local)) return false;
  *out = {};
  out->tm_year = local.wYear - 1900;
  out->tm_mon = local.wMonth - 1;
  out->tm_mday = local.wDay;
  out->tm_hour = local.wHour;
  out->tm_min = local.wMinute;
  out->tm_sec = local.wSecond;
  return true;
#else
  return localtime_r(&t, out) != nullptr;
#endif
}

class Scanner {
 public:
  Scanner(ArchiveBuilder& builder, const std::function<void(const std::string&)>& warn)
      : builder_(builder), warn_(warn) {}

  void Level(const fs::path& dir, uint16_t parent) {
    std::error_code ec;
    fs::path canonical = fs::canonical(dir, ec);
    const bool pushed = !ec;
    if (pushed) {
      if (std::find(ancestors_.begin(), ancestors_.end(), canonical) != ancestors_.end()) {
        throw BuildError(DisplayPath(dir) + ": the folder contains itself through a symbolic link");
      }
      ancestors_.push_back(canonical);
    }
    std::vector<fs::path> names;
    fs::directory_iterator it(dir, ec);
    if (ec) throw BuildError(DisplayPath(dir) + ": cannot read the folder: " + ec.message());
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (ec) throw BuildError(DisplayPath(dir) + ": cannot read the folder: " + ec.message());
      names.push_back(it->path().filename());
    }
    if (ec) throw BuildError(DisplayPath(dir) + ": cannot read the folder: " + ec.message());
    std::sort(names.begin(), names.end(), [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });

    std::vector<Subdirectory> subdirs;
    std::unordered_map<std::string, std::string> taken;  // folded name -> shown path
#ifndef _WIN32
    OpenFolder folder(dir.c_str());
#endif
    for (const fs::path& name : names) {
      fs::path full = dir / name;
      const std::string shown = DisplayPath(full);
      FileFacts facts;
#ifdef _WIN32
      const bool examined = Examine(full, &facts);
#else
      const bool examined = ExamineAt(folder.fd(), full, &facts);
#endif
      if (!examined) throw BuildError(shown + ": cannot read it (a broken symbolic link?)");
      std::string cp = NameToCp1250(name, shown);
      if (cp.size() > EntryRecord::kNameMaxLength) throw BuildError(shown + ": the name is longer than 232 bytes");
      CheckName(cp, shown, taken);
      if (facts.is_directory) {
        subdirs.push_back({full, cp, shown});
        continue;
      }
      if (!facts.is_regular) {
        if (warn_) warn_(shown + ": not a regular file or folder; skipped");
        continue;
      }
      if (facts.size >= kPositionLimit) throw BuildError(shown + ": the file is 2 GiB or larger");
      // Whether it can be read shows when its bytes are copied: a refusal then still
      // leaves no output behind.
      bool clamped = false;
      uint32_t stamp = ToDosTimeStamp(facts.modified, &clamped);
      if (clamped && warn_) warn_(shown + ": modification time outside 1980-2107; clamped");
      uint32_t attributes = kFileAttributes | (facts.read_only ? kReadOnlyAttribute : 0);
      builder_.AddFileFromSource(parent, cp, SourceString(full), static_cast<int32_t>(facts.size), stamp,
                                 attributes, shown, facts.modified_ns);
    }
    for (Subdirectory& sub : subdirs) {
      uint16_t id = builder_.AddDirectory(parent, sub.name, sub.shown);
      Level(sub.full, id);
    }
    if (pushed) ancestors_.pop_back();
  }

 private:
  // Refuses a name that Windows would not create as named (the extractor refuses it
  // too), and a second name of the folder that Windows would take for the first.
  static void CheckName(const std::string& cp, const std::string& shown,
                        std::unordered_map<std::string, std::string>& taken) {
    NameRule rule = CheckWindowsName(cp.data(), cp.size());
    if (rule != NameRule::kFine) {
      throw BuildError(shown + ": the name has " + DescribeNameRule(rule) + "; Windows cannot create it as named");
    }
    std::string folded = cp;
    for (char& c : folded) c = static_cast<char>(FoldCase1250(static_cast<unsigned char>(c)));
    auto [at, fresh] = taken.emplace(std::move(folded), shown);
    if (!fresh) {
      throw BuildError(shown + ": the same name as " + at->second +
                       " when letter case is ignored; Windows would make them one file");
    }
  }

  struct Subdirectory {
    fs::path full;
    std::string name;   // Windows-1250
    std::string shown;  // for messages
  };

  ArchiveBuilder& builder_;
  const std::function<void(const std::string&)>& warn_;
  std::vector<fs::path> ancestors_;
};

// A source file read with the platform's plain calls: most files are small, and a
// stdio stream would cost a buffer and a status call for each.
// The folder of the last source file opened, kept open while one output is
// written: files come folder by folder, and each name is then looked up in its
// folder alone.
class SourceFolder {
 public:
  SourceFolder() = default;
  ~SourceFolder() {
#ifndef _WIN32
    if (fd_ >= 0) close(fd_);
#endif
  }
  SourceFolder(const SourceFolder&) = delete;
  SourceFolder& operator=(const SourceFolder&) = delete;
#ifndef _WIN32
  // Opens source for reading, through the folder when it has one.
  int Open(const std::string& source) {
    size_t slash = source.rfind('/');
    if (slash == std::string::npos || slash == 0) return open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0 || path_.size() != slash || source.compare(0, slash, path_) != 0) {
      if (fd_ >= 0) close(fd_);
      path_.assign(source, 0, slash);
      fd_ = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (fd_ < 0) return open(source.c_str(), O_RDONLY | O_CLOEXEC);
    return openat(fd_, source.c_str() + slash + 1, O_RDONLY | O_CLOEXEC);
  }
#endif

 private:
  std::string path_;
  int fd_ = -1;
};

class SourceFile {
 public:
  // A file on its own, opened by its whole path.
  explicit SourceFile(const std::string& source) {
#ifdef _WIN32
    fd_ = _wopen(SourcePath(source).c_str(), _O_RDONLY | _O_BINARY);
#else
    fd_ = open(source.c_str(), O_RDONLY | O_CLOEXEC);
#endif
  }
  SourceFile(const std::string& source, SourceFolder& folder) {
#ifdef _WIN32
    (void)folder;
    fd_ = _wopen(SourcePath(source).c_str(), _O_RDONLY | _O_BINARY);
#else
    fd_ = folder.Open(source);
#endif
  }
  ~SourceFile() {
    if (fd_ >= 0) {
#ifdef _WIN32
      _close(fd_);
#else
      close(fd_);
#endif
    }
  }
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Whether the open file's size or modification time differ from the entry's.
  bool Changed(const Entry& e) const {
#ifdef _WIN32
    struct _stat64 st;
    if (_fstat64(fd_, &st) != 0) return true;
#else
    struct stat st;
    if (fstat(fd_, &st) != 0) return true;
#endif
    return static_cast<uint64_t>(st.st_size) != static_cast<uint64_t>(e.size) ||
           (e.source_modified >= 0 && ModifiedNs(st) != e.source_modified);
  }
  // Bytes read, 0 at the end, -1 on failure.
  long Read(char* buffer, size_t count) {
    for (;;) {
#ifdef _WIN32
      long n = _read(fd_, buffer, static_cast<unsigned>(count));
#else
      long n = static_cast<long>(read(fd_, buffer, count));
#endif
      if (n < 0 && errno == EINTR) continue;
      return n;
    }
  }

 private:
  int fd_ = -1;
};

// While the temporary output exists, an interrupt (Ctrl+C) or a termination request
// removes it before the program ends, so no half-written file stays behind.
char g_temporary_output[4096];

extern "C" void RemoveTemporaryOutput(int signal_number) {
  if (g_temporary_output[0]) {
#ifdef _WIN32
    _unlink(g_temporary_output);
#else
    unlink(g_temporary_output);
#endif
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

class TemporaryOutputGuard {
 public:
  explicit TemporaryOutputGuard(const fs::path& temp) {
    std::string name = temp.string();
    if (name.size() >= sizeof g_temporary_output) return;
    memcpy(g_temporary_output, name.c_str(), name.size() + 1);
    previous_int_ = std::signal(SIGINT, RemoveTemporaryOutput);
    previous_term_ = std::signal(SIGTERM, RemoveTemporaryOutput);
#ifdef SIGHUP
    previous_hup_ = std::signal(SIGHUP, RemoveTemporaryOutput);
#endif
    armed_ = true;
  }
  ~TemporaryOutputGuard() {
    if (!armed_) return;
    std::signal(SIGINT, previous_int_);
    std::signal(SIGTERM, previous_term_);
#ifdef SIGHUP
    std::signal(SIGHUP, previous_hup_);
#endif
    g_temporary_output[0] = 0;
  }
  TemporaryOutputGuard(const TemporaryOutputGuard&) = delete;
  TemporaryOutputGuard& operator=(const TemporaryOutputGuard&) = delete;

 private:
  bool armed_ = false;
  void (*previous_int_)(int) = SIG_DFL;
  void (*previous_term_)(int) = SIG_DFL;
  void (*previous_hup_)(int) = SIG_DFL;
};

// Creates the temporary output next to the output, exclusively and readable by its
// owner only until it is complete: a name that exists already (a file or a link
// that someone planted) is never opened; another random name is tried instead.
FILE* CreateTemporaryOutput(const fs::path& output, fs::path* temp) {
  static std::mt19937_64 names([] {
    std::random_device device;
    uint64_t seed = (uint64_t{device()} << 32) ^ device();
    seed ^= static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    return seed ^ (static_cast<uint64_t>(vek_getpid()) << 16);
  }());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[40];
    snprintf(suffix, sizeof suffix, ".vekpack-%016llx.tmp", static_cast<unsigned long long>(names()));
    *temp = output;
    *temp += suffix;
#ifdef _WIN32
    int fd = _wopen(temp->c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
#ifdef _WIN32
    FILE* out = _fdopen(fd, "wb");
#else
    FILE* out = fdopen(fd, "wb");
#endif
    if (!out) {
      int e = errno;
#ifdef _WIN32
      _close(fd);
      _wunlink(temp->c_str());
#else
      close(fd);
      unlink(temp->c_str());
#endif
      errno = e;
    }
    return out;
  }
  errno = EEXIST;
  return nullptr;
}

// Gives the complete temporary output the mode a new file gets (0666 less the
// umask) and puts its bytes on the disk, so that the output it replaces is never
// left empty by a power cut.
bool Commit(FILE* out) {
  int fd = fileno(out);
#ifdef _WIN32
  return _commit(fd) == 0;
#else
  mode_t mask = umask(022);
  umask(mask);
  return fchmod(fd, 0666 & ~mask) == 0 && fsync(fd) == 0;
#endif
}

// Puts the rename on the disk: the folder's entry for the output.
void SyncFolder(const fs::path& output) {
#ifndef _WIN32
  fs::path folder = output.parent_path();
  int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)fsync(fd);
    close(fd);
  }
#else
  (void)output;
#endif
}

// The output's bytes on their way to the file: a source file's bytes are read
// straight into the free end of the buffer, so that they are copied once on their
// way instead of twice, and many small files leave in one write.
class OutputSink {
 public:
  explicit OutputSink(int fd) : fd_(fd), buffer_(new char[kCopyBlock]) {}
  int fd() const { return fd_; }
  // Where the next bytes go, and how many fit; flushes a full buffer first.
  char* Space(size_t* room) {
    if (used_ == kCopyBlock) Flush();
    *room = kCopyBlock - used_;
    return buffer_.get() + used_;
  }
  void Took(size_t n) { used_ += n; }
  void Append(const char* data, size_t size) {
    while (size > 0) {
      size_t room;
      char* at = Space(&room);
      size_t n = std::min(room, size);
      memcpy(at, data, n);
      Took(n);
      data += n;
      size -= n;
    }
  }
  // Writes out what is buffered; false (errno set) when the output refuses it.
  bool Flush() {
    size_t at = 0;
    while (at < used_) {
#ifdef _WIN32
      long n = _write(fd_, buffer_.get() + at, static_cast<unsigned>(used_ - at));
#else
      long n = static_cast<long>(write(fd_, buffer_.get() + at, used_ - at));
#endif
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = ENOSPC;
        failed_ = true;
        used_ = 0;  // reported once; nothing more is kept
        return false;
      }
      at += static_cast<size_t>(n);
    }
    used_ = 0;
    return !failed_;
  }
  bool failed() const { return failed_; }

 private:
  int fd_;
  std::unique_ptr<char[]> buffer_;  // left uninitialised: every byte is read or copied in first
  size_t used_ = 0;
  bool failed_ = false;
};

// Copies exactly size bytes of source to out; throws when it cannot.
void CopyData(const Entry& e, OutputSink& out, const PackOptions& options, uint64_t* done, uint64_t total,
              SourceFolder& folder) {
  auto refused = [&] { return BuildError(options.output + ": cannot write: " + strerror(errno)); };
  if (e.source.empty()) {
    out.Append(e.data.data(), e.data.size());
    if (out.failed()) throw refused();
    *done += e.data.size();
    return;
  }
  SourceFile in(e.source, folder);
  if (!in.ok()) throw BuildError(e.display_path + ": cannot open the file: " + strerror(errno));
  uint64_t left = static_cast<uint64_t>(e.size);
#if defined(__linux__)
  // Let the kernel move the bytes of larger files; small ones gather in the buffer.
  if (left >= kKernelCopyThreshold) {
    if (!out.Flush()) throw refused();
    while (left > 0) {
      ssize_t n = copy_file_range(in.fd(), nullptr, out.fd(), nullptr, left, 0);
      if (n <= 0) break;
      left -= static_cast<uint64_t>(n);
      *done += static_cast<uint64_t>(n);
    }
  }
#endif
  bool failed = false;
  while (left > 0) {
    size_t room;
    char* at = out.Space(&room);
    if (out.failed()) throw refused();
    long got = in.Read(at, static_cast<size_t>(std::min<uint64_t>(left, room)));
    if (got <= 0) {
      failed = got < 0;
      break;
    }
    out.Took(static_cast<size_t>(got));
    left -= static_cast<uint64_t>(got);
    *done += static_cast<uint64_t>(got);
    if (options.progress && room == kCopyBlock) options.progress(*done, total);
  }
  if (failed) throw BuildError(e.display_path + ": cannot read the file: " + strerror(errno));
  // One look at the open file after its bytes are read covers a change at any time
  // since the scan: a file that shrank reads short, one that grew or was rewritten
  // shows another size or time.
  if (left != 0 || in.Changed(e)) {
    throw BuildError(e.display_path + ": the file changed while it was read (its size or time)");
  }
  if (options.progress) options.progress(*done, total);
}

}  // namespace

uint32_t ToDosTimeStamp(time_t t, bool* clamped) {
  struct tm tm;
  if (!LocalTime(t, &tm)) {  // before 1970, or beyond what the platform converts
    if (clamped) *clamped = true;
    return EncodeDosTime(DosTime{t < 0 ? kDosFirstYear - 1 : kDosLastYear + 1}, nullptr);
  }
  const int second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second counts as :59
  return EncodeDosTime(DosTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, second},
                       clamped);
}

uint16_t ArchiveBuilder::Add(Entry entry) {
  if (entries_.size() >= kMaxEntryCount) throw BuildError(entry.display_path + ": more than 65,535 entries");
  if (entry.name.size() > EntryRecord::kNameMaxLength) throw BuildError(entry.display_path + ": the name is longer than 232 bytes");
  if (entry.parent_id > entries_.size() || (entry.parent_id != 0 && entries_[entry.parent_id - 1].kind != kEntryKindDirectory)) {
    throw BuildError(entry.display_path + ": the parent is no directory added before");
  }
  entry.id = static_cast<uint16_t>(entries_.size() + 1);
  if (entry.kind == kEntryKindFile) {
    entry.data_offset = static_cast<uint32_t>(data_size_);
    data_size_ += static_cast<uint64_t>(entry.size);
  }
  entries_.push_back(std::move(entry));
  return entries_.back().id;
}

uint16_t ArchiveBuilder::AddDirectory(uint16_t parent, std::string name, std::string display_path) {
  Entry e;
  e.parent_id = parent;
  e.kind = kEntryKindDirectory;
  e.display_path = display_path.empty() ? name : std::move(display_path);
  e.name = std::move(name);
  return Add(std::move(e));
}

uint16_t ArchiveBuilder::AddFile(uint16_t parent, std::string name, std::string data, uint32_t time_stamp,
                                 uint32_t attributes) {
  if (data.size() >= kPositionLimit) throw BuildError(name + ": the file is 2 GiB or larger");
  Entry e;
  e.parent_id = parent;
  e.kind = kEntryKindFile;
  e.display_path = name;
  e.name = std::move(name);
  e.attributes = attributes;
  e.time_stamp = time_stamp;
  e.size = static_cast<int32_t>(data.size());
  e.data = std::move(data);
  return Add(std::move(e));
}

uint16_t ArchiveBuilder::AddFileFromSource(uint16_t parent, std::string name, std::string source, int32_t size,
                                           uint32_t time_stamp, uint32_t attributes, std::string display_path,
                                           int64_t modified) {
  Entry e;
  e.parent_id = parent;
  e.kind = kEntryKindFile;
  e.name = std::move(name);
  e.attributes = attributes;
  e.time_stamp = time_stamp;
  e.size = size;
  e.source = std::move(source);
  e.source_modified = modified;
  e.display_path = std::move(display_path);
  return Add(std::move(e));
}

uint64_t ArchiveBuilder::ArchiveSize() const {
  return kArchivePrologueSize + uint64_t{EntryRecord::kSize} * entries_.size() + data_size_;
}

std::string ArchiveBuilder::SerializePrologue() const {
  std::string out(kArchivePrologueSize + EntryRecord::kSize * entries_.size(), '\0');
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  memcpy(p + ArchiveSignature::kMagicOffset, kArchiveMagic, ArchiveSignature::kMagicSize);
  memcpy(p + ArchiveSignature::kTailOffset, kSignatureTail, ArchiveSignature::kTailSize);
  unsigned char* header = p + ArchiveSignature::kSize;
  StoreU16(header + ArchiveHeader::kEntryCountOffset, static_cast<uint16_t>(entries_.size()));
  header[ArchiveHeader::kReservedOneOffset] = 1;
  header[ArchiveHeader::kNoticeOffset] = static_cast<unsigned char>(sizeof(kRightsNotice) - 1);
  memcpy(header + ArchiveHeader::kNoticeOffset + 1, kRightsNotice, sizeof(kRightsNotice) - 1);
  unsigned char* record = p + kArchivePrologueSize;
  for (const Entry& e : entries_) {
    StoreU16(record + EntryRecord::kIdOffset, e.id);
    StoreU16(record + EntryRecord::kParentIdOffset, e.parent_id);
    record[EntryRecord::kKindOffset] = e.kind;
    record[EntryRecord::kNameOffset] = static_cast<unsigned char>(e.name.size());
    memcpy(record + EntryRecord::kNameOffset + 1, e.name.data(), e.name.size());
    StoreU32(record + EntryRecord::kAttributesOffset, e.attributes);
    StoreU32(record + EntryRecord::kTimeStampOffset, e.time_stamp);
    StoreU32(record + EntryRecord::kSizeOffset, static_cast<uint32_t>(e.size));
    StoreU32(record + EntryRecord::kDataOffsetOffset, e.data_offset);
    record += EntryRecord::kSize;
  }
  return out;
}

std::string ArchiveBuilder::Serialize() const {
  std::string out = SerializePrologue();
  for (const Entry& e : entries_) {
    if (e.kind != kEntryKindFile) continue;
    if (e.source.empty()) {
      out += e.data;
    } else {
      std::ifstream in(SourcePath(e.source), std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (bytes.size() != static_cast<size_t>(e.size)) throw BuildError(e.display_path + ": the file could not be read whole");
      out += bytes;
    }
  }
  return out;
}

void ScanFolder(const std::string& source_folder, ArchiveBuilder& builder,
                const std::function<void(const std::string&)>& warn) {
  fs::path root = SourcePath(source_folder);
  FileFacts facts;
  if (!Examine(root, &facts)) throw BuildError(source_folder + ": no such folder");
  if (!facts.is_directory) throw BuildError(source_folder + ": not a folder");
  Scanner scanner(builder, warn);
  scanner.Level(root, 0);
}

namespace {

// The stub's bytes, read with plain calls: a C++ stream would report a folder or a
// failed read in its library's words, not the system's.
std::string ReadStub(const std::string& name) {
  FileFacts facts;
  if (Examine(SourcePath(name), &facts) && facts.is_directory) {
    throw BuildError(name + ": cannot open the stub: it is a folder");
  }
  SourceFile in(name);
  if (!in.ok()) throw BuildError(name + ": cannot open the stub: " + strerror(errno));
  std::string bytes;
  std::vector<char> block(64 * 1024);
  for (;;) {
    long n = in.Read(block.data(), block.size());
    if (n < 0) throw BuildError(name + ": cannot read the stub: " + strerror(errno));
    if (n == 0) break;
    bytes.append(block.data(), static_cast<size_t>(n));
    if (bytes.size() >= kPositionLimit) throw BuildError(name + ": the stub is 2 GiB or larger");
  }
  return bytes;
}

}  // namespace

std::string PrepareStub(const std::string& stub_bytes, const std::string& stub_name,
                        const std::string& config_block) {
  std::string problem;
  auto span = tools::FindStartOffsetSection(reinterpret_cast<const unsigned char*>(stub_bytes.data()),
                                            stub_bytes.size(), &problem);
  if (!problem.empty()) throw BuildError(stub_name + ": not a usable stub: " + problem);
  if (!span) {
    throw BuildError(stub_name + ": not a stub: it holds no archive start offset (no " +
                     std::string(tools::kStartOffsetSection) + " section)");
  }
  if (!config_block.empty() && !span->HoldsConfigOffset()) {
    throw BuildError(stub_name + ": this stub cannot carry a configuration (its " +
                     std::string(tools::kStartOffsetSection) + " section has no configuration offset)");
  }
  if (stub_bytes.size() >= kPositionLimit) throw BuildError(stub_name + ": the stub is 2 GiB or larger");
  std::string out = stub_bytes;
  auto* constants = reinterpret_cast<unsigned char*>(out.data()) + span->file_offset;
  StoreU32(constants, static_cast<uint32_t>(out.size() + config_block.size()));
  if (!config_block.empty()) {
    StoreU32(constants + tools::kConfigOffsetPosition, static_cast<uint32_t>(out.size()));
  }
  out += config_block;
  return out;
}

std::string CanonicalConfig(std::string text, const std::string& shown) {
  StubConfig config;
  ConfigResult result = ParseStubConfig(text.data(), text.size(), &config);
  if (!result.ok()) {
    std::string where = shown;
    if (result.line) where += ":" + std::to_string(result.line);
    if (result.key != kConfigKeyCount) where += ": " + std::string(ConfigKeyName(result.key));
    throw BuildError(where + ": " + DescribeConfigProblem(result));
  }
  std::string out;
  for (int k = 0; k < kConfigKeyCount; ++k) {
    const ConfigKey key = static_cast<ConfigKey>(k);
    if (key == kKeyItem) {
      for (int i = 0; i < config.item_count; ++i) {
        std::string target = config.items[i].target;
        std::replace(target.begin(), target.end(), '/', '\\');
        out += std::string("item = ") + target + "," + config.items[i].name + "\n";
      }
    } else if (config.text[key]) {
      out += std::string(ConfigKeyName(key)) + " = " + config.text[key] + "\n";
    }
  }
  if (out.size() > kConfigTextLimit) throw BuildError(shown + ": the configuration is larger than 16384 bytes");
  return out;
}

std::string MakeConfigBlock(const std::string& config_path) {
  std::ifstream in(SourcePath(config_path), std::ios::binary);
  if (!in) throw BuildError(config_path + ": cannot open the configuration");
  std::string text;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer), in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() > kConfigTextLimit) throw BuildError(config_path + ": the configuration is larger than 16384 bytes");
  }
  if (in.bad()) throw BuildError(config_path + ": cannot read the configuration");
  return std::string(kConfigMagic, kConfigMagicSize) + CanonicalConfig(std::move(text), config_path);
}

PackResult WriteArchive(const ArchiveBuilder& builder, const PackOptions& options) {
  PackResult result;
  std::string stub;
  if (!options.config.empty() && options.stub.empty()) {
    throw BuildError(options.config + ": a configuration goes with a stub (--stub)");
  }
  if (!options.stub.empty()) {
    std::string config_block = options.config.empty() ? std::string() : MakeConfigBlock(options.config);
    stub = PrepareStub(ReadStub(options.stub), options.stub, config_block);
  }
  result.start_offset = static_cast<uint32_t>(stub.size());
  result.archive_bytes = builder.ArchiveSize();
  result.output_bytes = stub.size() + result.archive_bytes;
  if (result.output_bytes >= kPositionLimit) {
    throw BuildError(options.output + ": the archive would reach 2 GiB, beyond what the extractor can seek");
  }
  for (const Entry& e : builder.entries()) {
    if (e.kind == kEntryKindFile) {
      ++result.files;
      result.data_bytes += static_cast<uint64_t>(e.size);
    } else {
      ++result.directories;
    }
  }

  fs::path output = SourcePath(options.output);
  // The output is never packed into itself: no source file may be the output.
  FileFacts existing;
  if (Examine(output, &existing) && existing.is_regular) {
    for (const Entry& e : builder.entries()) {
      std::error_code ec;
      if (!e.source.empty() && static_cast<uint64_t>(e.size) == existing.size &&
          fs::equivalent(SourcePath(e.source), output, ec)) {
        throw BuildError(e.display_path + ": this is the output " + options.output + "; it cannot be packed");
      }
    }
  }
  fs::path temp;
  FILE* out = CreateTemporaryOutput(output, &temp);
  if (!out) throw BuildError(options.output + ": cannot create the output: " + strerror(errno));
  TemporaryOutputGuard interrupt_guard(temp);
  try {
    // Everything goes through the sink; the stream only closes the file.
    OutputSink sink(fileno(out));
    std::string prologue = builder.SerializePrologue();
    sink.Append(stub.data(), stub.size());
    sink.Append(prologue.data(), prologue.size());
    uint64_t done = 0;
    SourceFolder folder;
    for (const Entry& e : builder.entries()) {
      if (e.kind == kEntryKindFile) CopyData(e, sink, options, &done, result.data_bytes, folder);
    }
    if (!sink.Flush()) throw BuildError(options.output + ": cannot write: " + strerror(errno));
    if (fflush(out) != 0 || ferror(out) || !Commit(out)) {
      throw BuildError(options.output + ": cannot write: " + strerror(errno));
    }
    FILE* closing = out;
    out = nullptr;
    if (fclose(closing) != 0) throw BuildError(options.output + ": cannot write: " + strerror(errno));
    std::error_code ec;
    if (fs::file_size(temp, ec) != result.output_bytes || ec) {
      throw BuildError(options.output + ": the output came out with the wrong size");
    }
    fs::rename(temp, output, ec);
    if (ec) throw BuildError(options.output + ": cannot replace the output: " + ec.message());
    SyncFolder(output);
  } catch (...) {
    if (out) fclose(out);
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw;
  }
  return result;
}

// Whether path lies inside folder (both as the file system resolves them).
bool Inside(const fs::path& path, const fs::path& folder) {
  std::error_code ec;
  fs::path f = fs::weakly_canonical(folder, ec);
  if (ec) return false;
  fs::path p = fs::weakly_canonical(path, ec);
  if (ec) return false;
  auto [fi, pi] = std::mismatch(f.begin(), f.end(), p.begin(), p.end());
  return fi == f.end() || (std::next(fi) == f.end() && fi->empty());  // a trailing separator
}

PackResult Pack(const PackOptions& options) {
  fs::path output = SourcePath(options.output);
  if (Inside(fs::absolute(output), SourcePath(options.source_folder))) {
    throw BuildError(options.output + ": the output lies inside the source folder " + options.source_folder +
                     "; it would be packed into itself");
  }
  ArchiveBuilder builder;
  ScanFolder(options.source_folder, builder, options.warn);
  return WriteArchive(builder, options);
}

}  // namespace vek::build
