// Where a decoder's output goes, whichever codec made the stored bytes: pieces in
// order, each of a size the decoder documents.
#pragma once

#include <stddef.h>

#include "error.h"

namespace vek {

// The failure of stored bytes that do not decode, or decode to more or fewer bytes
// than the entry's original size, or do not end where the stream ends.
inline constexpr char kBadCompressedData[] = "The compressed data is invalid";

class DecodeSink {
 public:
  virtual Error Put(const unsigned char* data, size_t size) = 0;

 protected:
  ~DecodeSink() = default;  // never deleted through the interface
};

}  // namespace vek
