// The LZMA SDK's encoder (lzma-dev's LzmaEnc.c and LzFind.c, compiled single-threaded
// into this unit): LzmaEncodeBlock's in the Windows tools, which have no liblzma, and
// the tests' second encoder elsewhere.
#include <stdlib.h>

#include <new>
#include <stdexcept>
#include <string>

#include "lzmabackends.h"
#include "lzmaenc.h"

#define _7ZIP_ST
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <LzFind.c>
#include <LzmaEnc.c>
#pragma GCC diagnostic pop

namespace vek::build {
namespace {

void* Allocate(void*, size_t size) { return malloc(size); }
void Release(void*, void* address) { free(address); }
ISzAlloc allocator = {Allocate, Release};

struct Input {
  ISeqInStream vtable;
  const unsigned char* at;
  size_t left;
};

SRes Read(void* p, void* buf, size_t* size) {
  Input& in = *static_cast<Input*>(p);
  const size_t n = *size < in.left ? *size : in.left;
  if (n > 0) memcpy(buf, in.at, n);
  in.at += n;
  in.left -= n;
  *size = n;
  return SZ_OK;
}

struct Output {
  ISeqOutStream vtable;
  std::vector<unsigned char>* out;
  bool failed;
};

size_t Write(void* p, const void* buf, size_t size) {
  Output& out = *static_cast<Output*>(p);
  try {
    const unsigned char* bytes = static_cast<const unsigned char*>(buf);
    out.out->insert(out.out->end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    out.failed = true;
    return 0;
  }
  return size;
}

}  // namespace

std::vector<unsigned char> LzmaEncodeWithSdk(const unsigned char* data, size_t size, const LzmaSettings& s) {
  CLzmaEncProps p;
  LzmaEncProps_Init(&p);
  p.dictSize = s.dictionary;
  p.lc = s.lc;
  p.lp = s.lp;
  p.pb = s.pb;
  p.algo = s.normal ? 1 : 0;
  p.btMode = s.binary_tree ? 1 : 0;
  p.numHashBytes = 4;
  p.fb = s.nice_len;
  p.mc = s.depth;  // 0: the SDK's default, which is liblzma's
  p.writeEndMark = 0;
  p.numThreads = 1;

  CLzmaEncHandle encoder = LzmaEnc_Create(&allocator);
  if (!encoder) throw std::bad_alloc();
  std::vector<unsigned char> out;
  out.reserve(size / 2 + 64);
  SRes result = LzmaEnc_SetProps(encoder, &p);
  if (result == SZ_OK) {
    Input in{{Read}, data, size};
    Output sink{{Write}, &out, false};
    result = LzmaEnc_Encode(encoder, &sink.vtable, &in.vtable, nullptr, &allocator, &allocator);
    if (sink.failed) result = SZ_ERROR_MEM;
  }
  LzmaEnc_Destroy(encoder, &allocator, &allocator);
  if (result == SZ_ERROR_MEM) throw std::bad_alloc();
  if (result != SZ_OK) throw std::runtime_error("the LZMA SDK failed to encode (" + std::to_string(result) + ")");
  return out;
}

}  // namespace vek::build
