#include "inflate.h"

#include <string.h>
#include <zlib.h>

namespace vek {
namespace {

// A zlib stream: two header bytes (CMF: the method and the window's size; FLG: a
// check that makes CMF*256+FLG a multiple of 31, and a preset dictionary's flag),
constexpr size_t kZlibHeaderSize = 2;
constexpr unsigned kMethodDeflated = 8;
constexpr int kWindowBits = 15;                   // the largest window a stream may ask for
constexpr unsigned kFlagPresetDictionary = 0x20;  // never set by a packer of ours
// then the deflated data, then the Adler-32 of the output, big-endian.
constexpr size_t kAdlerSize = 4;

Error Bad() { return GeneralError(kBadCompressedData); }

// Adler-32 (RFC 1950) continued from adler, 1 for none: here rather than zlib's, whose
// unrolled loops would cost the stub 2 KB.
constexpr uint32_t kAdlerBase = 65521;
constexpr size_t kAdlerRun = 5552;  // bytes after which the sums must be reduced
uint32_t Adler32(uint32_t adler, const unsigned char* data, size_t size) {
  uint32_t a = adler & 0xFFFF;
  uint32_t b = adler >> 16;
  while (size > 0) {
    size_t run = size < kAdlerRun ? size : kAdlerRun;
    size -= run;
    while (run--) {
      a += *data++;
      b += a;
    }
    a %= kAdlerBase;
    b %= kAdlerBase;
  }
  return (b << 16) | a;
}

struct Run {
  InflateSource& source;
  InflateSink& sink;
  uint32_t left;   // output bytes still allowed
  uint32_t adler;  // of the output so far
  Error failure;   // of the source or the sink, or too much output
};

unsigned Pull(void* context, z_const unsigned char** buffer) {
  Run& run = *static_cast<Run*>(context);
  const unsigned char* data = nullptr;
  size_t size = 0;
  run.failure = run.source.Next(&data, &size);
  if (run.failure) return 0;
  *buffer = const_cast<unsigned char*>(data);
  return static_cast<unsigned>(size);
}

int Push(void* context, unsigned char* data, unsigned size) {
  Run& run = *static_cast<Run*>(context);
  if (size > run.left) {
    run.failure = Bad();  // more than the original size: nothing of this piece goes
    return 1;
  }
  run.left -= size;
  run.adler = Adler32(run.adler, data, size);
  run.failure = run.sink.Put(data, size);
  return run.failure ? 1 : 0;
}

// Takes count bytes into out from the unread input, then from the source.
Error Take(Run& run, const unsigned char** at, size_t* have, unsigned char* out, size_t count) {
  while (count > 0) {
    if (*have == 0) {
      VEK_TRY(run.source.Next(at, have));
      if (*have == 0) return Bad();  // the stored bytes end early
    }
    const size_t n = *have < count ? *have : count;
    memcpy(out, *at, n);
    *at += n;
    *have -= n;
    out += n;
    count -= n;
  }
  return NoError();
}

}  // namespace

Error InflateStream(InflateSource& source, InflateSink& sink, uint32_t original_size, unsigned char* window) {
  Run run{source, sink, original_size, 1, NoError()};
  const unsigned char* at = nullptr;
  size_t have = 0;
  unsigned char header[kZlibHeaderSize];
  VEK_TRY(Take(run, &at, &have, header, sizeof header));
  if ((header[0] & 0x0F) != kMethodDeflated || (header[0] >> 4) + 8 > kWindowBits ||
      ((header[0] << 8) | header[1]) % 31 != 0 || (header[1] & kFlagPresetDictionary)) {
    return Bad();
  }

  z_stream stream;
  memset(&stream, 0, sizeof stream);
  if (inflateBackInit(&stream, kWindowBits, window) != Z_OK) return OutOfMemoryError();
  stream.next_in = const_cast<unsigned char*>(at);
  stream.avail_in = static_cast<uInt>(have);
  const int status = inflateBack(&stream, Pull, &run, Push, &run);
  at = stream.next_in;
  have = at ? stream.avail_in : 0;
  inflateBackEnd(&stream);
  if (run.failure) return run.failure;
  if (status != Z_STREAM_END) return status == Z_MEM_ERROR ? OutOfMemoryError() : Bad();
  if (run.left != 0) return Bad();  // fewer bytes than the original size

  // The Adler-32 of the output, big-endian, then the end of the stored bytes.
  unsigned char trailer[kAdlerSize];
  VEK_TRY(Take(run, &at, &have, trailer, sizeof trailer));
  const uint32_t stored =
      (uint32_t{trailer[0]} << 24) | (uint32_t{trailer[1]} << 16) | (uint32_t{trailer[2]} << 8) | trailer[3];
  if (stored != run.adler) return Bad();
  if (have != 0) return Bad();  // bytes after the stream
  VEK_TRY(source.Next(&at, &have));
  return have == 0 ? NoError() : Bad();
}

}  // namespace vek
