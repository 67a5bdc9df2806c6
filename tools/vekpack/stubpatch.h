// The stub in front of a self-extracting executable: its start-offset constant set to
// where the archive begins, and the configuration block's offset beside it.
#pragma once

#include <stdint.h>

#include <string>

#include "packedge.h"

namespace vek::build {

// Sets the start-offset constant in a copy of the stub's bytes to the stub's length
// (plus config_block's) and, with a configuration block, the block's offset; throws
// BuildError when the stub has no such constant or no room for the block's offset.
std::string PrepareStub(const std::string& stub_bytes, const std::string& stub_name,
                        const std::string& config_block = {});

// The whole of a small input file (the stub, the configuration): a folder, a file
// that cannot be read and one of limit bytes or more are refused naming `what`.
std::string ReadInputFile(PackEdge& edge, const std::string& path, uint64_t limit, const std::string& what);

}  // namespace vek::build
