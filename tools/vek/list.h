// vek list: the archive's notice, configuration and entries.
#pragma once

#include <stdio.h>

#include "open.h"

namespace vek::tools {

// Writes the listing of the opened archive.
void ListArchive(const OpenedArchive& archive, FILE* out);

}  // namespace vek::tools
