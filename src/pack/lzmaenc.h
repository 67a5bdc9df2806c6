// Encoding one LZMA block for vekpack: a raw LZMA stream without end marker, its 5
// property bytes apart. With liblzma where the build found it (Linux), else with the
// LZMA SDK's encoder (Debian's lzma-dev; the Windows tools). Each block is encoded on
// its own, so blocks may be encoded side by side; the same bytes and options give the
// same stream every time.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "lzmadec.h"

namespace vek::build {

inline constexpr int kMinLzmaLevel = 1;
inline constexpr int kMaxLzmaLevel = 9;

struct LzmaOptions {
  int level = 9;  // 1..9
  // 0: the level's, capped to the block's size rounded up, and to kLzmaMaxDictionary.
  uint32_t dictionary = 0;
  int lc = 3, lp = 0, pb = 0;  // pb 0: smaller than xz's 2 on HTML and DLLs (bench/RESULTS.md)
  int nice_len = 0;            // 0: the level's default
  bool extreme = false;        // liblzma's -e (always at level 9), or the SDK's matching settings
};

// Encodes one block; props gets the 5 property bytes; the result is the raw stream
// without end marker. Throws std::runtime_error on failure (options out of range
// among them), std::bad_alloc when memory runs out.
std::vector<unsigned char> LzmaEncodeBlock(const unsigned char* data, size_t size, const LzmaOptions& options,
                                           unsigned char props[kLzmaPropsSize]);

// The dictionary size that LzmaEncodeBlock writes into the props for a block of
// block_size bytes.
uint32_t LzmaDictionaryFor(const LzmaOptions& options, uint64_t block_size);

// Which library encodes in this build, for messages: "liblzma" or "LZMA SDK".
const char* LzmaEncoderLibrary();

}  // namespace vek::build
