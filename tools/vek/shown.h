// How vek shows the archive's names and paths on this terminal.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "rnvek100.h"

namespace vek::tools {

// Bytes from the archive as this platform's text (UTF-8 on POSIX), control bytes shown
// as \xNN.
std::string PrintablePath(const char* bytes, size_t length);

// UTF-8 text from the archive (its configuration) as the terminal may show it: the
// C0 and C1 control characters and DEL, and bytes that are not UTF-8, as \xNN, so no
// text from an archive can move the cursor, set a title or cut a line short.
std::string PrintableText(const char* text, size_t length);

// An entry's relative path for messages and listings, as PrintablePath shows it:
// whole when short, else "..." and its last levels, so that no path from the
// archive prints more than about kShownPathLimit bytes however deep it runs.
inline constexpr size_t kShownPathLimit = 200;
std::string ShownPath(const ArchiveReader& reader, int32_t id);

// "entry 12 (\dir\file)".
std::string EntryLabel(const ArchiveReader& reader, int32_t id);

}  // namespace vek::tools
