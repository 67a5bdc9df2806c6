// Deflating one file's bytes into a zlib stream (RFC 1950) for vekpack --compress:
// with libdeflate where the build found it (faster), else with zlib. One Deflater
// per thread; the same level gives the same bytes every time.
#pragma once

#include <stddef.h>

#include <string>

namespace vek::build {

inline constexpr int kMinDeflateLevel = 1;
// 10 to 12 search the best way to code each block (libdeflate's slowest levels, 2 to
// 3% smaller than 9 in 4 to 9 times its time); zlib deflates them as 9.
inline constexpr int kMaxDeflateLevel = 12;

class Deflater {
 public:
  explicit Deflater(int level);
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // The zlib stream of size bytes at data, in *out; false, with *out left as it was,
  // when the stream would take more than limit bytes. Throws std::bad_alloc.
  bool Compress(const void* data, size_t size, size_t limit, std::string* out);

 private:
  int level_;
  void* state_ = nullptr;
};

// Which library deflates in this build, for messages: "libdeflate" or "zlib".
const char* DeflateLibrary();

}  // namespace vek::build
