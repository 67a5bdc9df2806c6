// The stub's Win32 user interface, shared by its Win32 files: wide texts, fonts, the
// gauge window, the message dialog and the main window.
#pragma once

#include <windows.h>

#include "ansistring.h"
#include "ddemledge.h"
#include "error.h"
#include "messagebox.h"
#include "shelllink.h"
#include "veksfxp.h"
#include "veksfxu.h"

namespace vek {

// ---- Texts (win32text_win32.cpp) ---------------------------------------------------

// The program's texts are Windows-1250, or UTF-8 when it carries a configuration.
void SetTextsUtf8(bool utf8);
bool TextsUtf8();

// A text of the program as UTF-16 for the wide API.
class WideText {
 public:
  explicit WideText(const char* text);
  ~WideText();
  WideText(const WideText&) = delete;
  WideText& operator=(const WideText&) = delete;
  const wchar_t* get() const { return text_ ? text_ : L""; }

 private:
  wchar_t* text_ = nullptr;
};

// length UTF-16 units of text in a code page (CP_UTF8 for paths; a character the
// code page lacks becomes its default character). Failed when memory runs out.
AnsiString NarrowText(const wchar_t* text, int length, UINT code_page);
// UTF-8 text in the ANSI code page, as TForm1Window::AnsiCodePageText gives it.
AnsiString AnsiCodePageText(const AnsiString& utf8);

// A window's text, zero-terminated, in a buffer that fits it (free it); *length is
// its length. nullptr when memory runs out.
wchar_t* WindowTextAlloc(HWND window, int* length);

// The full path by which the system loaded the executable, in a buffer that fits it
// (free it); nullptr when memory runs out or the system gives none. *length, when
// given, receives its length.
wchar_t* ModuleFileNameAlloc(int* length = nullptr);
// The same in UTF-8; empty on failure.
AnsiString ModuleFileNameUtf8();

// An in-memory dialog template without controls or menu, ready for the Indirect
// dialog functions.
inline constexpr int kDialogTemplateWords = 32;
struct DialogTemplate {
  alignas(4) WORD words[kDialogTemplateWords];
};
// style, the window class (nullptr: the system's dialog class) and the caption.
void MakeDialogTemplate(DialogTemplate* out, DWORD style, const wchar_t* window_class, const wchar_t* caption);

// A function of user32 that older versions of Windows lack: nullptr there.
template <typename Function>
Function User32Function(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), name)));
}

// The pixels per inch of the screen as the system gives them to the whole program, and
// of the monitor a window is on (the same before Windows 10, or where the program runs
// system aware).
int ScreenDpi();
int WindowDpi(HWND window);

// "MS Sans Serif" with a character height of `height` pixels.
HFONT CreateLayoutFont(int height, bool antialiased);

// ---- The gauge (gauge_win32.cpp) -------------------------------------------------------

inline constexpr wchar_t kGaugeClassName[] = L"TGauge";
// wParam: the new Progress. The gauge repaints before the message returns when its
// shown percentage changes, and keeps the percentage as its window text.
inline constexpr UINT kGaugeSetProgress = WM_USER + 1;
bool RegisterGaugeClass(HINSTANCE instance);

// ---- Message boxes (msgdlg_win32.cpp) ---------------------------------------------------

// ShowMessageBox's dialog: caption "Information" or "Error", the system's icon, the
// text wrapped to half the screen's width, one OK button; modal to the main window.
class DialogMessageBoxes final : public MessageBoxPresenter {
 public:
  void ShowMessageBox(const char* text, MessageKind kind) override;
};

// ---- The main window (veksfxu_win32.cpp) -------------------------------------------------

// The application's title (the caption of the default error report).
const wchar_t* ApplicationTitleText();
HINSTANCE ApplicationInstance();
// The main window, or nullptr before it exists and after it is gone.
HWND MainWindowHandle();

// Makes the main window, owned by application, with the settings, and runs FormCreate;
// a destination given with /D (zero-terminated UTF-16, or nullptr) then replaces DE's
// text. links: where the run writes the group when no shell makes it.
Error CreateForm1(TComponent* application, uint32_t archive_start_offset, const StubSettings& settings,
                  const wchar_t* destination, ShellLinkEdge& links);
// Shows it as the program was asked to (show command), and runs the message loop.
void RunForm1(int show_command);

// The default error report: the error's message, the application's title, stop icon.
void ShowErrorReport(const Error& error);

// Where the stub's constants place the extension block (none: an empty place).
ExtensionPlace StubExtension();

// ---- The program (veksfxp_win32.cpp) -----------------------------------------------------

// What WinMain does with the platform's edges: the switches, the configuration, then
// RunProgram with this DDEML edge and this Start menu; returns the exit code. A test
// build runs it with edges of its own.
int StubMain(int show_command, DdemlEdge& ddeml, ShellLinkEdge& links);

// ---- The program of "run" (run_win32.cpp) ----------------------------------------------

// A new folder of the run's own below the user's temporary folder (MakePrivateFolder);
// empty when none could be made.
AnsiString PrivateTempFolder();
// Removes the folder and everything in it (RemoveBelow's rules: links themselves, a
// file in use at the next start of Windows), and logs what it left.
void RemoveFolderTree(const AnsiString& folder);
// Starts the settings' program in folder (a completed run's destination) with its
// arguments and those after the switches' "--", waits for it to end and returns its
// exit code; kExitRunFailed, after the settings' message (unless silent), when it
// cannot be started.
int RunInstalled(const StubSettings& settings, const AnsiString& folder, const Switches& switches, bool silent);

// ---- The uninstaller (uninstall_win32.cpp) -----------------------------------------------

// Apps & Features in the registry, and uninstall.exe made from this program.
AppsEdge& StubApps();
// The folder (UTF-8) of the installed product id: its entry's InstallLocation, from
// the user's list first when personal, else the machine's first, where that folder
// holds an uninstaller; empty when there is none.
AnsiString InstalledFolder(const char* id, bool personal);
// The run of uninstall.exe, whose record is text (without its magic): asks (unless
// silent), removes the install, says what it left; returns the exit code.
int RunUninstaller(const StubSettings& settings, const Switches& switches, const AnsiString& text,
                   ShellLinkEdge& links);
// The work of the uninstaller's copy, started with /WAIT=HANDLE (record: the copy's
// own record): when the process of that handle runs an uninstall.exe with the same
// record, waits for it to end, then deletes it and its folder when empty. Any other
// process or handle: nothing is deleted (kExitApplicationError).
int FinishUninstall(uintptr_t uninstaller, const AnsiString& record);

}  // namespace vek
