#include "dataranges.h"

#include <stdlib.h>

namespace vek {
namespace {

struct Range {
  uint32_t begin;
  uint32_t id;
  uint64_t end;
};

int ByBegin(const void* a, const void* b) {
  const Range& x = *static_cast<const Range*>(a);
  const Range& y = *static_cast<const Range*>(b);
  if (x.begin != y.begin) return x.begin < y.begin ? -1 : 1;
  return x.id < y.id ? -1 : x.id > y.id ? 1 : 0;
}

bool KeepFirst(void* context, const DataOverlap& overlap) {
  *static_cast<DataOverlap*>(context) = overlap;
  return false;
}

}  // namespace

bool FindDataOverlaps(const ArchiveReader& reader, DataOverlapFound found, void* context) {
  const uint32_t count = reader.GetEntryCount();
  Range* ranges = static_cast<Range*>(malloc((count ? count : 1) * sizeof(Range)));
  if (!ranges) return false;
  uint32_t n = 0;
  for (uint32_t id = 1; id <= count; ++id) {
    ArchiveEntry entry;
    if (!reader.FindEntry(static_cast<int32_t>(id), &entry) || entry.kind != kEntryKindFile || entry.size <= 0) continue;
    ranges[n++] = {entry.data_offset, id, uint64_t{entry.data_offset} + static_cast<uint32_t>(entry.size)};
  }
  qsort(ranges, n, sizeof(Range), ByBegin);
  // The file reaching furthest so far: any file that begins before its end overlaps it.
  uint32_t furthest = 0;
  for (uint32_t i = 1; i < n; ++i) {
    if (ranges[i].begin < ranges[furthest].end) {
      if (!found(context, {ranges[i].id, ranges[furthest].id})) break;
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
