// The x86 branch filter: before compression, the 32-bit displacement of each CALL
// (E8) and JMP (E9) that looks like one is turned into an absolute target, so that
// the many calls of one function read the same bytes and compress better; after
// decompression the filter turns them back. It is the conversion that liblzma names
// LZMA_FILTER_X86, byte for byte, and works on any bytes: what is not code comes back
// as it was.
//
// An opcode converts when its displacement's top byte is 00 or FF and the E8/E9
// bytes left unconverted in the three bytes before it allow it; an opcode's 5 bytes
// are examined only once 5 bytes are there, so each call leaves up to 4 bytes at the
// end to be given again, ahead of the next bytes; at the stream's end they stay as
// they are.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

struct X86BranchState {
  uint32_t position = 0;                    // the stream offset of the next call's first byte
  uint32_t last_opcode = UINT32_MAX - 4;    // where the last E8/E9 byte was (5 before the start: none)
  uint32_t recent = 0;                      // the unconverted opcodes just before it
};

// Converts the branches in data[0, size), which starts at state->position: to
// absolute targets when encode, back when not. Returns how many leading bytes are
// done (all but at most 4); state->position moves by as many.
size_t ConvertX86Branches(X86BranchState* state, unsigned char* data, size_t size, bool encode);

}  // namespace vek
