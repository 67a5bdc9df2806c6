// Unit veksfxu: the main window TForm1 and its handlers.
//
// FormCreate fills in the window, QUITBTNClick closes it, and EXTBTNClick is the
// extraction run: create the destination, read the archive appended to our own
// executable, extract every entry while the gauge advances, register the program
// group through PM, say where the content is and close the window.
//
// TForm1 is portable: what it does to the window (the edit box DE, the gauge PB, the
// caption, closing) goes through TForm1Window, which the Win32 window implements and
// the tests script. Failures are Error values; the one that EXTBTNClick returns is what
// the window's message handling shows in the default error report.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ansistring.h"
#include "classes.h"
#include "error.h"
#include "extension.h"
#include "fileedge.h"
#include "progman.h"
#include "shelllink.h"
#include "stubconfig.h"
#include "stubdefaults.h"
#include "uninstall.h"

namespace vek {

class ArchiveReader;

// ---- Fixed texts (Windows-1250) ------------------------------------------------------

inline constexpr char kFormCaption[] =
    "Samorozpakowuj\xB9"
    "ce si\xEA archiwum VEK.";
inline constexpr char kPromptCaption[] = "Podaj katalog docelowy dla NWM Tarnovista 3/99:";
inline constexpr char kNoticeCaption[] =
    "Tarnovista 3/99 \xA9 1999 NWM. Wszelkie prawa zastrze\xBF"
    "one.";
inline constexpr char kExtractCaption[] = "&Rozpakuj";
inline constexpr char kQuitCaption[] = "&Koniec";
inline constexpr char kSubfolderErrorMessage[] =
    "B\xB3\xB9"
    "d podczas tworzenia podkatalogu...";
inline constexpr char kGroupErrorMessage[] =
    "B\xB3\xB9"
    "d podczas tworzenia grupy...";
// The start of the report of a destination without room for the files; the sizes follow.
inline constexpr char kNoRoomText[] = "Not enough free space: the files take ";
// A configured installer's message for a folder the user may not write (the folder
// follows it); the stub's own has none, and gives kSubfolderErrorMessage.
inline constexpr char kRightsErrorMessage[] =
    "You may not write to this folder. Start the installer as administrator (right-click it, Run as "
    "administrator), or choose another folder.";
// A configured installer's message for a program of "run" that could not be started
// (its path follows).
inline constexpr char kRunErrorMessage[] = "The installer's program could not be started.";
inline constexpr char kDamagedMessage[] = "Instalator jest uszkodzony i trzeba go pobra\xE6 ponownie.";
inline constexpr char kClosingMessage[] =
    "Aby rozpocz\xB9\xE6 czytanie off-line NWM Tarnovista 3/99, wybierz "
    "Start/Programy/NWM Tarnovista/Tarnovista 3_99";

// ---- Settings: the texts, folder, group and items of the installer ------------------

struct StubItem {
  const char* target;  // below the destination
  const char* name;
};

// What a run shows and registers. Without a configuration these are the fixed texts
// above (Windows-1250); with one, every text is UTF-8: the configured values and, for
// the keys left out, the fixed texts converted.
struct StubSettings {
  bool utf8 = false;
  const char* caption = kFormCaption;
  const char* prompt = kPromptCaption;
  const char* folder = kDefaultDestination;
  const char* footer = kNoticeCaption;
  const char* group = kProgramGroupName;
  const char* done = kClosingMessage;
  const char* folder_error = kSubfolderErrorMessage;
  const char* group_error = kGroupErrorMessage;
  const char* extract_button = kExtractCaption;
  const char* quit_button = kQuitCaption;
  const char* damaged = kDamagedMessage;
  const char* rights_error = nullptr;  // nullptr: folder_error, and exit 2 under /S
  const char* installed = nullptr;     // the folder of the version installed; nullptr: none
  const StubItem* items = nullptr;  // nullptr: the one item of kProgramItemSuffix
  int item_count = 0;
  // The user's places alone (the user's Start-menu group, Apps & Features list): the
  // folder is the user's own ({localappdata}, {documents}, {desktop}), or the
  // installer runs without an administrator's full rights.
  bool personal = false;
  // What a run that completed opens after its closing message (below the
  // destination, "\\" separated); nullptr: nothing.
  const char* open = nullptr;
  // What a run that completed starts and waits for (below the destination; "run"),
  // its arguments and the message when it cannot start; nullptr: nothing.
  const char* run = nullptr;
  const char* run_arguments = nullptr;
  const char* run_error = nullptr;
  // The folder is {temp}: a new one of the run's own, which DE shows but the user
  // cannot change; a run extracts, registers nothing, says nothing and closes the
  // window for the program. Without confirm the window extracts as it opens.
  bool temp = false;
  bool confirm = false;
  // With "uninstall = yes": the name of the program in Apps & Features (product, else
  // group, and the version), its entry's key, publisher and version (nullptr: none).
  // app_name nullptr: no uninstaller.
  const char* app_name = nullptr;
  const char* app_id = nullptr;
  const char* publisher = nullptr;
  const char* version = nullptr;
};

// The stub's own settings.
const StubSettings& DefaultSettings();

// Where a known folder is on this machine (UTF-8); empty when the system names none.
using KnownFolderLookup = AnsiString (*)(KnownFolder folder);

// Settings made from a parsed configuration; the configuration's text must outlive
// them. Init is false when memory ran out.
class ConfiguredSettings {
 public:
  ConfiguredSettings() : settings_(DefaultSettings()) {}  // a copy: smaller than the defaults' stores
  bool Init(const StubConfig& config);
  // Makes a folder that begins with a known folder's name ("{localappdata}\...") the
  // path there; one the lookup cannot place becomes empty, a folder that no run can
  // make. An installer that is not elevated keeps to the user's places. False when
  // memory ran out.
  bool ResolveFolder(KnownFolderLookup lookup, bool elevated);
  // Where the version installed went: the folder an update proposes, if propose.
  void SetInstalled(const AnsiString& folder, bool propose) {
    installed_ = folder;
    settings_.installed = installed_.c_str();
    if (propose) settings_.folder = settings_.installed;
  }
  const StubSettings& settings() const { return settings_; }

