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
  // The configuration block's text (after its magic) when the stub names one.
  bool has_config = false;
  std::string config;
  std::string config_error;  // why the block could not be read or parsed
};

// Reads the configuration block [start.config_offset, start.offset) of the file at
// path; false when there is none; a block that cannot be read or lacks its magic gives
// true with *error set.
bool ReadConfigBlock(const std::string& path, const ArchiveStart& start, std::string* text, std::string* error);

// Locates the archive in path and loads its header and entry table into the reader.
// On failure returns false with a message; the file is closed again.
bool OpenArchive(const std::string& path, OpenedArchive* archive, std::string* error);
void CloseArchive(OpenedArchive* archive);

// The message of a reader error, as the stub would show it.
std::string ErrorText(const Error& error);

// A path from the archive, readable on this terminal: UTF-8 on POSIX, control bytes
// shown as \xNN.
std::string PrintablePath(const char* bytes, size_t length);

// "1999-03-14 12:00:00", or "" for a time stamp that is no valid date.
std::string FormatDosTime(uint32_t stamp);

// Writes the listing of the loaded table.
void ListArchive(const OpenedArchive& archive, FILE* out);

// The problems of the loaded archive, one line each; empty when it is sound.
std::vector<std::string> CheckArchive(const OpenedArchive& archive);

}  // namespace vek::tools
