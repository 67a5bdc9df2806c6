// The file edge on Windows: the 8-bit (ANSI) file functions, given the paths' bytes
// unchanged. GetLastError codes are already the codes the system reports.
#include <string.h>
#include <windows.h>

#include "fileedge.h"
#include "securedfolders.h"

namespace vek {
namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

Error LastError() {
  DWORD code = GetLastError();
  return InOutError(code ? code : kWinErrorInvalidFunction);
}

// Removes the link, junction or other reparse point at path (not what it points to).
bool RemoveLink(const char* path, DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path) != 0 : DeleteFileA(path) != 0;
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
  Error OpenRead(const char* path, FileHandle* file) override {
    secured_.Forget();  // a new run: the destination may have changed since the last
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    *file = reinterpret_cast<FileHandle>(h);
    return NoError();
  }

  Error Create(const char* path, FileHandle* file) override {
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
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
      size_t next = SecuredFolders::NextEnd(path, length, end);
      AnsiString prefix(path, next);
      if (prefix.failed()) return OutOfMemoryError();
      DWORD a = GetFileAttributesA(prefix.c_str());
      if (a == INVALID_FILE_ATTRIBUTES) break;  // not made yet: the caller makes it
      if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A junction or link in place of a folder: a real folder takes its place.
        if (!RemoveLink(prefix.c_str(), a)) return GeneralError(kLinkInTheWay);
        if (!CreateDirectoryA(prefix.c_str(), nullptr)) return LastError();
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
      HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        *file = reinterpret_cast<FileHandle>(h);
        return NoError();
      }
      DWORD code = GetLastError();
      if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt == 2) return InOutError(code);
      DWORD a = GetFileAttributesA(path);
      // The name is taken, yet nothing can be looked at there: a dangling link as
      // Wine shows a Unix one.
      if (a == INVALID_FILE_ATTRIBUTES) return GeneralError(kLinkInTheWay);
      if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!RemoveLink(path, a)) return GeneralError(kLinkInTheWay);
        continue;
      }
      if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return InOutError(kIoAccessDenied);
      HANDLE pin = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (pin == INVALID_HANDLE_VALUE) return LastError();
      BY_HANDLE_FILE_INFORMATION info;
      if (archive != kNoFile && SameFile(pin, ToHandle(archive))) {
        CloseHandle(pin);
        return GeneralError(kOverwritesArchive);
      }
      if (GetFileInformationByHandle(pin, &info) && info.nNumberOfLinks > 1) {
        CloseHandle(pin);
        if (!DeleteFileA(path)) return LastError();
        continue;
      }
      h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      code = GetLastError();
      CloseHandle(pin);
      if (h == INVALID_HANDLE_VALUE) return InOutError(code ? code : kWinErrorInvalidFunction);
      *file = reinterpret_cast<FileHandle>(h);
      return NoError();
    }
  }

  bool GetAttributes(const char* path, uint32_t* attributes) override {
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    *attributes = a;
    return true;
  }

  Error MakeDirectory(const char* path) override {
    if (!CreateDirectoryA(path, nullptr)) return LastError();
    return NoError();
  }

  bool SetAttributes(const char* path, uint32_t attributes) override {
    return SetFileAttributesA(path, attributes) != 0;
  }

  bool SetLastWriteTime(const char* path, uint32_t dos_time_stamp) override {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = false;
    FILETIME local, utc;
    if (h != INVALID_HANDLE_VALUE &&
        DosDateTimeToFileTime(static_cast<WORD>(dos_time_stamp >> 16),
                              static_cast<WORD>(dos_time_stamp & 0xFFFF), &local) &&
        LocalFileTimeToFileTime(&local, &utc)) {
      ok = SetFileTime(h, nullptr, nullptr, &utc) != 0;
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return ok;
  }

  bool IsLeadByte(unsigned char byte) override { return IsDBCSLeadByte(byte) != 0; }

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
