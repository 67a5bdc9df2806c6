// How vek shows the archive's names and paths on this terminal.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "rnvek100.h"

namespace vek::tools {

// Text from the archive (names in the archive's encoding, or Windows-1250 texts) as
// UTF-8, which vek prints on every platform: a control byte, and a byte that is no
// character of the encoding, shown as \xNN.
std::string PrintableText(const char* bytes, size_t length, NameEncoding encoding);

// An entry's relative path for messages and listings, as PrintableText shows it:
// whole when short, else "..." and its last levels, so that no path from the
// archive prints more than about kShownPathLimit bytes however deep it runs.
inline constexpr size_t kShownPathLimit = 200;
std::string ShownPath(const ArchiveReader& reader, int32_t id);

// "entry 12 (\dir\file)".
std::string EntryLabel(const ArchiveReader& reader, int32_t id);

}  // namespace vek::tools