 private:
  AnsiString resolved_folder_;
  AnsiString installed_;
  AnsiString app_name_;
  AnsiString app_id_;
  AnsiString converted_[kKeyDamaged + 1];  // the stub's own texts, for the text keys left out
  StubItem items_[kConfigMaxItems] = {};
  StubSettings settings_;
};

// How the last run ended, for the exit code of an unattended install.
enum class RunOutcome : uint8_t {
  kNotRun,
  kFolderFailed,    // the destination could not be made: nothing written
  kNoRights,        // the user may not make or write the destination: nothing written
  kExtractFailed,   // reading the archive or writing an entry failed
  kRegisterFailed,  // registering the group (or the uninstaller) failed: files installed
  kDamaged,         // the installer's bytes failed their checksums: nothing written
  kDone,
};

// ---- Layout, in pixels at 96 pixels per inch -----------------------------------------

inline constexpr int kLayoutPixelsPerInch = 96;

struct ControlLayout {
  int left, top, width, height;
};

struct Form1Layout {
  int left = 198, top = 118;  // the window's outer top-left corner
  int client_width = 417, client_height = 139;
  int font_height = 11;          // the window's font (MS Sans Serif), also PB's
  int control_font_height = 13;  // DE, Label1, Label2
  int label1_room = 318;         // Label1's widest: it stops short of the buttons
  ControlLayout Label2{8, 112, 401, 16};
  ControlLayout Label1{8, 8, 295, 16};  // fitted to its caption (AutoSize)
  ControlLayout PB{8, 88, 401, 17};
  ControlLayout DE{8, 32, 313, 24};
  ControlLayout EXTBTN{334, 16, 75, 25};
  ControlLayout QUITBTN{334, 48, 75, 25};
};
inline constexpr char kLayoutFontFace[] = "MS Sans Serif";
// The controls in the order of their window ids.
inline constexpr ControlLayout Form1Layout::*kForm1Controls[] = {&Form1Layout::Label2, &Form1Layout::Label1,
                                                                 &Form1Layout::PB,     &Form1Layout::DE,
                                                                 &Form1Layout::EXTBTN, &Form1Layout::QUITBTN};

// A length of the layout at another number of pixels per inch, rounded to nearest.
int ScaleToDpi(int pixels, int dpi);
// The layout drawn at dpi: every length and font height scaled (the fonts rounded down),
// the corner as it is.
Form1Layout ScaledLayout(int dpi);

// A monitor's work area (the screen without the taskbar), in pixels.
struct ScreenArea {
  int left, top, right, bottom;
};
// Where a window of this outer size goes: at (*left, *top), the layout's corner, when
// it fits the area there; otherwise moved into the area as far as needed (to the
// area's top-left corner when the window is the larger), so that no part of it, its
// close box and buttons included, is off the screen at a high pixel density.
void PlaceInArea(const ScreenArea& area, int width, int height, int* left, int* top);
// The pixels per inch the layout is drawn at: the screen's, or fewer when the window
// (its client area and a frame of frame_width x frame_height) would not fit the area
// at the screen's, so that on a small screen at a high density the whole window shows.
int FittingDpi(int dpi, const ScreenArea& area, int frame_width, int frame_height);

// The window on a monitor of dpi pixels per inch (its frame there frame_width x
// frame_height) with this work area: the layout drawn at FittingDpi, the window's
// outer corner at (left, top) - the layout's corner when it is made, the corner the
// system suggests when its monitor's density changes - moved into the area as
// PlaceInArea does, unless the user is dragging it (it stays where the drag has it).
struct Form1Place {
  int dpi, left, top, width, height;
};
Form1Place PlaceForm1(int dpi, const ScreenArea& area, int frame_width, int frame_height, int left, int top,
                      bool dragged);

// ---- The window ----------------------------------------------------------------------

class TForm1Window {
 public:
  virtual ~TForm1Window() = default;
  // DE's text in UTF-8, whatever the settings' encoding: a path as the file edge
  // takes it.
  virtual AnsiString DEText() = 0;
  // Sets DE's text, given in the settings' encoding like every text of theirs.
  virtual void SetDEText(const char* text) = 0;
  virtual void SetCaption(const char* text) = 0;
  // PB's Progress: the gauge clamps the value and redraws at once when the percentage
  // it shows changes.
  virtual void SetPBProgress(int32_t value) = 0;
  // Asks the application to end; the handler that calls it runs to its end first.
  virtual void Close() = 0;
  // The full path by which the system loaded our executable (UTF-8).
  virtual AnsiString ModuleFileName() = 0;
  // UTF-8 text in the ANSI code page, in which a conversation with Program Manager
  // that is not Unicode carries it (a character the code page lacks as its default
  // character). A window that no such conversation reads gives the text as it is.
  virtual AnsiString AnsiCodePageText(const AnsiString& utf8) { return utf8; }
  // Opens an installed file (UTF-8) as the user's shell opens it; an unattended
  // install opens nothing.
  virtual void OpenInstalled(const AnsiString& path) = 0;
};

class TForm1 : public TComponent {
 public:
  // archive_start_offset: ArchiveStartOffset, the byte offset of the archive in our
  // own executable. files: the file edge the run reads and writes through; queries:
  // what the uninstaller's record asks of the files; threads: where the check runs
  // beside the window's thread. links: the Start menu, where the group is written
  // when no shell makes it.
  TForm1(TComponent* owner, TForm1Window& window, FileEdge& files, UninstallQueries& queries, Threads& threads,
         ShellLinkEdge& links, uint32_t archive_start_offset, const StubSettings& settings = DefaultSettings());
  // Where the executable's extension block lies (the stub's constants). With one, a
  // run first checks the header, the table and every file's data against it, before
  // it makes or writes anything: a mismatch ends the run with the report of a
  // damaged installer (settings' damaged text and the damaged entry's path).
  void SetExtension(ExtensionPlace extension) { extension_ = extension; }
  // Where a completed run registers its uninstaller, when the settings ask for one.
  void SetApps(AppsEdge* apps) { apps_ = apps; }

