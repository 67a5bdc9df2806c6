// Files read from bytes in memory, for fuzzing the reader without touching disk:
// OpenRead of any path opens the one buffer.
#pragma once

#include <string.h>

#include <string>

#include "fileedge.h"

namespace vek::testing {

class MemoryFileEdge final : public ArchiveFiles {
 public:
  explicit MemoryFileEdge(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  Error OpenRead(const char*, FileHandle* file) override {
    position_ = 0;
    *file = 1;
    return NoError();
  }
  Error Seek(FileHandle, int64_t offset) override {
    if (offset < 0) return InOutError(kWinErrorNegativeSeek);
    position_ = static_cast<size_t>(offset);
    return NoError();
  }
  Error Read(FileHandle, void* buffer, uint32_t count, uint32_t* done) override {
    size_t left = position_ < size_ ? size_ - position_ : 0;
    size_t n = count < left ? count : left;
    if (n) memcpy(buffer, data_ + position_, n);
    position_ += n;
    *done = static_cast<uint32_t>(n);
    return NoError();
  }
  Error Close(FileHandle) override { return NoError(); }

 private:
  const unsigned char* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace vek::testing
