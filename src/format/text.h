// Short texts put together in a buffer of fixed room: the reports and their numbers,
// the log's lines, the gauge's percentage, dates, and UTF-16 for the Windows wide API.
// Nothing is written past the room: what does not fit is cut off, and the text ends
// zero-terminated.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

// Room for any 64-bit number in decimal and its zero.
inline constexpr size_t kDecimalSize = 21;

// value / divisor, the remainder in *remainder (divisor > 0). On i686 in two of the
// processor's 64-by-32-bit divisions: the C runtime's 64-bit division and remainder
// would be 600 bytes of the stub.
inline uint64_t DivideWithRemainder(uint64_t value, uint32_t divisor, uint32_t* remainder) {
#if defined(__i386__) && defined(__GNUC__)
  const uint32_t high = static_cast<uint32_t>(value >> 32);
  uint32_t low = static_cast<uint32_t>(value), rest = high % divisor;
  // rest < divisor: the quotient of rest:low fits 32 bits
  __asm__("divl %2" : "+a"(low), "+d"(rest) : "rm"(divisor));
  *remainder = rest;
  return uint64_t{high / divisor} << 32 | low;
#else
  *remainder = static_cast<uint32_t>(value % divisor);
  return value / divisor;
#endif
}

// Appends to a zero-terminated text in buf, room for size bytes (none when size is 0).
class TextBuilder {
 public:
  TextBuilder(char* buf, size_t size) : buf_(buf), size_(size) {
    if (size_ > 0) buf_[0] = 0;
  }

  TextBuilder& Text(const char* text);
  // value in decimal, at least width characters: fill before the digits.
  TextBuilder& Decimal(uint64_t value, int width = 0, char fill = '0') { return Number(value, 10, width, fill); }
  // value in upper-case hexadecimal, at least width digits: zeros before.
  TextBuilder& Hex(uint64_t value, int width = 0) { return Number(value, 16, width, '0'); }

  // Every byte appended, those cut off included: the text is whole when this is less
  // than the room.
  size_t length() const { return length_; }
  const char* c_str() const { return buf_; }

 private:
  TextBuilder& Number(uint64_t value, unsigned base, int width, char fill);

  char* buf_;
  size_t size_;
  size_t length_ = 0;
};

// UTF-16 units put into out, room for size units, on the same terms: nothing past the
// room, every unit counted; Finish zero-terminates (when there is room at all) and
// gives the count.
class Utf16Builder {
 public:
  Utf16Builder(uint16_t* out, size_t size) : out_(out), size_(size) {}
  void Put(uint16_t unit) {
    if (length_ + 1 < size_) out_[length_] = unit;
    ++length_;
  }
  size_t Finish() {
    if (size_ > 0) out_[length_ < size_ ? length_ : size_ - 1] = 0;
    return length_;
  }

 private:
  uint16_t* out_;
  size_t size_;
  size_t length_ = 0;
};

namespace text_detail {
template <size_t N>
struct Room {
  char bytes[N];
};
}  // namespace text_detail

// A TextBuilder with its room inside: FixedText<kDecimalSize>().Decimal(n).c_str().
template <size_t N>
class FixedText : private text_detail::Room<N>, public TextBuilder {
 public:
  FixedText() : TextBuilder(this->bytes, N) {}
  FixedText(const FixedText&) = delete;
  FixedText& operator=(const FixedText&) = delete;
};

// The file name in a path: what follows its last "\", "/" or ":" (the path itself
// when it has none, "" when it ends in one). Both point into path.
const char* NameFromPath(const char* path);
const uint16_t* NameFromPath(const uint16_t* path);

}  // namespace vek
