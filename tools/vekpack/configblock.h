// The configuration block between the stub and the archive: a publisher's texts,
// folder and Start-menu items, checked and written in canonical form.
#pragma once

#include <string>

#include "packedge.h"

namespace vek::build {

// Reads and checks a configuration file (see stubconfig.h) and returns the block
// that goes between the stub and the archive: its magic and the configuration in
// canonical form, one "key = value" line per setting. Throws BuildError naming the
// file and line of a problem.
std::string MakeConfigBlock(const std::string& config_path);
std::string MakeConfigBlock(PackEdge& edge, const std::string& config_path);
// The configuration in canonical form, from the text of a configuration file;
// throws BuildError naming `shown` and the line of a problem.
std::string CanonicalConfig(std::string text, const std::string& shown);

}  // namespace vek::build
