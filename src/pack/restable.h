// The resource table vekpack writes into a stub: its directories, names, data entries
// and data, as the PE format lays them out (pefile.h reads them back).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "pefile.h"

namespace vek::tools {

// The order of the resources in a table: by type, name and language (names, by their
// UTF-16 units, before numbers).
bool InResourceTableOrder(const Resource* a, const Resource* b);

// The resource table of `resources` for a section at address rva.
std::string ResourceTableBytes(const std::vector<Resource>& resources, uint32_t rva);

}  // namespace vek::tools
