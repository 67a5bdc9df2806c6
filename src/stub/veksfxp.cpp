#include "veksfxp.h"

#include <stdlib.h>
#include <string.h>

#include "cp1250.h"
#include "ddeman.h"
#include "messagebox.h"
#include "text.h"
#include "veksfxu.h"

namespace vek {

namespace {

constexpr char kSwitches[] =
    "/S  install without a window or message into the proposed folder\n"
    "/D=PATH  install into PATH (last on the command line; it may hold blanks)\n"
    "/?  show this list\n"
    "/LOG=FILE  write what is installed, the errors and the exit code into FILE\n"
    "/LANG=TAG  the texts in language TAG (de, pt-BR)\n"
    "\n"
    "Exit codes of /S:";

bool IsBlank(uint16_t c) { return c == ' ' || c == '\t'; }

// Whether p is "--" alone: followed by a blank, a control character or the line's end.
bool IsDashes(const uint16_t* p) { return p[0] == '-' && p[1] == '-' && p[2] <= ' '; }

// The program's arguments: what follows the "--" at p, without the blanks before it.
void TakeRunArguments(const uint16_t* p, Switches* result) {
  for (p += 2; IsBlank(*p);) ++p;
  result->run_arguments = p;
  while (*p) ++p;
  result->run_arguments_length = static_cast<size_t>(p - result->run_arguments);
}
uint16_t Upper(uint16_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint16_t>(c - 32) : c; }

// Whether `word` is "/" and the switch `name` ("LOG=", in upper case), any letter case.
bool IsSwitch(const uint16_t* word, const char* name) {
  if (*word++ != '/') return false;
  while (*name) {
    if (Upper(*word++) != *name++) return false;
  }
  return true;
}

// The window of an unattended install: DE's text is kept (in UTF-8), everything else
// dropped.
class SilentWindow final : public TForm1Window {
 public:
  SilentWindow(ApplicationHost& host, bool utf8) : host_(host), utf8_(utf8), module_path_(host.ModulePath()) {}
  AnsiString DEText() override { return text_; }
  void SetDEText(const char* text) override {
    if (utf8_) {
      text_ = AnsiString(text);
      return;
    }
    const size_t length = strlen(text);
    char* converted = static_cast<char*>(malloc(3 * length + 1));  // 3 bytes a character at most
    text_ = converted ? AnsiString(converted, Cp1250ToUtf8(text, length, converted, 3 * length + 1))
                      : AnsiString("", static_cast<size_t>(-1));
    free(converted);
  }
  // The destination given with /D.
  void SetDestination(const AnsiString& utf8) { text_ = utf8; }
  void SetCaption(const char*) override {}
  void SetPBProgress(int32_t) override {}
  void Close() override {}
  AnsiString ModuleFileName() override { return module_path_; }
  AnsiString AnsiCodePageText(const AnsiString& utf8) override { return host_.AnsiCodePageText(utf8); }
  void OpenInstalled(const AnsiString&) override {}  // nothing is started unattended

