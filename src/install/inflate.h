// Inflating one deflated entry of the previous release's archives: its stored bytes
// are a zlib stream (RFC 1950) that must give exactly the entry's original size. The
// reader and the extractor call InflateStream; the tools link it with zlib
// (src/pack/inflate.cpp, zlib's inflateBack), the stub with none
// (src/stub/noinflate.cpp), for which every deflated file is damaged.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "decodesink.h"
#include "error.h"

namespace vek {

// A stream that is not a zlib stream, is broken, gives more or fewer bytes than the
// entry's original size, fails its Adler-32, or does not end where the stored bytes
// end, fails with kBadCompressedData (decodesink.h).

// Where the stored bytes come from: pieces in order; a piece of 0 bytes is their end.
class InflateSource {
 public:
  virtual ~InflateSource() = default;
  virtual Error Next(const unsigned char** data, size_t* size) = 0;
};

// Where the inflated bytes go, in pieces of at most kInflateWindowSize bytes.
using InflateSink = DecodeSink;

inline constexpr size_t kInflateWindowSize = 32768;

// Inflates the stream from source into sink; never hands the sink more than
// original_size bytes in all; a stream that succeeds was read to the source's end. window:
// kInflateWindowSize bytes of scratch room. A failure of the source or the sink
// comes back as it is; a stream that is wrong in any way is kBadCompressedData;
// memory that runs out is out of memory.
Error InflateStream(InflateSource& source, InflateSink& sink, uint32_t original_size, unsigned char* window);

}  // namespace vek
