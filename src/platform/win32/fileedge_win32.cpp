// The file edge on Windows: paths are UTF-8 and reach the wide functions as UTF-16; a
// long one in the long form (\\?\), when Windows' own reading would not change it
// (winpath.h). GetLastError codes are already the codes the system reports.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "ansistring.h"
#include "dostime.h"
#include "extractor.h"
#include "fileattributes.h"
#include "fileedge.h"
#include "folderwalk_win32.h"
#include "securedfolders.h"
#include "winpath.h"

namespace vek {

namespace {

// From this length in UTF-16 units a path takes the long form: CreateDirectory's
// limit without it is MAX_PATH less room for an 8.3 name.
constexpr size_t kLongPath = MAX_PATH - 12;

// A path as the wide functions take it; get() is nullptr when memory ran out.
class WidePath {
 public:
  explicit WidePath(const char* path) {
    const int length = static_cast<int>(strlen(path));
    const int units = length ? MultiByteToWideChar(CP_UTF8, 0, path, length, nullptr, 0) : 0;
    LongForm form = static_cast<size_t>(units) >= kLongPath ? LongPathForm(path, length) : LongForm::kNone;
    if (form == LongForm::kAlready) form = LongForm::kNone;
    // \\?\ before a drive; \\?\UNC in place of the first of a network path's "\\".
    const wchar_t* prefix = form == LongForm::kDrive ? L"\\\\?\\" : form == LongForm::kUnc ? L"\\\\?\\UNC" : L"";
    const int skip = form == LongForm::kUnc ? 1 : 0;
    const int head = static_cast<int>(wcslen(prefix));
    path_ = static_cast<wchar_t*>(malloc((static_cast<size_t>(head) + units + 1) * sizeof(wchar_t)));
    if (!path_) return;
    memcpy(path_, prefix, head * sizeof(wchar_t));
    const int n = units ? MultiByteToWideChar(CP_UTF8, 0, path, length, path_ + head, units) : 0;
    path_[head + n] = 0;
    if (form == LongForm::kNone) return;
    memmove(path_ + head, path_ + head + skip, (n - skip + 1) * sizeof(wchar_t));
    for (wchar_t* c = path_ + head; *c; ++c) {
      if (*c == L'/') *c = L'\\';
    }
  }
  ~WidePath() { free(path_); }
  WidePath(const WidePath&) = delete;
  WidePath& operator=(const WidePath&) = delete;
  const wchar_t* get() const { return path_; }

 private:
  wchar_t* path_ = nullptr;
};

// The file functions this edge uses, taking the paths' bytes as WidePath reads them.
// A path that cannot be converted for want of memory fails as the call would.
#define VEK_WIDE_OR_FAIL(failed)           \
  WidePath wide(path);                     \
  if (!wide.get()) {                       \
    SetLastError(ERROR_NOT_ENOUGH_MEMORY); \
    return failed;                         \
  }
HANDLE CreateFileU(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                   DWORD flags, HANDLE model) {
  VEK_WIDE_OR_FAIL(INVALID_HANDLE_VALUE)
  return CreateFileW(wide.get(), access, share, security, disposition, flags, model);
}
DWORD GetFileAttributesU(const char* path) {
  VEK_WIDE_OR_FAIL(INVALID_FILE_ATTRIBUTES)
  return FileAttributes(wide.get());
}
BOOL SetFileAttributesU(const char* path, DWORD attributes) {
  VEK_WIDE_OR_FAIL(FALSE)
  return SetFileAttributesW(wide.get(), attributes);
}
BOOL CreateDirectoryU(const char* path, SECURITY_ATTRIBUTES* security) {
  VEK_WIDE_OR_FAIL(FALSE)
  return CreateDirectoryW(wide.get(), security);
}
#undef VEK_WIDE_OR_FAIL

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

Error LastError() {
  DWORD code = GetLastError();
  return InOutError(code ? code : uint32_t{kWinErrorInvalidFunction});
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Removes the file, link or empty folder of a handle opened with DELETE access, and
// closes the handle.
Error RemoveOpened(HANDLE h) {
  FILE_DISPOSITION_INFO gone = {TRUE};
  Error e = SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone) ? NoError() : LastError();
  CloseHandle(h);
  return e;
}

// Gives an open file the last-write time of an MS-DOS stamp read as local time.
bool SetStamp(HANDLE h, uint32_t dos_time_stamp) {
  FILETIME local, utc;
  // Only a stamp that is a date: Windows' own conversion takes some that are not.
  return IsValidDosTime(dos_time_stamp) &&
         DosDateTimeToFileTime(static_cast<WORD>(dos_time_stamp >> 16), static_cast<WORD>(dos_time_stamp & 0xFFFF),
                               &local) &&
         LocalFileTimeToFileTime(&local, &utc) && SetFileTime(h, nullptr, nullptr, &utc);
}

// Whether two open handles are one file: the same volume and file index.
bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

// A thread started by Start, until Join.
struct Worker {
  void (*work)(void*);
  void* context;
  HANDLE thread;
};

DWORD WINAPI RunWorker(void* worker) {
  auto* w = static_cast<Worker*>(worker);
  w->work(w->context);
  return 0;
}

class Win32FileEdge final : public FileEdge {
 public:
  Win32FileEdge() : secured_('\\') {}