 private:
  ApplicationHost& host_;
  bool utf8_;
  AnsiString module_path_;
  AnsiString text_;
};

// Message boxes of an unattended install are not shown; an error box (a file that
// could not be written) is remembered.
class SilentMessages final : public MessageBoxPresenter {
 public:
  void ShowMessageBox(const char*, MessageKind kind) override {
    if (kind == MessageKind::kError) error_shown = true;
  }
  bool error_shown = false;
};

int RunSilently(ApplicationHost& host, TComponent* application, const StartOptions& options) {
  SilentWindow window(host, options.settings->utf8);
  TForm1* form = new TForm1(application, window, host.Files(), PlatformUninstallQueries(), PlatformThreads(),
                            host.ShellLinks(), host.ArchiveStart(), *options.settings);
  if (!form || !form->LoadLayout()) return kExitApplicationError;
  form->SetExtension(host.Extension());
  form->SetApps(host.Apps());
  // The group's window, which a shell opens on CreateGroup, is not to appear either:
  // the group and its items are written straight into the Start menu.
  form->PM->Quiet = true;
  form->FormCreate(form);
  if (options.has_destination) window.SetDestination(options.destination);

  SilentMessages messages;
  MessageBoxPresenter* previous = SetMessageBoxPresenter(&messages);
  const Error error = form->EXTBTNClick(form);
  SetMessageBoxPresenter(previous);
  switch (form->Outcome()) {
    case RunOutcome::kFolderFailed: return kExitFolderFailed;
    case RunOutcome::kNoRights: return kExitNoRights;
    case RunOutcome::kDamaged: return kExitDamaged;
    case RunOutcome::kNotRun:
    case RunOutcome::kExtractFailed: return kExitExtractFailed;
    case RunOutcome::kRegisterFailed: break;
    case RunOutcome::kDone:
      // The run knows whether the group and its items got through, over DDE or as
      // shortcuts; a command that failed on the way but was made up for is no failure.
      if (error.ok() && !messages.error_shown) return kExitOk;
      break;
  }
  return messages.error_shown ? kExitExtractFailed : kExitRegisterFailed;
}

}  // namespace

size_t FormatSwitchesHelp(char* buf, size_t size) {
  TextBuilder out(buf, size);
  out.Text(kSwitches);
  for (const ExitCode& exit : kInstallExitCodes) {
    if (&exit != kInstallExitCodes) out.Text(",");
    out.Text(" ").Decimal(exit.code).Text(" ").Text(exit.words);
  }
  return out.Text(".").length();
}

Switches ParseSwitches(const uint16_t* line) {
  Switches result;
  const uint16_t* p = line;
  // The program: quoted, or up to the first blank.
  if (*p == '"') {
    for (++p; *p && *p != '"'; ++p) {
    }
    if (*p) ++p;
  }
  while (*p && !IsBlank(*p)) ++p;
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (!*p) break;
    if (IsDashes(p)) {
      TakeRunArguments(p, &result);
      break;
    }
    const bool quoted = *p == '"';
    const uint16_t* word = quoted ? p + 1 : p;
    if (IsSwitch(word, "D=")) {
      const uint16_t* begin = word + 3;
      const uint16_t* end = begin;
      while (*end && !(IsBlank(*end) && IsDashes(end + 1))) ++end;
      if (*end) TakeRunArguments(end + 1, &result);
      while (end > begin && IsBlank(end[-1])) --end;
      bool inner = begin < end && *begin == '"';
      if (inner) ++begin;
      if ((quoted || inner) && end > begin && end[-1] == '"') --end;
      result.has_destination = true;
      result.destination = begin;
      result.destination_length = static_cast<size_t>(end - begin);
      break;
    }
    // A word: up to a blank outside quotes.
    bool in_quotes = false;
    const uint16_t* start = p;
    for (; *p && (in_quotes || !IsBlank(*p)); ++p) {
      if (*p == '"') in_quotes = !in_quotes;
    }
    const size_t length = static_cast<size_t>(p - start);
    const uint16_t* log = quoted ? start + 1 : start;
    if (length > 5 && IsSwitch(log, "LOG=")) {
      const uint16_t* end = p;
      if (quoted && end[-1] == '"') --end;
      if (end > log + 5 && log[5] == '"' && end[-1] == '"') {  // /LOG="FILE"
        ++log;
        --end;
      }
      result.log = log + 5;
      result.log_length = end > log + 5 ? static_cast<size_t>(end - log - 5) : 0;
    }
    if (length > 6 && IsSwitch(start, "WAIT=")) {
      uintptr_t handle = 0;
      for (const uint16_t* d = start + 6; d < p && *d >= '0' && *d <= '9'; ++d) handle = handle * 10 + (*d - '0');
      result.wait = handle;
    }
    if (length > 6 && IsSwitch(start, "LANG=")) {
      result.language = start + 6;
      result.language_length = length - 6;
    }
    if (length == 2 && start[0] == '/' && Upper(start[1]) == 'S') result.silent = true;
    if (length == 2 && start[0] == '/' && start[1] == '?') result.help = true;
  }
  return result;
}

void RunLanguage(const Switches& switches, const uint16_t* system, char out[kLanguageSize]) {
  const uint16_t* from = switches.language ? switches.language : system;
  const size_t length = switches.language ? switches.language_length : kLanguageSize;
  size_t i = 0;
  for (; from && i < length && i < kLanguageSize - 1 && from[i]; ++i) {
    out[i] = from[i] < 0x80 ? static_cast<char>(from[i]) : '?';
  }
  out[i] = 0;
}

int RunProgram(ApplicationHost& host, DdemlEdge& ddeml, const StartOptions& options) {
  char text[kReportTextSize];
  if (options.help) {
    // /S promises that no box appears: with it, /? shows nothing and installs nothing.
    if (!options.silent) {
      FormatSwitchesHelp(text, sizeof text);
      host.ShowSwitches(text, options.settings->caption);
    }
    return kExitOk;
  }
  TComponent* application = new TComponent(nullptr);
  Error error = application ? InitDdeManager(application, ddeml) : OutOfMemoryError();
  if (!error.ok()) {
    delete application;
    if (options.silent) return kExitStartupError;
    // Where the failure arose: the DDE manager's set-up.
    FormatRuntimeError(kExitStartupError, host.RelativeAddress(reinterpret_cast<const void*>(&InitDdeManager)), text,
                       sizeof text);
    host.ShowSystemMessage(text, "Error", false);
    return kExitStartupError;
  }

  if (options.silent) {
    const int code = RunSilently(host, application, options);
    delete application;
    return code;
  }

  error = host.CreateMainWindow(application);
  if (!error.ok()) {
    FormatApplicationError(error, host.ModuleName(), host.RelativeAddress(reinterpret_cast<const void*>(&RunProgram)),
                           text, sizeof text);
    host.ShowSystemMessage(text, "Application Error", true);
    delete application;
    return kExitApplicationError;
  }

  host.Run();
  const int code = Form1 ? Form1->WindowExitCode() : kExitOk;
  delete application;  // the main window first, then the DDE manager
  return code;
}

}  // namespace vek
