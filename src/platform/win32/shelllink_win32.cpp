// The shell-link edge of the Windows build: the user's and the common Start menu
// Programs folder from the shell, the group's folder made in the user's, and each
// shortcut saved through the shell's link object (IShellLinkW and its IPersistFile).
// Every text reaches the shell as UTF-16, converted from UTF-8 or the ANSI code page.
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <stdlib.h>
#include <wchar.h>

#include "fileattributes.h"
#include "shelllink.h"

namespace vek {
namespace {

// Room for the Programs folder, a group and a shortcut's file name; the shell's link
// object saves to paths of at most MAX_PATH characters anyway.
constexpr int kPathSize = 2 * MAX_PATH;

// The shell's link object and the two interfaces used of it, named here rather than
// taken from the import library of all the system's identifiers, whose one data
// section would come whole into the installer (1.6 KB for these 48 bytes).
constexpr GUID kShellLinkClass = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kShellLinkWide = {0x000214F9, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// A zero-terminated text, UTF-8 or in the ANSI code page, as UTF-16; empty when it
// cannot be converted or memory runs out (failed() then tells).
class CommandTextToWide {
 public:
  CommandTextToWide(const char* text, bool utf8) {
    const UINT code_page = utf8 ? CP_UTF8 : CP_ACP;
    const int units = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
    if (units <= 0) return;
    text_ = static_cast<wchar_t*>(malloc(static_cast<size_t>(units) * sizeof(wchar_t)));
    if (text_ && MultiByteToWideChar(code_page, 0, text, -1, text_, units) != units) {
      free(text_);
      text_ = nullptr;
    }
  }
  ~CommandTextToWide() { free(text_); }
  CommandTextToWide(const CommandTextToWide&) = delete;
  CommandTextToWide& operator=(const CommandTextToWide&) = delete;
  bool failed() const { return text_ == nullptr; }
  const wchar_t* get() const { return text_ ? text_ : L""; }

 private:
  wchar_t* text_ = nullptr;
};

// Appends text to the path in out (of kPathSize units); false when it does not fit.
bool Append(wchar_t* out, const wchar_t* text) {
  const size_t used = wcslen(out), more = wcslen(text);
  if (used + more >= static_cast<size_t>(kPathSize)) return false;
  wmemcpy(out + used, text, more + 1);
  return true;
}

// "<Programs>\<group>", and with a name "<Programs>\<group>\<name>.lnk", in the
// Programs folder `folder` (CSIDL_PROGRAMS or CSIDL_COMMON_PROGRAMS).
bool ProgramsPath(int folder, const char* group, const char* name, bool utf8, wchar_t (&out)[kPathSize]) {
  wchar_t programs[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, programs))) return false;
  const CommandTextToWide wide_group(group, utf8);
  if (wide_group.failed()) return false;
  out[0] = 0;
  if (!Append(out, programs) || !Append(out, L"\\") || !Append(out, wide_group.get())) return false;
  if (!name) return true;
  const CommandTextToWide wide_name(name, utf8);
  return !wide_name.failed() && Append(out, L"\\") && Append(out, wide_name.get()) && Append(out, L".lnk");
}

constexpr int kProgramsFolders[] = {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS};

class Win32ShellLinkEdge final : public ShellLinkEdge {
 public:
  bool CreateGroupFolder(const char* group, bool utf8) override {
    wchar_t path[kPathSize];
    if (!ProgramsPath(CSIDL_PROGRAMS | CSIDL_FLAG_CREATE, group, nullptr, utf8, path)) return false;
    if (CreateDirectoryW(path, nullptr)) return true;
    const DWORD attributes = FileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  bool CreateShortcut(const char* group, const char* name, const char* target, const char* working_folder,
                      const char* icon_path, bool utf8) override {
    wchar_t path[kPathSize];
    const CommandTextToWide wide_target(target, utf8), wide_folder(working_folder, utf8), wide_icon(icon_path, utf8);
    if (!ProgramsPath(CSIDL_PROGRAMS | CSIDL_FLAG_CREATE, group, name, utf8, path) || wide_target.failed() ||
        wide_folder.failed() || wide_icon.failed()) {
      return false;
    }
    // The link object is a COM object of the shell: COM is started for the call (or
    // joined, when this thread has it already) and ended again.
    const HRESULT com = CoInitialize(nullptr);
    bool saved = false;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkWide,
                                   reinterpret_cast<void**>(&link)))) {
      IPersistFile* file = nullptr;
      if (SUCCEEDED(link->SetPath(wide_target.get())) &&
          (!*working_folder || SUCCEEDED(link->SetWorkingDirectory(wide_folder.get()))) &&
          (!*icon_path || SUCCEEDED(link->SetIconLocation(wide_icon.get(), 0))) &&
          SUCCEEDED(link->QueryInterface(kPersistFile, reinterpret_cast<void**>(&file)))) {
        saved = SUCCEEDED(file->Save(path, TRUE));
        file->Release();
      }
      link->Release();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return saved;
  }

  void Remove(const char* group, const char* name, bool utf8) override {
    for (const int folder : kProgramsFolders) {
      wchar_t path[kPathSize];
      if (!ProgramsPath(folder, group, name, utf8, path)) continue;
      if (name) {
        DeleteFileW(path);
      } else {
        RemoveDirectoryW(path);
      }
    }
  }

  bool Exists(const char* group, const char* name, bool utf8) override {
    for (const int folder : kProgramsFolders) {
      wchar_t path[kPathSize];
      if (ProgramsPath(folder, group, name, utf8, path) && FileAttributes(path) != INVALID_FILE_ATTRIBUTES) {
        return true;
      }
    }
    return false;
  }

  // A pause, as Sleep, without its import: the current process (the pseudo handle -1)
  // is running, so the wait times out.
  void Wait(uint32_t milliseconds) override { WaitForSingleObject(reinterpret_cast<HANDLE>(-1), milliseconds); }
};

// At namespace scope: no guard variable, which would draw in the runtime's locking.
Win32ShellLinkEdge g_platform_links;

}  // namespace

ShellLinkEdge& PlatformShellLinkEdge() { return g_platform_links; }

}  // namespace vek
