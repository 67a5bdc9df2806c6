// The stub in front of a self-extracting executable: its start-offset constant set to
// where the archive begins, and the offsets of the extension and configuration blocks
// beside it: [stub][extension block][configuration block][archive].
#pragma once

#include <stdint.h>

#include <string>

#include "configblock.h"
#include "packedge.h"

namespace vek::build {

// Sets the start-offset constant in a copy of the stub's bytes to where the archive
// will begin and, with a configuration block, the block's offset; with
// extension_size > 0, room of that size for the extension block right after the stub
// and its offset. Returns the stub, the room (zeros) and the configuration block:
// everything before the archive. Throws BuildError when the stub has no such constant
// or no room for a block's offset. With `version`, its texts and numbers are set in
// the stub's version resource; a stub without one is refused when the configuration
// asked for version information, else left as it is. With an icon in `version`, the
// stub's resources are written anew in a section at its end that carries it: the
// archive's offsets count that section.
std::string PrepareStub(const std::string& stub_bytes, const std::string& stub_name,
                        const std::string& config_block = {}, uint32_t extension_size = 0,
                        const ResourceSettings* version = nullptr);

// Writes the checksum of the stub's own bytes (selfcrc.h) into its constants, for a
// stub with kStubFeatureSelfCheck: prepared is what PrepareStub returned, covered
// the bytes before the extension block, final by now (the PE checksum, which may be
// set afterwards, is left out of it). Throws BuildError when the stub's headers or
// constants have no place for it.
void SetStubSelfCrc(std::string* prepared, uint32_t covered, const std::string& stub_name);

// Whether the stub's constants have room for the extension block's offset (a stub made
// before checked payloads has not).
bool StubCarriesExtension(const std::string& stub_bytes);

// The stub's kStubFeature* bits: 0 for a stub whose constants lack them (made before
// solid archives), or that is no stub.
uint32_t StubFeatures(const std::string& stub_bytes);

// The whole of a small input file (the stub, the configuration): a folder, a file
// that cannot be read and one of limit bytes or more are refused naming `what`.
std::string ReadInputFile(PackEdge& edge, const std::string& path, uint64_t limit, const std::string& what);

}  // namespace vek::build
