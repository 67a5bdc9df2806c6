// The file edge on Windows: paths are UTF-8 and reach the wide functions as UTF-16; a
// long one in the long form (\\?\), when Windows' own reading would not change it
// (winpath.h). GetLastError codes are already the codes the system reports.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "dostime.h"
#include "fileedge.h"
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
#define VEK_WIDE_OR_FAIL(failed)                       \
  WidePath wide(path);                                 \
  if (!wide.get()) {                                   \
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);             \
    return failed;                                     \
  }
HANDLE CreateFileU(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                   DWORD flags, HANDLE model) {
  VEK_WIDE_OR_FAIL(INVALID_HANDLE_VALUE)
  return CreateFileW(wide.get(), access, share, security, disposition, flags, model);
}
DWORD GetFileAttributesU(const char* path) {
  VEK_WIDE_OR_FAIL(INVALID_FILE_ATTRIBUTES)
  return GetFileAttributesW(wide.get());
}
BOOL SetFileAttributesU(const char* path, DWORD attributes) {
  VEK_WIDE_OR_FAIL(FALSE)
  return SetFileAttributesW(wide.get(), attributes);
}
BOOL CreateDirectoryU(const char* path, SECURITY_ATTRIBUTES* security) {
  VEK_WIDE_OR_FAIL(FALSE)
  return CreateDirectoryW(wide.get(), security);
}
BOOL RemoveDirectoryU(const char* path) {
  VEK_WIDE_OR_FAIL(FALSE)
  return RemoveDirectoryW(wide.get());
}
BOOL DeleteFileU(const char* path) {
  VEK_WIDE_OR_FAIL(FALSE)
  return DeleteFileW(wide.get());
}
#undef VEK_WIDE_OR_FAIL

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

Error LastError() {
  DWORD code = GetLastError();
  return InOutError(code ? code : kWinErrorInvalidFunction);
}

// Removes the link, junction or other reparse point at path (not what it points to).
bool RemoveLink(const char* path, DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryU(path) != 0 : DeleteFileU(path) != 0;
}

// Whether two open handles are one file: the same volume and file index.
bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

class Win32FileEdge final : public FileEdge {
 public:
  Win32FileEdge() : secured_('\\') {}

  Error OpenRead(const char* path, FileHandle* file) override {
    secured_.Forget();  // a new run: the destination may have changed since the last
    HANDLE h = CreateFileU(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    *file = reinterpret_cast<FileHandle>(h);
    return NoError();
  }

  Error Create(const char* path, FileHandle* file) override {
    HANDLE h = CreateFileU(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    }
    if (!CloseHandle(ToHandle(file))) return LastError();
    return NoError();
  }

  Error SecureFolders(const char* path, size_t length, size_t destination_length) override {
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
        if (!RemoveLink(prefix.c_str(), a)) return GeneralError(kLinkInTheWay);
        if (!CreateDirectoryU(prefix.c_str(), nullptr)) return LastError();
      } else if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        break;  // a file in the way: making the folder or the file fails later
      }
      end = next;
    }
    secured_.Remember(path, end, destination_length);
    return NoError();
  }

  // A new file is made at once, as before. What stands there already is looked at
  // first: a link is removed, a file with other names is replaced, the archive is
  // refused, and any other file is truncated in place as CREATE_ALWAYS does, while
  // a handle that refuses deletion keeps its name from being swapped meanwhile.
  Error CreateEntryFile(const char* path, size_t destination_length, FileHandle archive, FileHandle* file) override {
    if (archive != kNoFile) archive_ = archive;
    size_t folder = strlen(path);
    while (folder > 0 && path[folder - 1] != '\\') --folder;
    if (folder > 0) VEK_TRY(SecureFolders(path, folder - 1, destination_length));
    for (int attempt = 0;; ++attempt) {
      HANDLE h = CreateFileU(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
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
        if (!RemoveLink(path, a)) return GeneralError(kLinkInTheWay);
        continue;
      }
      if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return InOutError(kIoAccessDenied);
      HANDLE pin = CreateFileU(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (pin == INVALID_HANDLE_VALUE) return LastError();
      BY_HANDLE_FILE_INFORMATION info;
      if (archive != kNoFile && SameFile(pin, ToHandle(archive))) {
        CloseHandle(pin);
        return GeneralError(kOverwritesArchive);
      }
      if (GetFileInformationByHandle(pin, &info) && info.nNumberOfLinks > 1) {
        CloseHandle(pin);
        if (!DeleteFileU(path)) return LastError();
        continue;
      }
      h = CreateFileU(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      code = GetLastError();
      CloseHandle(pin);
      if (h == INVALID_HANDLE_VALUE) return InOutError(code ? code : kWinErrorInvalidFunction);
      *file = reinterpret_cast<FileHandle>(h);
      return NoError();
    }
  }

  Error RemoveFile(const char* path) override {
    if (!DeleteFileU(path)) return LastError();
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

  bool SetLastWriteTime(const char* path, uint32_t dos_time_stamp) override {
    HANDLE h = CreateFileU(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = false;
    FILETIME local, utc;
    // Only a stamp that is a date: Windows' own conversion takes some that are not.
    if (h != INVALID_HANDLE_VALUE && IsValidDosTime(dos_time_stamp) &&
        DosDateTimeToFileTime(static_cast<WORD>(dos_time_stamp >> 16),
                              static_cast<WORD>(dos_time_stamp & 0xFFFF), &local) &&
        LocalFileTimeToFileTime(&local, &utc)) {
      ok = SetFileTime(h, nullptr, nullptr, &utc) != 0;
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return ok;
  }

 private:
  FileHandle archive_ = kNoFile;  // the archive of the entries being written
  SecuredFolders secured_;
};

}  // namespace

FileEdge& PlatformFileEdge() {
  static Win32FileEdge edge;
  return edge;
}

}  // namespace vek
