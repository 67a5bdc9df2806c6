// Unit veksfxp: the program's start and stop.
//
// Start: the application object; the DDE manager, owned by it; the main window from
// its layout, then FormCreate. Then the message loop. Stop: the application object
// destroys the main window and then the DDE manager, and the program ends with 0.
// A failure while the DDE manager is set up ends it with the runtime error box and
// 217; one while the main window is made, with the "Application Error" box and 1.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ansistring.h"
#include "classes.h"
#include "ddemledge.h"
#include "error.h"
#include "exitcodes.h"
#include "fileedge.h"
#include "shelllink.h"
#include "veksfxu.h"

namespace vek {

// The command line's switches; anything else on it is ignored.
//   /S        install without a window or message box
//   /D=PATH   the destination; the rest of the line, so it comes last and may hold
//             blanks (one pair of quotes around it, or around the whole switch, is
//             dropped)
//   /?        show the switches and install nothing; with /S, show nothing either
//   /LOG=FILE write what the run makes, its errors and the exit code into FILE (UTF-8);
//             one word (quotes around it, or around the whole switch, for blanks)
//   /LANG=TAG the language of the configured texts ("de", "de-AT") instead of the
//             user's interface language
//   --        the rest of the line goes to the program of "run", after its own
//             arguments (also after /D=PATH: " -- " ends the path)
struct Switches {
  bool silent = false;
  bool help = false;
  const uint16_t* log = nullptr;  // inside the command line, not terminated; nullptr: none
  size_t log_length = 0;
  bool has_destination = false;
  const uint16_t* destination = nullptr;  // inside the command line, not terminated
  size_t destination_length = 0;
  // /WAIT=HANDLE (decimal): an uninstaller's copy, which deletes the uninstaller once
  // the process of that inherited handle has ended; 0: none.
  uintptr_t wait = 0;
  const uint16_t* language = nullptr;  // /LANG='s tag, inside the command line; nullptr: none
  size_t language_length = 0;
  const uint16_t* run_arguments = nullptr;  // after "--", to the line's end; nullptr: none
  size_t run_arguments_length = 0;
};

// The language of a run's texts ("de-AT"; see ParseStubConfig): /LANG='s, else
// `system` (the user's interface language, zero-terminated; nullptr: none), ASCII
// and cut to kLanguageSize - 1 characters.
inline constexpr size_t kLanguageSize = 16;
void RunLanguage(const Switches& switches, const uint16_t* system, char out[kLanguageSize]);

// Reads the switches from a whole command line (UTF-16, zero-terminated), whose first
// word, the program, is skipped.
Switches ParseSwitches(const uint16_t* command_line);

// The text of the /? box: the switches and the exit codes of /S.
size_t FormatSwitchesHelp(char* buf, size_t size);

struct StartOptions {
  const StubSettings* settings = &DefaultSettings();
  bool silent = false;
  bool help = false;
  // The destination given with /D, in UTF-8; for a silent run without /D, the
  // settings' folder is used.
  bool has_destination = false;
  AnsiString destination;
};

class ApplicationHost {
 public:
  virtual ~ApplicationHost() = default;
  // Makes the main window, owned by application, from its layout and runs FormCreate.
  virtual Error CreateMainWindow(TComponent* application) = 0;
  // Shows the main window and runs the message loop until the application is asked
  // to end.
  virtual void Run() = 0;
  // The system's message box: text and caption in the settings' encoding; a stop
  // icon or none.
  virtual void ShowSystemMessage(const char* text, const char* caption, bool stop_icon) = 0;
  // The executable's file name without its folder, in the settings' encoding.
  virtual const char* ModuleName() = 0;
  // A code address relative to the start of the executable's image.
  virtual uint32_t RelativeAddress(const void* code) = 0;

  // The Start menu's folders, where the window's run and an unattended one alike
  // write the group and its items when no shell makes them.
  virtual ShellLinkEdge& ShellLinks() = 0;
  // For an unattended install: the file edge, ArchiveStartOffset, the full path of
  // the executable (UTF-8) and TForm1Window::AnsiCodePageText.
  virtual FileEdge& Files() { return PlatformFileEdge(); }
  virtual uint32_t ArchiveStart() { return 0; }
  virtual ExtensionPlace Extension() { return {}; }
  // Where a completed install registers its uninstaller; nullptr: nowhere.
  virtual AppsEdge* Apps() { return nullptr; }
  virtual AnsiString ModulePath() { return AnsiString(); }
  virtual AnsiString AnsiCodePageText(const AnsiString& utf8) { return utf8; }
  // The /? box: text and caption in the settings' encoding.
  virtual void ShowSwitches(const char* text, const char* caption) {}
};

// Runs the program; returns its exit code. With options.silent nothing is shown: the
// extraction run goes straight to work on the destination and its outcome gives the
// exit code; /S with /? shows nothing, installs nothing and ends with 0.
int RunProgram(ApplicationHost& host, DdemlEdge& ddeml, const StartOptions& options = StartOptions());

}  // namespace vek
