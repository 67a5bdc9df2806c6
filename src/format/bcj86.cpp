#include "bcj86.h"

namespace vek {
namespace {

constexpr size_t kInstruction = 5;  // the opcode and its 32-bit displacement

// A displacement's top byte of 00 or FF: a target within 16 MiB either way.
bool NearTop(uint8_t byte) { return byte == 0x00 || byte == 0xFF; }

// recent, bit k (1..3): an E8/E9 byte k bytes before this opcode that did not convert;
// bit k + 4: and the top byte of its would-be displacement was 00 or FF. An opcode
// converts when none of the latter lie behind it and at most one of the former.
constexpr bool kMayConvert[8] = {true, true, true, false, true, false, false, false};

}  // namespace

size_t ConvertX86Branches(X86BranchState* state, unsigned char* data, size_t size, bool encode) {
  if (size < kInstruction) return 0;
  uint32_t recent = state->recent;
  uint32_t last = state->last_opcode;
  const uint32_t base = state->position;
  if (base - last > kInstruction) last = base - kInstruction;  // long ago: as good as none

  size_t at = 0;
  while (at <= size - kInstruction) {
    if ((data[at] & 0xFE) != 0xE8) {
      ++at;
      continue;
    }
    const uint32_t here = base + static_cast<uint32_t>(at);
    const uint32_t gap = here - last;
    last = here;
    if (gap > kInstruction) {
      recent = 0;
    } else {
      for (uint32_t i = 0; i < gap; ++i) recent = (recent & 0x77) << 1;  // older than 3 bytes drop out
    }
    unsigned char* operand = data + at + 1;
    if (!NearTop(operand[3]) || !kMayConvert[(recent >> 1) & 7] || (recent >> 1) >= 0x10) {
      recent |= 1;
      if (NearTop(operand[3])) recent |= 0x10;
      ++at;
      continue;
    }
    uint32_t value = operand[0] | uint32_t{operand[1]} << 8 | uint32_t{operand[2]} << 16 | uint32_t{operand[3]} << 24;
    const uint32_t next = here + kInstruction;  // what the displacement counts from
    uint32_t target = encode ? value + next : value - next;
    if (recent != 0) {
      // The one unconverted opcode just behind takes a byte of this target for its
      // displacement's top byte, which must not look like one either: then the bytes
      // from it down are flipped and converted again. Once is enough: that makes the
      // byte the complement of what the opcode behind saw, which was neither 00 nor FF.
      const unsigned behind = recent & 2 ? 1 : recent & 4 ? 2 : 3;
      const unsigned shift = 24 - 8 * behind;
      if (NearTop(static_cast<uint8_t>(target >> shift))) {
        value = target ^ ((uint32_t{1} << (shift + 8)) - 1);
        target = encode ? value + next : value - next;
      }
    }
    operand[0] = static_cast<unsigned char>(target);
    operand[1] = static_cast<unsigned char>(target >> 8);
    operand[2] = static_cast<unsigned char>(target >> 16);
    operand[3] = (target >> 24) & 1 ? 0xFF : 0x00;  // 25 bits kept: 00 or FF on top again
    at += kInstruction;
    recent = 0;
  }
  state->recent = recent;
  state->last_opcode = last;
  state->position = base + static_cast<uint32_t>(at);
  return at;
}

}  // namespace vek
