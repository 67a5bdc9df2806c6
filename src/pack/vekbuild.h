// Packing a folder, or entries given one by one, into a VEK archive, bare or appended
// to a copy of the stub as a self-extracting executable: the scan (scan.h), the
// writer (vekwriter.h), the stub (stubpatch.h), the configuration block
// (configblock.h) and the output file (output.h), put together.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>

#include "configblock.h"
#include "packedge.h"
#include "scan.h"
#include "stubpatch.h"
#include "vekwriter.h"

namespace vek::build {

struct PackOptions {
  std::string source_folder;  // UTF-8
  std::string output;
  std::string stub;    // empty: a bare archive
  std::string config;  // a configuration file for the stub (needs stub)
  // 0: files stored; 1 to 9: solid, LZMA at this level (ArchiveOptions).
  int compress_level = 0;
  uint64_t solid_block_size = kDefaultSolidBlockSize;
  unsigned threads = 0;  // that encode; 0: one for each processor
  // Called now and then while data is written: files done, files in all.
  std::function<void(uint64_t, uint64_t)> progress;
  // Called for each warning (clamped times, skipped special files).
  std::function<void(const std::string&)> warn;
  // The file system; nullptr: the platform's.
  PackEdge* edge = nullptr;
};

struct PackResult {
  uint32_t files = 0;
  uint32_t directories = 0;
  uint32_t compressed = 0;  // files in solid blocks
  uint32_t blocks = 0;
  uint64_t data_bytes = 0;
  uint64_t archive_bytes = 0;
  uint64_t output_bytes = 0;
  uint32_t start_offset = 0;
  bool checksums = false;  // an extension block was written
};

// Writes builder's archive (after the stub, if any) to options.output through a
// temporary file that replaces the output only when everything was written (see
// TemporaryOutput), with its extension block: after a bare archive (with its
// footer), between the stub and the configuration block in an executable. A stub
// that predates the block gets none (with a warning), and a solid archive is refused
// with it. The output itself is never packed: a source file that is the output is
// refused.
PackResult WriteArchive(const ArchiveBuilder& builder, const PackOptions& options);

// ScanFolder + WriteArchive, each file's facts taken as its bytes are copied; an
// output inside the source folder is refused.
PackResult Pack(const PackOptions& options);

}  // namespace vek::build
