// The program of "run": started once the files are there and waited for; and the
// folder of {temp}, made new for the run and removed with everything in it.
#include <windows.h>
#include <ntsecapi.h>

#include <stdlib.h>
#include <string.h>

#include "text.h"
#include "win32ui.h"

namespace vek {
namespace {

bool RandomBytes(void* bytes, uint32_t size) { return RtlGenRandom(bytes, size) != FALSE; }

Error LastError() {
  const DWORD code = GetLastError();
  return InOutError(code ? code : uint32_t{kWinErrorInvalidFunction});
}

// The path being removed, after "\\?\" (no MAX_PATH limit), and how deep the removal
// goes below the folder (a tree deeper than a run's files is left).
constexpr size_t kTreeRoom = 32768;
constexpr int kTreeDepth = 128;
wchar_t g_tree[kTreeRoom];
// The system may hold a program's files and folder a moment after it has ended (a
// busy Wine for more than a second): what is left is tried again after pauses that
// double, 3.1 seconds in all, and only in the last pass logged.
constexpr int kTreePasses = 6;
constexpr DWORD kTreeFirstPause = 100;  // milliseconds
bool g_last_pass = false;

// Removes g_tree[0, length): a file, an empty folder, or a link (the link itself,
// never what it leads to). What cannot go yet, such as a file still in use, is left
// to the next start of Windows where the rights allow it, and logged.
void RemovePath(size_t length, DWORD attributes, bool log_removed) {
  g_tree[length] = 0;
  if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(g_tree, attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  const bool removed = attributes & FILE_ATTRIBUTE_DIRECTORY ? RemoveDirectoryW(g_tree) : DeleteFileW(g_tree);
  if (removed ? !log_removed : !g_last_pass) return;
  const Error error = removed ? NoError() : LastError();
  const char* what = "removed";
  if (!removed) {
    what = MoveFileExW(g_tree, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? "left for the next start of Windows" : "left";
  }
  LogOutcome(what, NarrowText(g_tree + 4, static_cast<int>(length - 4), CP_UTF8).c_str(), "", error);
}

// Removes what is below the folder g_tree[0, length), depth first, then the folder.
void RemoveBelow(size_t length, DWORD attributes, int depth) {
  WIN32_FIND_DATAW found;
  memcpy(g_tree + length, L"\\*", 3 * sizeof(wchar_t));
  const HANDLE find = depth < kTreeDepth ? FindFirstFileW(g_tree, &found) : INVALID_HANDLE_VALUE;
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const wchar_t* name = found.cFileName;
      const size_t n = wcslen(name);
      if ((name[0] == '.' && (n == 1 || (n == 2 && name[1] == '.'))) || length + n + 3 > kTreeRoom) continue;
      g_tree[length] = '\\';
      memcpy(g_tree + length + 1, name, n * sizeof(wchar_t));
      const DWORD kind = found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
      if (kind == FILE_ATTRIBUTE_DIRECTORY) {
        RemoveBelow(length + 1 + n, found.dwFileAttributes, depth + 1);
      } else {
        RemovePath(length + 1 + n, found.dwFileAttributes, false);
      }
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemovePath(length, attributes, depth == 0);
}

}  // namespace

AnsiString PrivateTempFolder() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);  // ends with "\"
  if (length == 0 || length > MAX_PATH) return AnsiString();
  return MakePrivateFolder(NarrowText(temp, static_cast<int>(length), CP_UTF8).c_str(), PlatformFileEdge(),
                           RandomBytes);
}

void RemoveFolderTree(const AnsiString& folder) {
  const WideText wide(folder.c_str());
  const size_t length = wcslen(wide.get());
  if (length == 0 || length + 8 > kTreeRoom) return;
  memcpy(g_tree, L"\\\\?\\", 4 * sizeof(wchar_t));
  memcpy(g_tree + 4, wide.get(), length * sizeof(wchar_t));
  DWORD pause = kTreeFirstPause;
  for (int pass = 1; pass <= kTreePasses; ++pass, pause += pause) {
    g_last_pass = pass == kTreePasses;
    RemoveBelow(length + 4, FILE_ATTRIBUTE_DIRECTORY, 0);
    g_tree[length + 4] = 0;
    if (g_last_pass || GetFileAttributesW(g_tree) == INVALID_FILE_ATTRIBUTES) break;
    WaitForSingleObject(reinterpret_cast<HANDLE>(-1), pause);  // a pause: this process never ends here
  }
}

int RunInstalled(const StubSettings& settings, const AnsiString& folder, const Switches& switches, bool silent) {
  // "FOLDER\PROGRAM" ARGUMENTS, and what the installer was given after "--".
  AnsiString command("\"");
  command += folder;
  command += '\\';
  command += settings.run;
  command += '"';
  if (*settings.run_arguments) {
    command += ' ';
    command += settings.run_arguments;
  }
  if (switches.run_arguments) {
    command += ' ';
    command += NarrowText(reinterpret_cast<const wchar_t*>(switches.run_arguments),
                          static_cast<int>(switches.run_arguments_length), CP_UTF8);
  }
  const WideText wide_command(command.c_str()), wide_folder(folder.c_str());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  const bool started = !command.failed() && *wide_command.get() &&
                       CreateProcessW(nullptr, const_cast<wchar_t*>(wide_command.get()), nullptr, nullptr, FALSE, 0,
                                      nullptr, wide_folder.get(), &startup, &process);
  LogOutcome("run", command.c_str(), "", started ? NoError() : LastError());
  if (!started) {
    if (!silent) {
      AnsiString text(settings.run_error);
      text += "\n\n";
      text += command;
      ShowMessageBox(text.c_str(), MessageKind::kError);
    }
    return kExitRunFailed;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = kExitRunFailed;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);  // the log's last line, "exit code N", says it
}

}  // namespace vek
