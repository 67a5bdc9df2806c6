// Undoing the x86 branch filter (bcj86.h) on a decoder's output on its way to the
// sink: a DecodeSink in front of another.
#pragma once

#include <stddef.h>

#include "bcj86.h"
#include "decodesink.h"
#include "error.h"

namespace vek {

// The largest piece the filter hands on at once.
inline constexpr size_t kX86BranchPieceSize = 64 << 10;

class X86BranchDecoder final : public DecodeSink {
 public:
  X86BranchDecoder() = default;
  ~X86BranchDecoder();
  X86BranchDecoder(const X86BranchDecoder&) = delete;
  X86BranchDecoder& operator=(const X86BranchDecoder&) = delete;

  // Starts a stream (again, for the next one) whose bytes go on to next. Out of memory
  // when the room for a piece cannot be had.
  Error Open(DecodeSink* next);

  // Converts and hands on all but the last few bytes, which wait for the next ones.
  Error Put(const unsigned char* data, size_t size) override;

  // Hands on the bytes still waiting (fewer than 5), as they are.
  Error Finish();

 private:
  DecodeSink* next_ = nullptr;
  X86BranchState state_;
  unsigned char* buffer_ = nullptr;  // kX86BranchPieceSize bytes
  size_t held_ = 0;                  // bytes at its start not yet handed on
};

}  // namespace vek
