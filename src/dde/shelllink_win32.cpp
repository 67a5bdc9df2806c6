// The shell-link edge of the Windows build: the user's Start menu Programs folder
// from the shell, the group's folder made in it, and each shortcut saved through the
// shell's link object (IShellLinkW and its IPersistFile). Every text reaches the
// shell as UTF-16, converted from the encoding of the program's DDE commands.
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <stdlib.h>
#include <wchar.h>

#include "ddeman.h"
#include "shelllink.h"

namespace vek {
namespace {

// Room for the Programs folder, a group and a shortcut's file name; the shell's link
// object saves to paths of at most MAX_PATH characters anyway.
constexpr int kPathSize = 2 * MAX_PATH;

// A zero-terminated text as UTF-16; empty when it cannot be converted or memory runs
// out (failed() then tells). The texts are UTF-8 when the DDE manager is a Unicode
// one, as the commands that Program Manager did not get would have been.
class CommandTextToWide {
 public:
  explicit CommandTextToWide(const char* text) {
    const UINT code_page = DdeManager && DdeManager->Unicode() ? CP_UTF8 : CP_ACP;
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

// "<Programs>\<group>", and with a name "<Programs>\<group>\<name>.lnk".
bool ProgramsPath(const char* group, const char* name, wchar_t (&out)[kPathSize]) {
  wchar_t programs[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAMS | CSIDL_FLAG_CREATE, nullptr,
                              SHGFP_TYPE_CURRENT, programs))) {
    return false;
  }
  const CommandTextToWide wide_group(group);
  if (wide_group.failed()) return false;
  out[0] = 0;
  if (!Append(out, programs) || !Append(out, L"\\") || !Append(out, wide_group.get())) return false;
  if (!name) return true;
  const CommandTextToWide wide_name(name);
  return !wide_name.failed() && Append(out, L"\\") && Append(out, wide_name.get()) &&
         Append(out, L".lnk");
}

class Win32ShellLinkEdge final : public ShellLinkEdge {
 public:
  bool CreateGroupFolder(const char* group) override {
    wchar_t path[kPathSize];
    if (!ProgramsPath(group, nullptr, path)) return false;
    if (CreateDirectoryW(path, nullptr)) return true;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  bool CreateShortcut(const char* group, const char* name, const char* target,
                      const char* working_folder, const char* icon_path) override {
    wchar_t path[kPathSize];
    const CommandTextToWide wide_target(target), wide_folder(working_folder), wide_icon(icon_path);
    if (!ProgramsPath(group, name, path) || wide_target.failed() || wide_folder.failed() ||
        wide_icon.failed()) {
      return false;
    }
    // The link object is a COM object of the shell: COM is started for the call (or
    // joined, when this thread has it already) and ended again.
    const HRESULT com = CoInitialize(nullptr);
    bool saved = false;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
      IPersistFile* file = nullptr;
      if (SUCCEEDED(link->SetPath(wide_target.get())) &&
          (!*working_folder || SUCCEEDED(link->SetWorkingDirectory(wide_folder.get()))) &&
          (!*icon_path || SUCCEEDED(link->SetIconLocation(wide_icon.get(), 0))) &&
          SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        saved = SUCCEEDED(file->Save(path, TRUE));
        file->Release();
      }
      link->Release();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return saved;
  }
};

// At namespace scope: no guard variable, which would draw in the runtime's locking.
Win32ShellLinkEdge g_platform_links;

}  // namespace

ShellLinkEdge& PlatformShellLinkEdge() { return g_platform_links; }

}  // namespace vek
