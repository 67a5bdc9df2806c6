// The pack edge on Windows: UTF-8 paths become UTF-16 for the wide functions; a
// folder is kept as its path, since Windows looks names up from the path anyway.
// GetLastError codes are already the codes the system reports.
#include <windows.h>

#include <signal.h>
#include <string.h>

#include <string>

#include "packedge.h"

namespace vek {
namespace {

constexpr int64_t kFileTimeUnitsPerSecond = 10000000;  // 100 ns
constexpr int64_t kFileTimeOf1970 = 11644473600LL * kFileTimeUnitsPerSecond;
constexpr DWORD kLargestTransfer = 1u << 30;

Error LastError() {
  DWORD code = GetLastError();
  return InOutError(code ? code : uint32_t{kWinErrorInvalidFunction});
}

// UTF-8 as UTF-16; false for bytes that are not UTF-8.
bool Widen(const char* text, size_t length, std::wstring* out) {
  out->clear();
  if (length == 0) return true;
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), out->data(), n);
  return true;
}

std::string Narrow(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

struct Folder {
  std::wstring path;  // without a trailing separator unless a root
};

Folder* FolderOf(FolderHandle folder) { return reinterpret_cast<Folder*>(folder); }
HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// The wide path of name inside folder (kNoFolder: name is the path).
bool PathOf(FolderHandle folder, const char* name, std::wstring* out) {
  std::wstring wide_name;
  if (!Widen(name, strlen(name), &wide_name)) return false;
  if (folder == kNoFolder) {
    *out = std::move(wide_name);
    return true;
  }
  const std::wstring& base = FolderOf(folder)->path;
  *out = base;
  if (!base.empty() && base.back() != L'\\' && base.back() != L'/') *out += L'\\';
  *out += wide_name;
  return true;
}

void FactsFrom(const BY_HANDLE_FILE_INFORMATION& info, PathFacts* facts) {
  facts->kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::kFolder : FileKind::kFile;
  facts->read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  facts->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                             info.ftLastWriteTime.dwLowDateTime);
  facts->modified_ns = (ticks - kFileTimeOf1970) * 100;
  facts->volume = info.dwVolumeSerialNumber;
  facts->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// The facts of whatever the path names, links followed.
Error ExaminePath(const std::wstring& path, PathFacts* facts) {
  HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  BY_HANDLE_FILE_INFORMATION info;
  Error e = GetFileInformationByHandle(h, &info) ? NoError() : LastError();
  CloseHandle(h);
  if (e.ok()) FactsFrom(info, facts);
  return e;
}

// The file that an interrupt removes.
wchar_t g_remove_on_interrupt[MAX_PATH * 4];

extern "C" void RemoveAndRaise(int signal_number) {
  if (g_remove_on_interrupt[0]) DeleteFileW(g_remove_on_interrupt);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGBREAK};

class Win32PackEdge final : public PackEdge {
 public:
  Error OpenFolder(FolderHandle parent, const char* path, FolderHandle* folder, PathFacts* facts) override {
    Folder* made = new Folder;
    if (!PathOf(parent, path, &made->path)) {
      delete made;
      return InOutError(kWinErrorInvalidName);
    }
    Error e = ExaminePath(made->path, facts);
    if (e.ok() && facts->kind != FileKind::kFolder) e = InOutError(kWinErrorPathNotFound);
    if (!e.ok()) {
      delete made;
      return e;
    }
    *folder = reinterpret_cast<FolderHandle>(made);
    return NoError();
  }

  void CloseFolder(FolderHandle folder) override { delete FolderOf(folder); }

  Error ListFolder(FolderHandle folder, std::vector<ListedName>* names) override {
    std::wstring pattern;
    if (!PathOf(folder, "*", &pattern)) return InOutError(kWinErrorInvalidName);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
      return GetLastError() == ERROR_FILE_NOT_FOUND ? NoError() : LastError();
    }
    do {
      const wchar_t* name = found.cFileName;
      if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
      const DWORD a = found.dwFileAttributes;
      ListedKind kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) ? ListedKind::kUnknown
                        : (a & FILE_ATTRIBUTE_DIRECTORY)   ? ListedKind::kFolder
                                                           : ListedKind::kFile;
      names->push_back({Narrow(name), kind});
    } while (FindNextFileW(find, &found));
    Error e = GetLastError() == ERROR_NO_MORE_FILES ? NoError() : LastError();
    FindClose(find);
    return e;
  }

  Error Examine(FolderHandle folder, const char* name, PathFacts* facts) override {
    std::wstring path;
    if (!PathOf(folder, name, &path)) return InOutError(kWinErrorInvalidName);
    return ExaminePath(path, facts);
  }

  Error OpenRead(FolderHandle folder, const char* name, FileHandle* file) override {
    std::wstring path;
    if (!PathOf(folder, name, &path)) return InOutError(kWinErrorInvalidName);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    *file = reinterpret_cast<FileHandle>(h);
    return NoError();
  }

  Error FileFacts(FileHandle file, PathFacts* facts) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(ToHandle(file), &info)) return LastError();
    FactsFrom(info, facts);
    return NoError();
  }

  Error Read(FileHandle file, void* buffer, size_t count, size_t* done) override {
    DWORD n = 0;
    if (!ReadFile(ToHandle(file), buffer, count < kLargestTransfer ? static_cast<DWORD>(count) : kLargestTransfer, &n,
                  nullptr)) {
      return LastError();
    }
    *done = n;
    return NoError();
  }

  Error Close(FileHandle file) override { return CloseHandle(ToHandle(file)) ? NoError() : LastError(); }

  Error CreateExclusive(const char* path, FileHandle* file) override {
    std::wstring wide;
    if (!Widen(path, strlen(path), &wide)) return InOutError(kWinErrorInvalidName);
    HANDLE h =
        CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    *file = reinterpret_cast<FileHandle>(h);
    return NoError();
  }

  Error WriteAt(FileHandle file, uint64_t offset, const void* data, size_t count) override {
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
      OVERLAPPED at = {};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD n = 0;
      if (!WriteFile(ToHandle(file), p, count < kLargestTransfer ? static_cast<DWORD>(count) : kLargestTransfer, &n,
                     &at)) {
        return LastError();
      }
      if (n == 0) return InOutError(kWinErrorDiskFull);
      p += n;
      offset += n;
      count -= n;
    }
    return NoError();
  }

  Error Commit(FileHandle file) override { return FlushFileBuffers(ToHandle(file)) ? NoError() : LastError(); }

  Error Rename(const char* from, const char* to) override {
    std::wstring wide_from, wide_to;
    if (!Widen(from, strlen(from), &wide_from) || !Widen(to, strlen(to), &wide_to)) {
      return InOutError(kWinErrorInvalidName);
    }
    if (!MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return LastError();
    }
    return NoError();
  }

  Error Remove(const char* path) override {
    std::wstring wide;
    if (!Widen(path, strlen(path), &wide)) return InOutError(kWinErrorInvalidName);
    return DeleteFileW(wide.c_str()) ? NoError() : LastError();
  }

  // MOVEFILE_WRITE_THROUGH put the rename on the disk already.
  Error SyncFolderOf(const char*) override { return NoError(); }

  void RemoveOnInterrupt(const char* path) override {
    if (!path) {
      for (int s : kInterruptSignals) signal(s, SIG_DFL);
      g_remove_on_interrupt[0] = 0;
      return;
    }
    std::wstring wide;
    if (!Widen(path, strlen(path), &wide) || wide.size() >= sizeof g_remove_on_interrupt / sizeof(wchar_t)) return;
    memcpy(g_remove_on_interrupt, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    for (int s : kInterruptSignals) signal(s, RemoveAndRaise);
  }
};

}  // namespace

const char kPathSeparators[] = "\\/";

PackEdge& PlatformPackEdge() {
  static Win32PackEdge edge;
  return edge;
}

// The extractor uses LocalFileTimeToFileTime, which applies the system zone's offset
// of the moment; the same conversion the other way makes a packed time come back
// exactly. (The C runtime would follow a TZ variable, set by some shells and passed
// in by Wine from the host, in a format of its own.)
bool LocalReading(int64_t seconds, DosTime* out) {
  if (seconds < 0) return false;
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(seconds * kFileTimeUnitsPerSecond + kFileTimeOf1970);
  FILETIME utc{ticks.LowPart, ticks.HighPart}, local_time;
  SYSTEMTIME local;
  if (!FileTimeToLocalFileTime(&utc, &local_time) || !FileTimeToSystemTime(&local_time, &local)) return false;
  *out = DosTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
  return true;
}

}  // namespace vek
