// Fuzz target: arbitrary bytes as an archive for the reader and the path builder.
// Every lookup and path must stay inside the loaded table and end.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "memoryedge.h"
#include "rnvek100.h"
#include "winpath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vek::testing::MemoryFileEdge edge(data, size);
  vek::ArchiveFile file{&edge, vek::kNoFile};
  (void)edge.OpenRead("archive", &file.handle);
  vek::Error e = vek::ReadArchiveSignature(file);
  if (e.ok()) e = vek::ReadArchiveHeader(file);
  if (e.ok()) e = vek::AllocateEntryTable();
  if (e.ok()) e = vek::LoadEntryTable(file);
  uint32_t n = vek::GetEntryCount();
  // Paths of a hostile table can be long (65,535 levels of 233 bytes): look at a
  // bounded number of entries per input so each run stays quick.
  uint32_t limit = n < 2000 ? n : 2000;
  for (uint32_t id = 0; id <= limit + 1; ++id) {
    int32_t key = static_cast<int32_t>(id);
    (void)vek::GetEntryKind(key);
    (void)vek::GetEntrySize(key);
    vek::PathSafety safety = vek::CheckEntryPath(key);
    if (safety != vek::PathSafety::kCycle) {
      vek::AnsiString path = vek::GetEntryPath(key);
      // A path let through fits what this platform can create.
      if (safety == vek::PathSafety::kSafe &&
          vek::PathUnits(vek::PlatformPathLimits(), path.data(), path.size()) > vek::PlatformPathLimits().max_file_path) {
        abort();
      }
    }
  }
  vek::FreeEntryTable();
  return 0;
}
