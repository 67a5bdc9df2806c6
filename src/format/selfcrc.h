// The stub's checksum over its own bytes (layout.h, StubConstants::kSelfCrcOffset):
// the CRC-32 of the file from its first byte up to the checksum block, with the bytes
// that signing changes or that are filled in last counted as zeros: the optional
// header's CheckSum field, the certificate table's data-directory entry, and the
// field itself. Without allocation: the stub computes it over the pieces in which it
// reads its own file.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

// The byte ranges of the file left out of the checksum, in ascending order.
struct SelfCrcExclusions {
  static constexpr int kCount = 3;
  uint32_t offset[kCount] = {};
  uint32_t size[kCount] = {};
};

// Finds the excluded ranges from the first size bytes of a PE image (its DOS header,
// PE signature, optional header and section table must lie inside them): the CheckSum
// field, the certificate table's directory entry (PE32 or PE32+) and the checksum
// field in the stub's constants, the section named kStartOffsetSection. False for
// bytes that are no such image (a header that points outside them, an optional header
// of another kind or too short for the certificate entry, no constants' section or
// one too short for the field).
bool FindSelfCrcExclusions(const unsigned char* image, size_t size, SelfCrcExclusions* out);

// The CRC-32 continued from crc over size bytes of the file found at file offset
// `offset`, with the excluded bytes among them counted as zeros. Pieces of any size,
// given in order from offset 0, give the checksum of the whole.
uint32_t SelfCrcUpdate(uint32_t crc, const SelfCrcExclusions& exclusions, uint64_t offset, const unsigned char* data,
                       size_t size);

}  // namespace vek
