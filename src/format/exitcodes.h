// Every program's exit codes with their words, defined once: the stub's switches box,
// the help of vek and vekpack (and so their manual pages) and the README's tables
// list these.
#pragma once

namespace vek {

struct ExitCode {
  int code;
  const char* words;
};

// ---- The installer (the stub) and its uninstaller ------------------------------------

inline constexpr int kExitOk = 0;
// Start-up failures, with their boxes (none under /S): the main window could not be
// made, or the DDE manager could not be set up (the runtime error box).
inline constexpr int kExitApplicationError = 1;
inline constexpr int kExitStartupError = 217;
// An unattended install (/S) ends with one of these when it did not complete.
inline constexpr int kExitFolderFailed = 2;    // the destination could not be made
inline constexpr int kExitExtractFailed = 3;   // the archive could not be read or written out
inline constexpr int kExitRegisterFailed = 4;  // files installed; the group, an item or the uninstaller not made
inline constexpr int kExitDamaged = 5;         // the installer is damaged: nothing written
inline constexpr int kExitNoRights = 9;        // configured: access denied making or writing the destination
inline constexpr int kExitRunFailed = 10;      // configured: the files are there; its program could not start
// A configured installer's window left with Quit (or its close box): nothing installed.
inline constexpr int kExitCancelled = 8;
// The uninstaller's, beside kExitOk.
inline constexpr int kExitLeftFiles = 6;     // removed; files added or changed since were left
inline constexpr int kExitRemoveFailed = 7;  // files that could not be removed (in use) are still there
inline constexpr int kExitUninstallNo = 8;   // the user answered no: nothing removed

// What /S ends with, in the words of the switches box.
inline constexpr ExitCode kInstallExitCodes[] = {
    {kExitOk, "installed"},
    {kExitFolderFailed, "the folder could not be made"},
    {kExitExtractFailed, "extraction failed"},
    {kExitRegisterFailed, "the Start-menu group, an item or the uninstaller could not be made (files installed)"},
    {kExitDamaged, "the installer is damaged (nothing written)"},
    {kExitNoRights, "the folder needs an administrator"},
    {kExitRunFailed, "the program to run could not be started"},
};
// A configured installer's window, beside kExitOk once its install completed.
inline constexpr ExitCode kWindowExitCodes[] = {
    {kExitCancelled, "left with Quit or the close box, nothing installed"},
};
inline constexpr ExitCode kStartupExitCodes[] = {
    {kExitApplicationError, "its window could not be made"},
    {kExitStartupError, "its DDE manager could not be set up"},
};
inline constexpr ExitCode kUninstallExitCodes[] = {
    {kExitOk, "everything removed"},
    {kExitLeftFiles, "removed, but files added or changed since the install were left"},
    {kExitRemoveFailed, "files could not be removed (in use)"},
    {kExitUninstallNo, "the user answered No: nothing removed"},
};

// ---- vek and vekpack ------------------------------------------------------------------

namespace tools {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitProblems = 2;  // vek: 'test' found problems, or wrong usage
inline constexpr int kExitUsage = 2;     // vekpack: wrong usage

inline constexpr ExitCode kVekExitCodes[] = {
    {kExitSuccess, "on success"},
    {kExitFailure, "when the file cannot be read as an archive or extraction fails"},
    {kExitProblems,
     "when 'test' finds problems, when 'extract' finds them (it reports them and writes what the installer "
     "would), or on wrong usage"},
};
inline constexpr ExitCode kVekpackExitCodes[] = {
    {kExitSuccess, "on success"},
    {kExitFailure, "when refused or failed"},
    {kExitUsage, "on wrong usage"},
};

}  // namespace tools
}  // namespace vek
