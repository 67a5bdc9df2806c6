// Files whose data overlaps another file's.
//
// The builder gives every file bytes of its own. An archive whose files share bytes
// can make extraction write far more than it carries (one megabyte under thousands of
// names), so the stub and `vek extract` refuse it before anything is written, and
// `vek test` reports it.
#pragma once

#include <stdint.h>

#include "rnvek100.h"

namespace vek {

struct DataOverlap {
  uint32_t file = 0;   // a file whose data begins inside
  uint32_t other = 0;  // that of this earlier-beginning file; 0 in both: none
};

// Calls found(context, overlap) for each file whose data begins inside that of a file
// beginning before it (or at the same byte), in the order of the data; stops when
// found returns false. Files of size 0 or less hold no bytes. In a solid archive a
// block's stored bytes count as those of its first file in table order (blocks
// overlap no other block: the reader judges that), and the files of one block are
// compared in its decoded bytes. Returns false when the memory for the check could
// not be had.
using DataOverlapFound = bool (*)(void* context, const DataOverlap& overlap);
bool FindDataOverlaps(const ArchiveReader& reader, DataOverlapFound found, void* context);

// The first overlap, or none; false when the memory could not be had.
bool FindFirstDataOverlap(const ArchiveReader& reader, DataOverlap* overlap);

}  // namespace vek
