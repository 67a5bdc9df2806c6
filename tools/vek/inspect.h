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

// Says, on out, when the archive was found by searching for its signature (a file
// that is neither an archive nor an executable with our stub's start offset).
void NoteHowFound(const OpenedArchive& archive, FILE* out);

// The message of a reader error, as the stub would show it, with the system's
// reason in words beside a bare code.
std::string ErrorText(const Error& error);

// A path from the archive, readable on this terminal: UTF-8 on POSIX, control bytes
// shown as \xNN.
std::string PrintablePath(const char* bytes, size_t length);

// An entry's relative path for messages and listings, as PrintablePath shows it:
// whole when short, else "..." and its last levels, so that no path from the
// archive prints more than about kShownPathLimit bytes however deep it runs.
inline constexpr size_t kShownPathLimit = 200;
std::string ShownPath(int32_t id);

// Writes the listing of the loaded table.
void ListArchive(const OpenedArchive& archive, FILE* out);

// One problem that the check found: its kind (problems of one kind are summarised
// together) and its line.
struct Problem {
  std::string kind;
  std::string text;
};

// The problems of the loaded archive; empty when it is sound.
std::vector<Problem> CheckArchive(const OpenedArchive& archive);

// The lines that report problems: of each kind the first `shown` in full, then one
// line that counts the rest.
inline constexpr size_t kProblemsShownPerKind = 5;
std::vector<std::string> SummariseProblems(const std::vector<Problem>& problems,
                                           size_t shown = kProblemsShownPerKind);

}  // namespace vek::tools
