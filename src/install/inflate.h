// Inflating one deflated entry of the previous release's archives: its stored bytes
// are a zlib stream (RFC 1950) that must give exactly the entry's original size. The
// reader and the extractor call InflateStream, which the tools link with zlib
// (src/pack/inflate.cpp, zlib's inflateBack). The stub is built without it
// (VEK_NO_INFLATE): vekpack deflates no more, and an executable carries the archive
// its own vekpack made, so for the stub a deflated file or table is damage.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "decodesink.h"
#include "error.h"

namespace vek {

#ifdef VEK_NO_INFLATE
inline constexpr bool kInflates = false;
#else
inline constexpr bool kInflates = true;
#endif

// A stream that is not a zlib stream, is broken, gives more or fewer bytes than the
// entry's original size, fails its Adler-32, or does not end where the stored bytes
// end, fails with kBadCompressedData (decodesink.h).

// Where the stored bytes come from: pieces in order; a piece of 0 bytes is their end.
class InflateSource {
 public:
  virtual Error Next(const unsigned char** data, size_t* size) = 0;

 protected:
  ~InflateSource() = default;  // never deleted through the interface
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
