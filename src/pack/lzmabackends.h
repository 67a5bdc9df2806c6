// The two LZMA encoders behind LzmaEncodeBlock, and what both are told, worked out
// once from LzmaOptions (lzmaenc.cpp) so that a level means the same search in either
// and the props are the same. The SDK's is built everywhere (the tests compare the
// two where liblzma is found, VEK_HAVE_LIBLZMA); LzmaEncodeBlock takes liblzma's
// where there is one.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "lzmaenc.h"

namespace vek::build {

struct LzmaSettings {
  uint32_t dictionary;
  int lc, lp, pb;
  bool normal;       // the normal (optimal-parsing) mode, else the fast one
  bool binary_tree;  // match finder: binary tree of 4-byte hashes, else hash chain of them
  int nice_len;      // 5..273
  uint32_t depth;    // match finder cycles; 0: the finder's default
};

// Throws std::runtime_error for options out of range.
LzmaSettings ResolveLzmaSettings(const LzmaOptions& options, uint64_t block_size);

void WriteLzmaProps(const LzmaSettings& settings, unsigned char props[kLzmaPropsSize]);

// The raw stream without end marker; both throw as LzmaEncodeBlock does.
std::vector<unsigned char> LzmaEncodeWithSdk(const unsigned char* data, size_t size, const LzmaSettings& settings);
#if VEK_HAVE_LIBLZMA
std::vector<unsigned char> LzmaEncodeWithLiblzma(const unsigned char* data, size_t size, const LzmaSettings& settings);
#endif

}  // namespace vek::build