  // Creates the components that the layout holds (PM, with links as its shortcut
  // fallback); false when memory ran out.
  bool LoadLayout();

  void FormCreate(TComponent* sender);
  // Closes the window. A configured installer then ends with kExitCancelled, or with
  // the exit code of /S after a run that wrote files and failed (WindowExitCode).
  void QUITBTNClick(TComponent* sender);
  // What the window ends with once it closed: kExitOk unless QUITBTNClick set another.
  int WindowExitCode() const { return exit_code_; }
  // The extraction run. Its two guarded steps report their failures with their own
  // messages; any other failure is returned for the default error report. A press
  // that arrives while a run is in progress (through a message box's loop) does
  // nothing.
  Error EXTBTNClick(TComponent* sender);

  // The run's registration step: fills PM with the group and the item lines for the
  // destination (UTF-8) and registers them, the same way with and without a window (PM's
  // Quiet set for an unattended install). Its outcome, kept as LastRegistration, is
  // groupSent when the shell made the group and every item from the DDE commands,
  // groupShortcuts when the run wrote some or all of them itself, and
  // groupNotRegistered when the group or an item is in the Start menu neither way (or
  // an error stopped PM); the run then shows the group message instead of the closing
  // one and leaves the window open.
  TGroupOutcome RegisterProgramGroup(const AnsiString& destination);
  TGroupOutcome LastRegistration() const { return registration_; }

