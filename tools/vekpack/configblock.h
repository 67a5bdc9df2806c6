// The configuration block between the stub and the archive: a publisher's texts,
// folder and Start-menu items, checked and written in canonical form.
#pragma once

#include <string>

#include "packedge.h"
#include "vekwriter.h"

namespace vek::build {

// Reads and checks a configuration file (see stubconfig.h) and returns the block
// that goes between the stub and the archive: its magic and the configuration in
// canonical form, one "key = value" line per setting. Throws BuildError naming the
// file and line of a problem, or an item whose TARGET `tree` (when given) lacks.
std::string MakeConfigBlock(PackEdge& edge, const std::string& config_path, const ArchiveBuilder* tree);

}  // namespace vek::build
