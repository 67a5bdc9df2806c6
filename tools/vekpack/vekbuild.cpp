#include "vekbuild.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

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
#include "rnvek100.h"
#include "stubfile.h"

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
};

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
  return true;
}

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

FILE* OpenFile(const fs::path& p, const char* mode) {
#ifdef _WIN32
  std::wstring wmode(mode, mode + strlen(mode));
  return _wfopen(p.c_str(), wmode.c_str());
#else
  return fopen(p.c_str(), mode);
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
    for (const fs::path& name : names) {
      fs::path full = dir / name;
      const std::string shown = DisplayPath(full);
      FileFacts facts;
      if (!Examine(full, &facts)) throw BuildError(shown + ": cannot read it (a broken symbolic link?)");
      std::string cp = NameToCp1250(name, shown);
      if (cp.size() > EntryRecord::kNameMaxLength) throw BuildError(shown + ": the name is longer than 232 bytes");
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
                                 attributes, shown);
    }
    for (Subdirectory& sub : subdirs) {
      uint16_t id = builder_.AddDirectory(parent, sub.name, sub.shown);
      Level(sub.full, id);
    }
    if (pushed) ancestors_.pop_back();
  }

 private:
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
class SourceFile {
 public:
  explicit SourceFile(const std::string& source) {
#ifdef _WIN32
    fd_ = _wopen(SourcePath(source).c_str(), _O_RDONLY | _O_BINARY);
#else
    fd_ = open(source.c_str(), O_RDONLY | O_CLOEXEC);
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
    armed_ = true;
  }
  ~TemporaryOutputGuard() {
    if (!armed_) return;
    std::signal(SIGINT, previous_int_);
    std::signal(SIGTERM, previous_term_);
    g_temporary_output[0] = 0;
  }
  TemporaryOutputGuard(const TemporaryOutputGuard&) = delete;
  TemporaryOutputGuard& operator=(const TemporaryOutputGuard&) = delete;

 private:
  bool armed_ = false;
  void (*previous_int_)(int) = SIG_DFL;
  void (*previous_term_)(int) = SIG_DFL;
};

// Copies exactly size bytes of source to out; throws when it cannot.
void CopyData(const Entry& e, FILE* out, const PackOptions& options, uint64_t* done, uint64_t total,
              std::vector<char>& buffer) {
  if (e.source.empty()) {
    if (!e.data.empty() && fwrite(e.data.data(), 1, e.data.size(), out) != e.data.size()) {
      throw BuildError(options.output + ": cannot write: " + strerror(errno));
    }
    *done += e.data.size();
    return;
  }
  SourceFile in(e.source);
  if (!in.ok()) throw BuildError(e.display_path + ": cannot open the file: " + strerror(errno));
  uint64_t left = static_cast<uint64_t>(e.size);
#if defined(__linux__)
  // Let the kernel move the bytes of larger files; small ones go through the output
  // buffer, which gathers many of them into one write.
  if (left >= kKernelCopyThreshold && fflush(out) == 0) {
    int out_fd = fileno(out);
    while (left > 0) {
      ssize_t n = copy_file_range(in.fd(), nullptr, out_fd, nullptr, left, 0);
      if (n <= 0) break;
      left -= static_cast<uint64_t>(n);
      *done += static_cast<uint64_t>(n);
    }
  }
#endif
  if (buffer.size() < kCopyBlock) buffer.resize(kCopyBlock);
  bool failed = false;
  while (left > 0) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    long got = in.Read(buffer.data(), want);
    if (got <= 0) {
      failed = got < 0;
      break;
    }
    if (fwrite(buffer.data(), 1, static_cast<size_t>(got), out) != static_cast<size_t>(got)) {
      throw BuildError(options.output + ": cannot write: " + strerror(errno));
    }
    left -= static_cast<uint64_t>(got);
    *done += static_cast<uint64_t>(got);
    if (options.progress) options.progress(*done, total);
  }
  if (left != 0 || failed) {
    throw BuildError(e.display_path + ": the file could not be read whole (changed while packing?)");
  }
  if (options.progress) options.progress(*done, total);
}

}  // namespace

