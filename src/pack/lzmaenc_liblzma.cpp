// LzmaEncodeBlock with liblzma's raw LZMA1 encoder (LZMA_FILTER_LZMA1EXT: no end
// marker, the decoded size kept outside the stream).
#include <lzma.h>
#include <string.h>

#include <new>
#include <stdexcept>
#include <string>

#include "lzmabackends.h"
#include "lzmaenc.h"

namespace vek::build {

std::vector<unsigned char> LzmaEncodeWithLiblzma(const unsigned char* data, size_t size, const LzmaSettings& s) {
  lzma_options_lzma lzma;
  memset(&lzma, 0, sizeof lzma);
  if (lzma_lzma_preset(&lzma, 6)) throw std::runtime_error("liblzma has no preset 6");
  lzma.dict_size = s.dictionary;
  lzma.lc = s.lc;
  lzma.lp = s.lp;
  lzma.pb = s.pb;
  lzma.mode = s.normal ? LZMA_MODE_NORMAL : LZMA_MODE_FAST;
  lzma.mf = s.binary_tree ? LZMA_MF_BT4 : LZMA_MF_HC4;
  lzma.nice_len = s.nice_len;
  lzma.depth = s.depth;
  lzma.ext_flags = 0;  // no end marker
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &lzma}, {LZMA_VLI_UNKNOWN, nullptr}};

  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_ret ret = lzma_raw_encoder(&stream, filters);
  if (ret == LZMA_MEM_ERROR) throw std::bad_alloc();
  if (ret != LZMA_OK) throw std::runtime_error("liblzma refused the LZMA options (" + std::to_string(ret) + ")");
  std::vector<unsigned char> out(size + size / 64 + 64);
  stream.next_in = data;
  stream.avail_in = size;
  stream.next_out = out.data();
  stream.avail_out = out.size();
  for (;;) {
    ret = lzma_code(&stream, LZMA_FINISH);
    if (ret == LZMA_STREAM_END) break;
    if (ret == LZMA_OK && stream.avail_out == 0) {
      const size_t done = out.size();
      out.resize(done * 2);
      stream.next_out = out.data() + done;
      stream.avail_out = out.size() - done;
      continue;
    }
    lzma_end(&stream);
    if (ret == LZMA_MEM_ERROR) throw std::bad_alloc();
    throw std::runtime_error("liblzma failed to encode (" + std::to_string(ret) + ")");
  }
  out.resize(stream.total_out);
  lzma_end(&stream);
  return out;
}

}  // namespace vek::build
