// Opening an archive for the lister, and its structural check.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "rnvek100.h"
#include "stubfile.h"

namespace vek::tools {

struct OpenedArchive {
  std::string path;
  ArchiveStart start;
  long long file_size = 0;
  ArchiveFile file;
  uint16_t count = 0;
};

// Locates the archive in path and loads its header and entry table into the reader.
// On failure returns false with a message; the file is closed again.
bool OpenArchive(const std::string& path, OpenedArchive* archive, std::string* error);
void CloseArchive(OpenedArchive* archive);

// The message of a reader error, as the stub would show it.
std::string ErrorText(const Error& error);

// A path from the archive, readable on this terminal: UTF-8 on POSIX, control bytes
// shown as \xNN.
std::string PrintablePath(const char* bytes, size_t length);

// An entry's path for messages, readable as PrintablePath makes it; a path of more
// than 240 bytes shows as "..." and its last names, so that a label costs the same
// however deep the entry lies.
std::string ShortEntryPath(int32_t id);

// "1999-03-14 12:00:00", or "" for a time stamp that is no valid date.
std::string FormatDosTime(uint32_t stamp);

// Writes the listing of the loaded table.
void ListArchive(const OpenedArchive& archive, FILE* out);

// The problems of the loaded archive, one line each; empty when it is sound.
std::vector<std::string> CheckArchive(const OpenedArchive& archive);

}  // namespace vek::tools