  TProgMan* PM = nullptr;
  bool Running() const { return running_; }
  RunOutcome Outcome() const { return outcome_; }
  const StubSettings& Settings() const { return settings_; }

 private:
  Error ExtractArchive(const AnsiString& destination);
  Error CheckInstaller();
  bool SelfIntact(FileHandle file);
  Error CheckEntries(ArchiveReader& reader, uint32_t* slot);
  Error RefuseSharedData(const ArchiveReader& reader);
  Error Damaged(const ArchiveReader& reader, uint32_t slot);
  Error NoRoom(uint64_t needed, uint64_t free);

  TForm1Window& window_;
  FileEdge& files_;
  UninstallQueries& queries_;
  Threads& threads_;
  ShellLinkEdge& links_;
  uint32_t archive_start_offset_;
  ExtensionPlace extension_;
  AppsEdge* apps_ = nullptr;
  Error uninstaller_ = NoError();  // how writing the uninstaller ended
  AnsiString damage_report_;       // the text of the damaged installer's report
  AnsiString room_report_;         // of a destination without room for the files
  const StubSettings& settings_;
  bool running_ = false;
  RunOutcome outcome_ = RunOutcome::kNotRun;
  uint8_t exit_code_ = kExitOk;  // the window's, see WindowExitCode
  TGroupOutcome registration_ = groupNotRegistered;
};

// The log of a run (/LOG=FILE): each line given as parts (UTF-8), written as it comes.
class RunLog {
 public:
  virtual ~RunLog() = default;
  virtual void Line(const char* const* parts, int count) = 0;
};

// Writes "WHAT FOLDER BELOW: ok", or ": error CODE: MESSAGE", into InstallLog (when
// there is one).
void LogOutcome(const char* what, const char* folder, const char* below, const Error& error);

// The unit's variables.
extern RunLog* InstallLog;  // nullptr: no log
extern TForm1* Form1;
extern AnsiString OwnPath;
extern uint16_t EntryCount;  // the entry count of the run
// The destination of a run that completed, where the settings' program is to start
// once the window is gone; empty: nothing to start.
extern AnsiString RunFolder;

// A new folder of the run's own below `base` (which ends with a separator): "vek"
// and 16 hexadecimal digits from `random`, made new by the edge, another name tried
// when one is there already; empty when none could be made.
AnsiString MakePrivateFolder(const char* base, TreeMaker& edge, bool (*random)(void* bytes, uint32_t size));

// The destination as a run takes it from the text typed or given with /D: without
// its trailing "\" and "/", each "/" made the file edge's separator. *only_separators
// is set for a text made only of them, which names no folder that a run makes.
AnsiString RunDestination(const AnsiString& typed, bool* only_separators, char separator);

// An item line of the run: the destination followed by suffix ("\TARGET,NAME", by
// default kProgramItemSuffix). When the destination holds a comma, the command (up to
// the suffix's comma) goes in double quotes so that the line still splits into the
// command and the item's name.
AnsiString ProgramItemLine(const AnsiString& destination, const char* suffix = kProgramItemSuffix);

// ---- The application's reports -------------------------------------------------------

// Room for a report's text: an error's message (at most kErrorMessageSize bytes with
// its zero) and what is said around it, the executable's name among it; and for the
// switches box with every exit code.
inline constexpr size_t kErrorMessageSize = 256;
inline constexpr size_t kReportTextSize = 640;

// "Runtime error 217 at 0001A2B4": the error number (a byte's, right-aligned in four
// places) and the code address relative to the executable's image, in eight
// upper-case hexadecimal digits.
size_t FormatRuntimeError(uint32_t error_number, uint32_t address, char* buf, size_t size);

// "Exception EInOutError in module setup.exe at 0001A2B4.\nFile not found." (with a
// full stop after the message as in the default error report).
size_t FormatApplicationError(const Error& error, const char* module_name, uint32_t address, char* buf, size_t size);

// The application's title from the executable's path: the file name without its
// folder, cut at its first full stop, every character after the first made lower case
// by `lower`. UTF-16 in and out; out is always zero-terminated.
size_t ApplicationTitle(const uint16_t* path, uint16_t (*lower)(uint16_t), uint16_t* out, size_t size);

}  // namespace vek
