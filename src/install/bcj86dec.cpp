#include "bcj86dec.h"

#include <stdlib.h>
#include <string.h>

namespace vek {

X86BranchDecoder::~X86BranchDecoder() { free(buffer_); }

Error X86BranchDecoder::Open(DecodeSink* next) {
  if (!buffer_) {
    buffer_ = static_cast<unsigned char*>(malloc(kX86BranchPieceSize));
    if (!buffer_) return OutOfMemoryError();
  }
  next_ = next;
  state_ = X86BranchState();
  held_ = 0;
  return NoError();
}

Error X86BranchDecoder::Put(const unsigned char* data, size_t size) {
  while (size > 0) {
    size_t n = kX86BranchPieceSize - held_;
    if (n > size) n = size;
    memcpy(buffer_ + held_, data, n);
    data += n;
    size -= n;
    const size_t have = held_ + n;
    const size_t done = ConvertX86Branches(&state_, buffer_, have, false);
    if (done > 0) VEK_TRY(next_->Put(buffer_, done));
    held_ = have - done;
    memmove(buffer_, buffer_ + done, held_);
  }
  return NoError();
}

Error X86BranchDecoder::Finish() {
  const size_t n = held_;
  held_ = 0;
  return n > 0 ? next_->Put(buffer_, n) : NoError();
}

}  // namespace vek
