// The file edge on Windows: the paths' bytes read in the ANSI code page, as the 8-bit
// (ANSI) file functions read them, and handed to the wide functions; a registered
// UTF-8 prefix is read as UTF-8 (win32path.h). GetLastError codes are already the codes
// the system reports.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "fileedge.h"
#include "win32path.h"

namespace vek {

namespace {
char* g_utf8_prefix = nullptr;
size_t g_utf8_prefix_length = 0;
}  // namespace

void SetUtf8PathPrefix(const char* prefix) {
  free(g_utf8_prefix);
  g_utf8_prefix = prefix ? _strdup(prefix) : nullptr;
  g_utf8_prefix_length = g_utf8_prefix ? strlen(g_utf8_prefix) : 0;
}

namespace {

// A path as the wide functions take it; get() is nullptr when memory ran out.
class WidePath {
 public:
  explicit WidePath(const char* path) {
    const size_t length = strlen(path);
    size_t utf8 = 0;  // bytes read as UTF-8
    if (g_utf8_prefix_length > 0) {
      const size_t n = g_utf8_prefix_length;
      if (length >= n && memcmp(path, g_utf8_prefix, n) == 0 && (path[n] == 0 || path[n] == '\\')) {
        utf8 = n;
      } else if (length < n && memcmp(path, g_utf8_prefix, length) == 0 && g_utf8_prefix[length] == '\\') {
        utf8 = length;
      }
    }
    const int head = utf8 ? MultiByteToWideChar(CP_UTF8, 0, path, static_cast<int>(utf8), nullptr, 0) : 0;
    const int tail = length > utf8 ? MultiByteToWideChar(CP_ACP, 0, path + utf8,
                                                         static_cast<int>(length - utf8), nullptr, 0)
                                   : 0;
    path_ = static_cast<wchar_t*>(malloc((static_cast<size_t>(head) + tail + 1) * sizeof(wchar_t)));
    if (!path_) return;
    if (head) MultiByteToWideChar(CP_UTF8, 0, path, static_cast<int>(utf8), path_, head);
    if (tail) {
      MultiByteToWideChar(CP_ACP, 0, path + utf8, static_cast<int>(length - utf8), path_ + head, tail);
    }
    path_[head + tail] = 0;
  }
  ~WidePath() { free(path_); }
  WidePath(const WidePath&) = delete;
  WidePath& operator=(const WidePath&) = delete;
  const wchar_t* get() const { return path_; }

 private:
  wchar_t* path_ = nullptr;
};

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

Error LastError() {
  DWORD code = GetLastError();
  return InOutError(code ? code : kWinErrorInvalidFunction);
}

class Win32FileEdge final : public FileEdge {
 public:
  Error OpenRead(const char* path, FileHandle* file) override {
    WidePath wide(path);
    if (!wide.get()) return InOutError(kWinErrorNotEnoughMemory);
    HANDLE h = CreateFileW(wide.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    *file = reinterpret_cast<FileHandle>(h);
    return NoError();
  }

  Error Create(const char* path, FileHandle* file) override {
    WidePath wide(path);
    if (!wide.get()) return InOutError(kWinErrorNotEnoughMemory);
    HANDLE h = CreateFileW(wide.get(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
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
    WidePath wide(path);
    DWORD a = wide.get() ? GetFileAttributesW(wide.get()) : INVALID_FILE_ATTRIBUTES;
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    *attributes = a;
    return true;
  }

  bool MakeDirectory(const char* path) override {
    WidePath wide(path);
    return wide.get() && CreateDirectoryW(wide.get(), nullptr) != 0;
  }

  bool SetAttributes(const char* path, uint32_t attributes) override {
    WidePath wide(path);
    return wide.get() && SetFileAttributesW(wide.get(), attributes) != 0;
  }

  bool SetLastWriteTime(const char* path, uint32_t dos_time_stamp) override {
    WidePath wide(path);
    HANDLE h = wide.get() ? CreateFileW(wide.get(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                          : INVALID_HANDLE_VALUE;
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
