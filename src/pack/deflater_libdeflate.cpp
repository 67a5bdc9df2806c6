// Deflating with libdeflate, which compresses a whole buffer at once.
#include <libdeflate.h>

#include <new>

#include "deflater.h"

namespace vek::build {

Deflater::Deflater(int level) : level_(level) {
  state_ = libdeflate_alloc_compressor(level_);
  if (!state_) throw std::bad_alloc();
}

Deflater::~Deflater() { libdeflate_free_compressor(static_cast<libdeflate_compressor*>(state_)); }

bool Deflater::Compress(const void* data, size_t size, size_t limit, std::string* out) {
  std::string stream(limit, '\0');
  const size_t made =
      libdeflate_zlib_compress(static_cast<libdeflate_compressor*>(state_), data, size, stream.data(), limit);
  if (made == 0) return false;  // it did not fit
  stream.resize(made);
  *out = std::move(stream);
  return true;
}

const char* DeflateLibrary() { return "libdeflate"; }

}  // namespace vek::build