  char Separator() const override { return '\\'; }

  Error OpenRead(const char* path, FileHandle* file) override {
    secured_.Forget();  // a new run: the destination may have changed since the last
    walk_.Forget();
    // Shared for deleting too: the uninstaller's copy reads itself while the uninstaller
    // holds it open to be deleted when it ends.
    HANDLE h = CreateFileU(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    *file = reinterpret_cast<FileHandle>(h);
    return NoError();
  }

  Error Create(const char* path, FileHandle* file) override {
    HANDLE h = CreateFileU(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    *file = reinterpret_cast<FileHandle>(h);
    return NoError();
  }

  Error Seek(FileHandle file, int64_t offset) override {
    if (offset < 0) return InOutError(kWinErrorNegativeSeek);
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(ToHandle(file), distance, nullptr, FILE_BEGIN)) return LastError();
    return NoError();
  }

  Error Read(FileHandle file, void* buffer, uint32_t count, uint32_t* done) override {
    DWORD n = 0;
    BOOL ok = ReadFile(ToHandle(file), buffer, count, &n, nullptr);
    *done = n;
    if (!ok) return LastError();
    return NoError();
  }

  Error Write(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) override {
    DWORD n = 0;
    BOOL ok = WriteFile(ToHandle(file), buffer, count, &n, nullptr);
    *done = n;
    if (!ok) return LastError();
    return NoError();
  }

  Error Close(FileHandle file) override {
    if (file == archive_) {
      // The archive goes: the folders checked meanwhile may change before the next.
      archive_ = kNoFile;
      secured_.Forget();
      walk_.Forget();
    }
    if (!CloseHandle(ToHandle(file))) return LastError();
    return NoError();
  }

  // The folder is made by its path, then opened and checked: a real folder, and the
  // one of its own name below the destination.
  Error MakeEntryFolder(const char* path, size_t length, size_t destination_length) override {
    VEK_TRY(SecureFolders(path, length, destination_length));
    AnsiString folder(path, length);
    if (folder.failed()) return OutOfMemoryError();
    VEK_TRY(ForceDirectoryChain(folder, *this));
    HANDLE h = CreateFileU(folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION info;
    Error e = Checked(h, folder.c_str(), destination_length);
    if (!e && GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      e = GeneralError(kFolderSwapped);
    }
    CloseHandle(h);
    return e;
  }

  // Makes sure that the folders of path[0, length) after its first destination_length
  // bytes are real folders where they exist (a link in place of one is replaced by an
  // empty folder). Folders that do not exist are left alone; the caller makes them.
  Error SecureFolders(const char* path, size_t length, size_t destination_length) {
    size_t end = secured_.StartOf(path, length, destination_length);
    if (end >= length) return NoError();
    while (end < length) {
      size_t next = secured_.NextEnd(path, length, end);
      AnsiString prefix(path, next);
      if (prefix.failed()) return OutOfMemoryError();
      DWORD a = GetFileAttributesU(prefix.c_str());
      if (a == INVALID_FILE_ATTRIBUTES) break;  // not made yet: the caller makes it
      if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A junction or link in place of a folder: a real folder takes its place.
        VEK_TRY(RemoveStanding(prefix.c_str(), destination_length));
        if (!CreateDirectoryU(prefix.c_str(), nullptr)) return LastError();
      } else if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        break;  // a file in the way: making the folder or the file fails later
      }
      end = next;
    }
    secured_.Remember(path, end, destination_length);
    return NoError();
  }

