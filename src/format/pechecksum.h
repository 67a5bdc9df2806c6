// The checksum of a PE image's optional header, as Windows computes it for a file
// (the image loader checks it for drivers; signing tools and archivers report a wrong
// one): the file's 16-bit little-endian words summed, each carry folded back into the
// low 16 bits, the checksum field itself taken as zeros, an odd last byte as a word
// of its own, and the file's length added at the end.
//
// The sum goes piece by piece, so that a file written in pieces (vekpack's output,
// the stub's copy of itself) is summed as it passes.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

class PeChecksum {
 public:
  // field: the checksum field's offset in the file (PeChecksumField).
  explicit PeChecksum(uint64_t field) : field_(field) {}
  // The next size bytes of the file.
  void Add(const void* data, size_t size);
  // The checksum of the bytes added, which are the whole file.
  uint32_t Finish() const;

 private:
  void AddBytes(const unsigned char* p, size_t size);
  uint64_t field_;
  uint64_t length_ = 0;
  uint32_t sum_ = 0;
  int pending_ = -1;  // the low byte of a word whose high byte is yet to come
};

// The checksum field's offset in the PE image whose first size bytes are at image;
// 0 when they hold no PE signature and optional header that reach it.
uint64_t PeChecksumField(const unsigned char* image, size_t size);

}  // namespace vek
