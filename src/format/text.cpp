#include "text.h"

namespace vek {
namespace {

template <typename Unit>
const Unit* LastName(const Unit* path) {
  const Unit* name = path;
  for (const Unit* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  }
  return name;
}

}  // namespace

TextBuilder& TextBuilder::Text(const char* text) {
  for (; *text; ++text, ++length_) {
    if (length_ + 1 < size_) buf_[length_] = *text;
  }
  if (size_ > 0) buf_[length_ < size_ ? length_ : size_ - 1] = 0;
  return *this;
}

TextBuilder& TextBuilder::Number(uint64_t value, unsigned base, int width, char fill) {
  char digits[kDecimalSize];
  char* at = digits + sizeof digits;
  *--at = 0;
  do {
    uint32_t digit;
    value = DivideWithRemainder(value, base, &digit);
    *--at = "0123456789ABCDEF"[digit];
  } while (value != 0);
  while (at > digits && digits + sizeof digits - 1 - at < width) *--at = fill;
  return Text(at);
}

const char* NameFromPath(const char* path) { return LastName(path); }
const uint16_t* NameFromPath(const uint16_t* path) { return LastName(path); }

}  // namespace vek
