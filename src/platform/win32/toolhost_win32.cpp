// The tools' requests to Windows.
#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include "toolhost.h"
#include "winpath.h"

namespace vek {
namespace {

std::string Utf8(const wchar_t* text, int length) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

}  // namespace

std::string SystemErrorText(uint32_t code) {
  char buffer[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                           MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
  if (n == 0) {
    n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                       sizeof buffer, nullptr);
  }
  return std::string(buffer, n);
}

bool StandardErrorIsTerminal() { return _isatty(2) != 0; }

std::string ProgramFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  size_t slash = buffer.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::string();
  return Utf8(buffer.data(), static_cast<int>(slash));
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  SetConsoleOutputCP(CP_UTF8);  // fails harmlessly without a console
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(Utf8(wide[i], -1).c_str());
  LocalFree(wide);
  return out;
}

bool DestinationFolder(const std::string& folder, std::string* destination) {
  std::wstring wide = Wide(folder.empty() ? std::string(".") : folder);
  // "/" separates as "\" does; given as "\", Wine too reads "/" as the current
  // drive's root and not as the Unix root.
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return false;
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n);
  }
  std::string text = Utf8(full.data(), static_cast<int>(full.size()));
  bool root = false;
  text.resize(TrimDestination(text.data(), text.size(), &root));
  *destination = text;  // "C:\\" is "C:", its root; "\\" alone, none that Windows gives
  return true;
}

Error OpenNativeFile(const char* path, FileHandle* file) { return PlatformFileEdge().OpenRead(path, file); }

bool ExamineNativePath(const char* path, PathFacts* facts) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return false;
  *facts = PathFacts{};
  facts->kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::kFolder : FileKind::kFile;
  facts->read_only = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  facts->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

}  // namespace vek
