// Fuzz target: arbitrary bytes as an archive for the reader and the path builder.
// Every lookup and path must stay inside the loaded table and end; a checksum block
// named by a footer at the end is read, every file's data checked against it, each
// deflated file inflated and each solid block decoded, never past its decoded size.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "archivecheck.h"
#include "memoryedge.h"
#include "rnvek100.h"
#include "solid.h"
#include "winpath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vek::testing::MemoryFileEdge edge(data, size);
  vek::FileHandle file = vek::kNoFile;
  (void)edge.OpenRead("archive", &file);
  vek::ArchiveReader reader;
  vek::ExtensionPlace place;
  if (size >= vek::ExtensionFooter::kSize) {
    const size_t end = size - vek::ExtensionFooter::kSize;
    const uint32_t block = vek::ReadExtensionFooter(data + end);
    if (block > 0 && block <= end && end <= 0xFFFFFFFFu) {
      place = vek::ExtensionSpan(static_cast<uint32_t>(end - block), static_cast<uint32_t>(end));
    }
  }
  (void)reader.Open(edge, file, 0, place);
  vek::DataChecker checker(reader, /*inflate=*/true);
  uint32_t n = reader.GetEntryCount();
  // Paths of a hostile table can be long (65,535 levels of 233 bytes): look at a
  // bounded number of entries per input so each run stays quick.
  uint32_t limit = n < 2000 ? n : 2000;
  for (uint32_t id = 0; id <= limit + 1; ++id) {
    int32_t key = static_cast<int32_t>(id);
    vek::ArchiveEntry entry;  // a miss leaves the not-found kind, which a record may hold too
    (void)reader.FindEntry(key, &entry);
    if (entry.kind != reader.GetEntryKind(key)) abort();
    if (entry.checked != reader.HasChecksums() && entry.kind == vek::kEntryKindFile) abort();
    (void)checker.CheckEntry(entry);
    vek::PathSafety safety = reader.CheckEntryPath(key);
    if (safety != vek::PathSafety::kCycle) {
      vek::AnsiString path = reader.GetEntryPath(key);
      // A path let through fits what this platform can create.
      if (safety == vek::PathSafety::kSafe &&
          vek::PathUnits(vek::PlatformPathLimits(), path.data(), path.size(), vek::NameEncoding::kUtf8) >
              vek::PlatformPathLimits().max_file_path) {
        abort();
      }
    }
  }
  // Each block's files as its bytes pass: never more than the files' own sizes.
  struct Bounded final : vek::BlockFileSink {
    uint64_t left = 0;
    vek::Error Begin(const vek::ArchiveEntry& entry) override {
      left = entry.original_size;
      return vek::NoError();
    }
    vek::Error Write(const unsigned char*, size_t size) override {
      if (size > left) abort();
      left -= size;
      return vek::NoError();
    }
    vek::Error End(const vek::ArchiveEntry&, const vek::Error&) override { return vek::NoError(); }
  } files;
  vek::SolidPlan plan;
  if (reader.SolidBlockCount() <= 64 && plan.Make(reader)) {
    for (uint32_t b = 0; b < plan.blocks(); ++b) {
      uint32_t count = 0;
      const uint32_t* ids = plan.Files(b, &count);
      uint32_t slot = 0;
      (void)checker.CheckBlock(b);
      (void)vek::DecodeBlock(reader, reader.file(), b, ids, count, files, &slot);
    }
  }
  return 0;
}
