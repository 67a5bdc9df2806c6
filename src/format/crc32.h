// CRC-32 as zlib computes it (polynomial 0xEDB88320, reflected, inverted before and
// after): the checksum of every file and of each archive's header and table.
//
// The stub cannot afford zlib's table-driven code (12 KB of tables); this one builds
// its tables at first use and, where the processor multiplies without carries
// (PCLMULQDQ), folds 64 bytes at a time, so that checking a 1 GiB installer before it
// writes anything costs a fraction of its run. The tools, outside Windows, fold 256
// at a time with the 512-bit instructions (VPCLMULQDQ) where there are any, about
// four times as fast (bench/RESULTS.md).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

// The CRC-32 of size bytes at data continued from crc (0 for the first piece), as
// zlib's crc32(crc, data, size).
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

// Makes the tables and looks at the processor, which the first Crc32 does otherwise:
// called before threads compute checksums side by side.
void PrepareCrc32();

// The same by the portable tables alone, for tests that compare the two ways.
uint32_t Crc32Portable(uint32_t crc, const void* data, size_t size);

}  // namespace vek
