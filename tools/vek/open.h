// Opening a file for vek: where the archive lies in it, the configuration block in
// front of the archive, and a reader over the archive's table.
#pragma once

#include <stdio.h>

#include <string>

#include "exitcodes.h"
#include "rnvek100.h"
#include "stubfile.h"

namespace vek::tools {

struct OpenedArchive {
  std::string path;
  ArchiveStart start;
  ArchiveReader reader;  // over the file, read through the platform's file edge
  // The configuration block's text (after its magic) when the stub names one.
  bool has_config = false;
  std::string config;
  std::string config_error;  // why the block could not be read or parsed
};

// Locates the archive in path, reads the configuration block and opens the reader.
// On failure returns false with a message; the file is closed again.
bool OpenArchive(const std::string& path, OpenedArchive* archive, std::string* error);
// Closes the reader and its file before the archive goes.
void CloseArchive(OpenedArchive* archive);

// Says, on out, when the archive was found by searching for its signature (a file
// that is neither an archive nor an executable with our stub's start offset).
void NoteHowFound(const OpenedArchive& archive, FILE* out);

}  // namespace vek::tools