  // A new file is made at once, as before, and refused (and removed again) when it
  // came out elsewhere than below the destination under its own name. What stands
  // there already is looked at first, through a handle of its own that is checked
  // the same way: a link is removed, a file with other names is replaced, the archive
  // is refused, and any other file is truncated through that handle, so that nothing
  // swapped in meanwhile is truncated instead.
  Error CreateEntryFile(const char* path, size_t destination_length, FileHandle archive, FileHandle* file) override {
    if (archive != kNoFile) archive_ = archive;
    size_t folder = strlen(path);
    while (folder > 0 && path[folder - 1] != '\\') --folder;
    if (folder > 0) VEK_TRY(SecureFolders(path, folder - 1, destination_length));
    for (int attempt = 0;; ++attempt) {
      HANDLE h = CreateFileU(path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        Error landed = Checked(h, path, destination_length);
        if (landed) {
          (void)RemoveOpened(h);
          return landed;
        }
        *file = reinterpret_cast<FileHandle>(h);
        return NoError();
      }
      DWORD code = GetLastError();
      if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt == 2) return InOutError(code);
      DWORD a = GetFileAttributesU(path);
      // The name is taken, yet nothing can be looked at there: a dangling link as
      // Wine shows a Unix one.
      if (a == INVALID_FILE_ATTRIBUTES) return GeneralError(kLinkInTheWay);
      if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
        VEK_TRY(RemoveStanding(path, destination_length));
        continue;
      }
      if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return InOutError(kIoAccessDenied);
      // CREATE_ALWAYS refuses these with its normal attributes.
      if (a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) return InOutError(kIoAccessDenied);
      // What is done to the file from here on goes through this handle, wherever the
      // file is moved meanwhile: it lets others do anything.
      HANDLE pin =
          CreateFileU(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (pin == INVALID_HANDLE_VALUE) return LastError();
      Error e = Checked(pin, path, destination_length);
      BY_HANDLE_FILE_INFORMATION info;
      if (!e && archive != kNoFile && SameFile(pin, ToHandle(archive))) e = GeneralError(kOverwritesArchive);
      if (!e && GetFileInformationByHandle(pin, &info) && info.nNumberOfLinks > 1) {
        // Another name of the file goes; this one is made anew.
        HANDLE gone = ReOpenFile(pin, DELETE, kShareAll, 0);
        e = gone == INVALID_HANDLE_VALUE ? LastError() : RemoveOpened(gone);
        CloseHandle(pin);
        VEK_TRY(e);
        continue;
      }
      h = e ? INVALID_HANDLE_VALUE
            : ReOpenFile(pin, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
      if (!e && h == INVALID_HANDLE_VALUE) e = LastError();
      CloseHandle(pin);
      if (!e && !SetEndOfFile(h)) {
        e = LastError();
        CloseHandle(h);
      }
      VEK_TRY(e);
      *file = reinterpret_cast<FileHandle>(h);
      return NoError();
    }
  }

  Error RemoveFile(const char* path) override { return Remove(path, false); }

  // A file, or an empty folder; below the destination through the checked walk, so
  // that one reached through a link put in place of a folder stays.
  Error Remove(const char* path, bool folder) {
    size_t destination_length = 0;
    if (walk_.Below(path, &destination_length)) return RemoveStanding(path, destination_length);
    WidePath wide(path);
    if (!wide.get() || !(folder ? RemoveDirectoryW(wide.get()) : DeleteFileW(wide.get()))) return LastError();
    return NoError();
  }

  bool FreeSpace(const char* path, uint64_t* bytes) override {
    ULARGE_INTEGER available;
    if (!*path) {
      if (!GetDiskFreeSpaceExW(nullptr, &available, nullptr, nullptr)) return false;
    } else {
      WidePath wide(path);
      if (!wide.get() || !GetDiskFreeSpaceExW(wide.get(), &available, nullptr, nullptr)) return false;
    }
    *bytes = available.QuadPart;
    return true;
  }

  bool GetAttributes(const char* path, uint32_t* attributes) override {
    DWORD a = GetFileAttributesU(path);
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    *attributes = a;
    return true;
  }

  Error MakeDirectory(const char* path) override {
    if (!CreateDirectoryU(path, nullptr)) return LastError();
    return NoError();
  }

  bool SetAttributes(const char* path, uint32_t attributes) override {
    return SetFileAttributesU(path, attributes) != 0;
  }

