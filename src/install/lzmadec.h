// Decoding one LZMA block: a raw LZMA stream (no header; an end marker allowed but not
// needed) whose decoded size is known, after its 5 property bytes. The decoder is our
// own (lzmadec.cpp says why); memory comes from malloc.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "decodesink.h"
#include "error.h"

namespace vek {

struct LzmaState;

inline constexpr size_t kLzmaPropsSize = 5;                // lc/lp/pb byte, dictionary size LE
inline constexpr uint32_t kLzmaMaxDictionary = 64u << 20;  // larger is refused before anything is allocated

// The largest piece a decoder hands its sink at once.
inline constexpr size_t kLzmaPieceSize = 64 << 10;

struct LzmaProps {
  uint8_t lc, lp, pb;
  uint32_t dictionary;
};

// False when the first byte is >= 9*5*5, lc+lp > 4, or the dictionary exceeds
// kLzmaMaxDictionary.
bool ParseLzmaProps(const unsigned char* props, LzmaProps* out);

// One raw LZMA stream of known decoded size, fed its stored bytes in pieces of any
// size. The decoded bytes go straight from the decoder's dictionary to the sink, in
// pieces of at most kLzmaPieceSize bytes; the dictionary is the stream's, or the
// decoded size when that is smaller.
class LzmaBlockDecoder {
 public:
  LzmaBlockDecoder();
  ~LzmaBlockDecoder();
  LzmaBlockDecoder(const LzmaBlockDecoder&) = delete;
  LzmaBlockDecoder& operator=(const LzmaBlockDecoder&) = delete;

  // Starts a stream (a decoder may be opened again for the next one).
  // kBadCompressedData for props that ParseLzmaProps refuses; out of memory when the
  // allocation fails.
  Error Open(const unsigned char* props, uint64_t decoded_size);

  // Decodes these stored bytes, last when they end the stream. Never hands the sink
  // more than decoded_size bytes in all. kBadCompressedData when the stream is broken,
  // runs past decoded_size, or goes on after its end; a failure of the sink comes back
  // as it is.
  Error Feed(const unsigned char* data, size_t size, bool last, DecodeSink& sink);

  // After the last Feed: kBadCompressedData unless the stream ended after exactly
  // decoded_size bytes (with or without an end marker).
  Error Finish();

  uint64_t Produced() const { return produced_; }

 private:
  void Release();

  LzmaState* state_ = nullptr;
  uint64_t decoded_size_ = 0;
  uint64_t produced_ = 0;
  bool finished_ = false;  // the stream's end was seen
  bool failed_ = true;     // not opened, or a Feed failed: the stream is not to be trusted further
};

// The most memory a decoder allocates for props (dictionary, probabilities and the
// decoder's state), for any decoded size: what the README states as the stub's need.
uint64_t LzmaDecoderMemory(const LzmaProps& props);

}  // namespace vek
