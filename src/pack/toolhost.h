// What the command-line tools ask of the system besides packing and extracting: one
// implementation per platform (toolhost_posix.cpp, toolhost_win32.cpp).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "fileedge.h"
#include "packedge.h"

namespace vek {

// The system's own words for a Windows error code, on one line; empty where the
// system has none (on POSIX the codes are the edges' translations).
std::string SystemErrorText(uint32_t code);

bool StandardErrorIsTerminal();

// The folder that holds the running program (UTF-8); empty when the system does not
// say.
std::string ProgramFolder();

// The program's arguments in UTF-8: on Windows taken from the wide command line, so
// that any name reaches the pack edge (and the console, if any, set to show the UTF-8
// that the tools print); elsewhere argv as it came.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The folder given to `vek extract -C` as the extractor's destination, in the file
// edge's terms. On Windows its full path as Windows reads it from the current folder,
// in UTF-8 ("/" separates; a drive with no path, C:, is that drive's current folder,
// as for every other program; C:\ is its root); on POSIX the bytes as given, "./"
// before a relative one. Without trailing separators: empty for the root on POSIX,
// "C:" for the root of drive C: on Windows. False when Windows cannot read it.
bool DestinationFolder(const std::string& folder, std::string* destination);

// Opens, as a handle of the file edge, a file named in the platform's own terms
// (the file edge's: the bytes on POSIX, UTF-8 on Windows).
Error OpenNativeFile(const char* path, FileHandle* file);
// The facts of such a path (kind and size at least); false when it cannot be examined.
bool ExamineNativePath(const char* path, PathFacts* facts);

}  // namespace vek
