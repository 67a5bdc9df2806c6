// The file edge on Windows: the 8-bit (ANSI) file functions, given the paths' bytes
// unchanged. GetLastError codes are already the codes the system reports.
#include <windows.h>

#include "fileedge.h"

namespace vek {
namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

Error LastError() {
  DWORD code = GetLastError();
  return InOutError(code ? code : kWinErrorInvalidFunction);
}

class Win32FileEdge final : public FileEdge {
 public:
  Error OpenRead(const char* path, FileHandle* file) override {
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
    if (!CloseHandle(ToHandle(file))) return LastError();
    return NoError();
  }

  bool GetAttributes(const char* path, uint32_t* attributes) override {
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    *attributes = a;
    return true;
  }

  bool MakeDirectory(const char* path) override { return CreateDirectoryA(path, nullptr) != 0; }

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
};

}  // namespace

FileEdge& PlatformFileEdge() {
  static Win32FileEdge edge;
  return edge;
}

}  // namespace vek