uint32_t ToDosTimeStamp(time_t t, bool* clamped) {
  *clamped = false;
  struct tm tm;
  if (!LocalTime(t, &tm) || tm.tm_year + 1900 < 1980) {
    *clamped = true;
    return (0u << 25) | (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
  }
  int year = tm.tm_year + 1900;
  if (year > 2107) {
    *clamped = true;
    return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
  }
  uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(tm.tm_mon + 1) << 5) |
                  static_cast<uint32_t>(tm.tm_mday);
  int seconds = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second counts as :59
  uint32_t time_part = (static_cast<uint32_t>(tm.tm_hour) << 11) | (static_cast<uint32_t>(tm.tm_min) << 5) |
                       static_cast<uint32_t>(seconds / 2);
  return (date << 16) | time_part;
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
                                           uint32_t time_stamp, uint32_t attributes, std::string display_path) {
  Entry e;
  e.parent_id = parent;
  e.kind = kEntryKindFile;
  e.name = std::move(name);
  e.attributes = attributes;
  e.time_stamp = time_stamp;
  e.size = size;
  e.source = std::move(source);
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

std::string PrepareStub(const std::string& stub_bytes, const std::string& stub_name) {
  auto span = tools::FindStartOffsetSection(reinterpret_cast<const unsigned char*>(stub_bytes.data()),
                                            stub_bytes.size());
  if (!span) {
    throw BuildError(stub_name + ": not a stub: it holds no archive start offset (no " +
                     std::string(tools::kStartOffsetSection) + " section)");
  }
  if (stub_bytes.size() >= kPositionLimit) throw BuildError(stub_name + ": the stub is 2 GiB or larger");
  std::string out = stub_bytes;
  StoreU32(reinterpret_cast<unsigned char*>(out.data()) + span->file_offset, static_cast<uint32_t>(out.size()));
  return out;
}

PackResult WriteArchive(const ArchiveBuilder& builder, const PackOptions& options) {
  PackResult result;
  std::string stub;
  if (!options.stub.empty()) {
    std::ifstream in(SourcePath(options.stub), std::ios::binary);
    if (!in) throw BuildError(options.stub + ": cannot open the stub");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    stub = PrepareStub(bytes, options.stub);
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
  fs::path temp = output;
  temp += ".vekpack-" + std::to_string(vek_getpid()) + ".tmp";
  FILE* out = OpenFile(temp, "wb");
  if (!out) throw BuildError(options.output + ": cannot create the output: " + strerror(errno));
  TemporaryOutputGuard interrupt_guard(temp);
  std::vector<char> out_buffer(kCopyBlock);
  setvbuf(out, out_buffer.data(), _IOFBF, out_buffer.size());
  try {
    std::string prologue = builder.SerializePrologue();
    if (fwrite(stub.data(), 1, stub.size(), out) != stub.size() ||
        fwrite(prologue.data(), 1, prologue.size(), out) != prologue.size()) {
      throw BuildError(options.output + ": cannot write: " + strerror(errno));
    }
    uint64_t done = 0;
    std::vector<char> copy_buffer;
    for (const Entry& e : builder.entries()) {
      if (e.kind == kEntryKindFile) CopyData(e, out, options, &done, result.data_bytes, copy_buffer);
    }
    if (fflush(out) != 0 || ferror(out)) throw BuildError(options.output + ": cannot write: " + strerror(errno));
    FILE* closing = out;
    out = nullptr;
    if (fclose(closing) != 0) throw BuildError(options.output + ": cannot write: " + strerror(errno));
    std::error_code ec;
    if (fs::file_size(temp, ec) != result.output_bytes || ec) {
      throw BuildError(options.output + ": the output came out with the wrong size");
    }
    fs::rename(temp, output, ec);
    if (ec) throw BuildError(options.output + ": cannot replace the output: " + ec.message());
  } catch (...) {
    if (out) fclose(out);
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw;
  }
  return result;
}

PackResult Pack(const PackOptions& options) {
  ArchiveBuilder builder;
  ScanFolder(options.source_folder, builder, options.warn);
  return WriteArchive(builder, options);
}

}  // namespace vek::build
