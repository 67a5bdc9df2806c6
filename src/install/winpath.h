// winpath: names and paths judged as Windows will take them, on every platform.
//
// Windows reads more into a name than its characters: CON or aux.txt opens a device,
// a trailing dot or blank is dropped ("evil." is "evil"), and a path that begins with
// two separators leaves the disk for a network host. These rules are written once,
// here, and every part that names something on Windows asks them: the reader and `vek`
// for an entry's path, `vekpack` for the names it packs, the configuration check for
// the Start-menu group, an item's name and target and the proposed folder, the Program
// Manager commands and the shortcuts written into the Start menu, and the file edge
// before it hands a path to Windows in the long form, which skips Windows' own reading.
//
// A name is judged in Windows-1250, the code page of an archive's names made before
// UTF-8 names, or in UTF-8, the encoding of the other archives' names, of a
// publisher's configuration, of the Unicode conversation with the shell and of every
// path inside the programs: the rules are the same, only the bytes of a character
// differ.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

enum class NameEncoding : uint8_t {
  kWindows1250,  // one byte a character; the five bytes the code page leaves undefined are no character
  kUtf8,         // a malformed sequence is no character
};

// The separators of a Windows path.
inline bool IsWindowsSeparator(char c) { return c == '\\' || c == '/'; }

// What is wrong with one name (one path segment), as Windows would see it.
enum class NameRule : uint8_t {
  kFine = 0,
  kEmpty,               // no name at all: the path would hold two separators in a row
  kDotName,             // ".", "..", or only dots and blanks, which Windows folds into them
  kForbiddenCharacter,  // \ / : * ? " < > | , a control character (0-31), or no character of the encoding
  kTrailingDotOrBlank,  // Windows drops it: "evil." and "evil " both name "evil"
  kDeviceName,          // CON PRN AUX NUL COM1-9 LPT1-9 CONIN$ CONOUT$, with any extension
};

NameRule CheckWindowsName(const char* name, size_t length, NameEncoding encoding = NameEncoding::kWindows1250);
// The first name of a path (names separated by "\" or "/") that breaks a rule, in
// order; kFine when none does. Each separator ends a name: an empty path, a separator
// at either end and two in a row all hold an empty name.
NameRule CheckWindowsNames(const char* path, size_t length, NameEncoding encoding);

// The rules in words, as an array initialiser indexed by NameRule with prefix before
// each text: a message that names the part of a line it concerns is then made when
// the program is compiled ("NAME: " "a trailing dot or blank, which Windows drops").
#define VEK_NAME_RULE_TEXTS(prefix)                                                                                   \
  {                                                                                                                   \
    prefix "a name Windows takes as written", prefix "an empty name", prefix "\".\", \"..\" or only dots and blanks", \
        prefix "a character Windows forbids in names (\\ / : * ? \" < > | or a control character)",                   \
        prefix "a trailing dot or blank, which Windows drops",                                                        \
        prefix "a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$)"                          \
  }
const char* DescribeNameRule(NameRule rule);

// True when Windows (before Windows 11) takes the name for a device in any folder:
// the part before the first dot, without trailing blanks, is a device name in any
// letter case. COM and LPT count with the digits 1-9 and with the superscripts 1, 2,
// 3 (U+00B9, U+00B2, U+00B3). In 8-bit text that is the bytes 0xB9, 0xB2, 0xB3, which
// are those superscripts in the code pages of Western, Baltic, Greek and Turkish
// Windows: the extractors of the releases before UTF-8 names read an archive's bytes
// in the machine's code page, and in Windows-1250 they are letters that no sensible
// name puts there.
bool IsWindowsDeviceName(const char* name, size_t length, NameEncoding encoding = NameEncoding::kWindows1250);

// How Windows reads the start of a path (separators are "\" and "/").
enum class PathKind : uint8_t {
  kRelative,       // name\...
  kDriveRelative,  // C:name
  kDriveAbsolute,  // C:\name
  kRooted,         // \name: the root of the current drive
  kUnc,            // \\host\share: a share on a network host, both named
  kDevice,         // \\.\name or \\?\name: below the file system's own rules
  kNetworkPrefix,  // two separators without a host and a share, or \\. or \\?: names
                   // joined to it would become the host and share or the device
};
PathKind ClassifyWindowsPath(const char* path, size_t length);

// Whether destination followed by a relative path ("\name...") would reach a network
// host or a device although the destination does not: the relative path's first
// names would become the host and share. Only the destination and the relative
// path's first byte decide it.
bool JoinLeavesTheDisk(const char* destination, size_t destination_length, const char* relative,
                       size_t relative_length);

// The length of a destination typed by a user without its trailing "\" and "/". For a
// text made only of separators the length is 0 and *root is set: `vek` takes it for
// the root (of the current drive on Windows; joining "\name" then gives "\name", never
// a network path), the stub for a folder it cannot make. An empty text gives 0 with
// *root clear.
size_t TrimDestination(const char* destination, size_t length, bool* root);

// ---- What the platform can create ------------------------------------------------------

// Lengths without the terminating zero, in the platform's units: UTF-16 units on
// Windows, UTF-8 bytes on POSIX.
struct PathLimits {
  size_t max_file_path;       // a file's full path
  size_t max_directory_path;  // a directory's full path
  size_t max_name;            // one name
  bool utf8;                  // lengths count UTF-8 bytes (else UTF-16 units)
};

// Windows through the wide functions and the long form (\\?\ below): 32,767 units
// with the zero and the form's prefix (\\?\UNC\ for a network path: 6 more than
// the path's own two separators), 255 units a name. POSIX: PATH_MAX 4096 with the
// zero, NAME_MAX 255 bytes.
inline constexpr PathLimits kWindowsPathLimits = {32760, 32760, 255, false};
inline constexpr PathLimits kPosixPathLimits = {4095, 4095, 255, true};

// The limits of the platform this build targets.
const PathLimits& PlatformPathLimits();

// The length of text in the encoding in the platform's units (a byte that is no
// character counts as U+FFFD).
size_t PathUnits(const PathLimits& limits, const char* text, size_t length, NameEncoding encoding);

// ---- The long form ----------------------------------------------------------------------
//
// A path that begins with \\?\ reaches the file system as it is, beyond MAX_PATH,
// without Windows' own reading of it: no "/" is a separator, "." and ".." are names,
// trailing dots and blanks stay, a device name is a file. So a path may take that form
// only when Windows' reading would not change it: a full path (C:\... or
// \\host\share\...) each of whose names Windows takes as written
// (CheckWindowsName in UTF-8).
enum class LongForm : uint8_t {
  kNone,     // leave the path as it is
  kAlready,  // it begins with \\?\ already
  kDrive,    // \\?\ followed by the path, every "/" a "\"
  kUnc,      // \\?\UNC followed by the path without its first separator, every "/" a "\"
};
LongForm LongPathForm(const char* path, size_t length);

}  // namespace vek