  Error CopyBlock(FileHandle from, FileHandle to, void* buffer, uint32_t count, uint32_t* read,
                  uint32_t* written) override {
    return CopyThroughBuffer(*this, from, to, buffer, count, read, written);
  }

  // The file is the one CreateEntryFile made or truncated, still open: its time and
  // attributes are set through its handle, never through its path, which may lead
  // elsewhere by now. The time goes first: a read-only file could not take it after.
  Error FinishEntryFile(FileHandle file, const char* path, uint32_t dos_time_stamp, uint32_t attributes) override {
    (void)SetStamp(ToHandle(file), dos_time_stamp);
    FILE_BASIC_INFO basic = {};  // times of 0 stay as they are
    // As SetFileAttributes sets them: the bits a file can be given, never none.
    basic.FileAttributes = (attributes & kSettableAttributes) | FILE_ATTRIBUTE_NORMAL;
    (void)SetFileInformationByHandle(ToHandle(file), FileBasicInfo, &basic, sizeof basic);
    return Close(file);
  }

 private:
  // walk_'s check of an open file or folder below the destination, after it has
  // learnt the destination.
  Error Checked(HANDLE opened, const char* path, size_t destination_length) {
    if (!walk_.Knows(path, destination_length)) {
      // The destination as the entries' paths reach it: "C:" is the drive's root.
      AnsiString folder(path, destination_length);
      folder.Append('\\');
      if (folder.failed()) return OutOfMemoryError();
      HANDLE d = CreateFileU(folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      walk_.Learn(path, destination_length, d);
      if (d != INVALID_HANDLE_VALUE) CloseHandle(d);
    }
    return walk_.Check(opened, path, destination_length);
  }

  // Removes what stands at path (a link itself, not what it points to), through a
  // handle checked to be below the destination.
  Error RemoveStanding(const char* path, size_t destination_length) {
    HANDLE h = CreateFileU(path, DELETE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GeneralError(kLinkInTheWay);
    Error e = Checked(h, path, destination_length);
    if (e) {
      CloseHandle(h);
      return e;
    }
    return RemoveOpened(h);
  }

  FileHandle archive_ = kNoFile;  // the archive of the entries being written
  SecuredFolders secured_;
  Win32FolderWalk walk_;
};

class Win32UninstallQueries final : public UninstallQueries {
 public:
  bool FileStamp(const char* path, uint64_t* size, uint64_t* time) override {
    WidePath wide(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!wide.get() || !GetFileAttributesExW(wide.get(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return false;
    }
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    *time = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
  }

  bool RemoveEmptyFolder(const char* path) override {
    return !static_cast<Win32FileEdge&>(PlatformFileEdge()).Remove(path, true);
  }

  uint32_t CountEntries(const char* path) override {
    AnsiString pattern(path);
    pattern += "\\*";
    WidePath wide(pattern.c_str());
    WIN32_FIND_DATAW found;
    const HANDLE find = wide.get() ? FindFirstFileW(wide.get(), &found) : INVALID_HANDLE_VALUE;
    uint32_t count = 0;
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
      ++count;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return count - 2;  // "." and ".."
  }
};

class Win32Threads final : public Threads {
 public:
  uint32_t Processors() override {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwNumberOfProcessors;
  }

  bool Start(void (*work)(void*), void* context, ThreadHandle* thread) override {
    auto* worker = static_cast<Worker*>(malloc(sizeof(Worker)));
    if (!worker) return false;
    worker->work = work;
    worker->context = context;
    worker->thread = CreateThread(nullptr, 0, &RunWorker, worker, 0, nullptr);
    if (!worker->thread) {
      free(worker);
      return false;
    }
    *thread = reinterpret_cast<ThreadHandle>(worker);
    return true;
  }

  void Join(ThreadHandle thread) override {
    auto* worker = reinterpret_cast<Worker*>(thread);
    WaitForSingleObject(worker->thread, INFINITE);
    CloseHandle(worker->thread);
    free(worker);
  }
};

}  // namespace

FileEdge& PlatformFileEdge() {
  static Win32FileEdge edge;
  return edge;
}

UninstallQueries& PlatformUninstallQueries() {
  static Win32UninstallQueries queries;
  return queries;
}

Threads& PlatformThreads() {
  static Win32Threads threads;
  return threads;
}

// Where the path is finally created: the limits its names and length must keep.
const PathLimits& PlatformPathLimits() { return kWindowsPathLimits; }

}  // namespace vek
