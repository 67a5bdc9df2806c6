#include "dataranges.h"

#include <stdlib.h>

#include "solid.h"

namespace vek {
namespace {

// Bytes of one space: the data area (0), or the decoded bytes of block space - 1. A
// block's stored bytes in the data area carry kBlock | its index for an id.
struct Range {
  uint32_t space;
  uint32_t begin;
  uint32_t id;
  uint64_t end;
};
constexpr uint32_t kBlock = 0x80000000u;

int ByBegin(const void* a, const void* b) {
  const Range& x = *static_cast<const Range*>(a);
  const Range& y = *static_cast<const Range*>(b);
  if (x.space != y.space) return x.space < y.space ? -1 : 1;
  if (x.begin != y.begin) return x.begin < y.begin ? -1 : 1;
  return x.id < y.id ? -1 : x.id > y.id ? 1 : 0;
}

// An entry for a range: a block's first file in table order, 0 when it holds none.
uint32_t EntryOf(const ArchiveReader& reader, uint32_t id) {
  return id & kBlock ? FirstFileOfBlock(reader, id & ~kBlock) : id;
}

bool KeepFirst(void* context, const DataOverlap& overlap) {
  *static_cast<DataOverlap*>(context) = overlap;
  return false;
}

}  // namespace

bool FindDataOverlaps(const ArchiveReader& reader, DataOverlapFound found, void* context) {
  const uint32_t count = reader.GetEntryCount();
  const uint32_t blocks = reader.SolidBlockCount();
  Range* ranges = static_cast<Range*>(malloc((size_t{count} + blocks + 1) * sizeof(Range)));
  if (!ranges) return false;
  uint32_t n = 0;
  for (uint32_t id = 1; id <= count; ++id) {
    ArchiveEntry entry;
    if (!reader.FindEntry(static_cast<int32_t>(id), &entry) || entry.kind != kEntryKindFile || entry.size <= 0)
      continue;
    const uint32_t space = entry.method == kMethodLzmaSolid ? entry.block + 1 : 0;
    ranges[n++] = {space, entry.data_offset, id, uint64_t{entry.data_offset} + static_cast<uint32_t>(entry.size)};
  }
  for (uint32_t b = 0; b < blocks; ++b) {
    const SolidBlock block = reader.GetSolidBlock(b);
    if (block.stored_size > 0) {
      ranges[n++] = {0, block.stored_offset, kBlock | b, uint64_t{block.stored_offset} + block.stored_size};
    }
  }
  qsort(ranges, n, sizeof(Range), ByBegin);
  // The range reaching furthest so far in its space: any range of that space that
  // begins before its end overlaps it.
  uint32_t furthest = 0;
  for (uint32_t i = 1; i < n; ++i) {
    if (ranges[i].space != ranges[furthest].space) {
      furthest = i;
      continue;
    }
    if (ranges[i].begin < ranges[furthest].end) {
      const DataOverlap overlap{EntryOf(reader, ranges[i].id), EntryOf(reader, ranges[furthest].id)};
      if (overlap.file && overlap.other && !found(context, overlap)) break;
    }
    if (ranges[i].end > ranges[furthest].end) furthest = i;
  }
  free(ranges);
  return true;
}

bool FindFirstDataOverlap(const ArchiveReader& reader, DataOverlap* overlap) {
  *overlap = DataOverlap();
  return FindDataOverlaps(reader, KeepFirst, overlap);
}

}  // namespace vek
