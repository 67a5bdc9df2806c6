// Deflating with zlib, where the build has no libdeflate (the Windows tools).
#include <string.h>
#include <zlib.h>

#include <new>

#include "deflater.h"

namespace vek::build {

Deflater::Deflater(int level) : level_(level) {
  auto* stream = new z_stream;
  memset(stream, 0, sizeof *stream);
  if (deflateInit(stream, level_ < Z_BEST_COMPRESSION ? level_ : Z_BEST_COMPRESSION) != Z_OK) {
    delete stream;
    throw std::bad_alloc();
  }
  state_ = stream;
}

Deflater::~Deflater() {
  auto* stream = static_cast<z_stream*>(state_);
  deflateEnd(stream);
  delete stream;
}

bool Deflater::Compress(const void* data, size_t size, size_t limit, std::string* out) {
  auto* stream = static_cast<z_stream*>(state_);
  deflateReset(stream);
  std::string made(limit, '\0');
  stream->next_in = static_cast<Bytef*>(const_cast<void*>(data));
  stream->avail_in = static_cast<uInt>(size);
  stream->next_out = reinterpret_cast<Bytef*>(made.data());
  stream->avail_out = static_cast<uInt>(limit);
  const int status = deflate(stream, Z_FINISH);
  if (status != Z_STREAM_END) return false;  // it did not fit
  made.resize(limit - stream->avail_out);
  *out = std::move(made);
  return true;
}

const char* DeflateLibrary() { return "zlib"; }

}  // namespace vek::build
