#include "extended80.h"

#include "text.h"

namespace vek {
namespace {

constexpr int kSignificandBits = 64;

int LeadingZeros(uint64_t v) { return __builtin_clzll(v); }  // v != 0

// Rounds the integer hi:lo × 2^exponent, plus a non-zero fraction below its last bit
// when sticky is set, to 64 significant bits, ties to even.
Extended Round(uint64_t hi, uint64_t lo, int32_t exponent, bool sticky) {
  if (hi == 0 && lo == 0) return {};
  // Normalise so that the top bit of hi is set.
  int shift = hi != 0 ? LeadingZeros(hi) : 64 + LeadingZeros(lo);
  if (shift >= 64) {
    hi = lo << (shift - 64);
    lo = 0;
  } else if (shift > 0) {
    hi = (hi << shift) | (lo >> (64 - shift));
    lo <<= shift;
  }
  exponent = exponent - shift + kSignificandBits;
  // hi is the significand; lo holds the bits below it.
  const bool half = (lo >> 63) != 0;
  sticky = sticky || (lo << 1) != 0;
  if (half && (sticky || (hi & 1) != 0)) {
    ++hi;
    if (hi == 0) {  // carried out of the top: 2^64 = 2^63 × 2
      hi = uint64_t{1} << 63;
      ++exponent;
    }
  }
  return {hi, exponent};
}

}  // namespace

Extended ExtendedFromInteger(uint32_t value) { return Round(0, value, 0, false); }

Extended ExtendedQuotient(uint32_t a, uint32_t b) {
  // Long division in 32-bit steps: the integer part, then 96 bits of fraction. Since
  // a / b >= 2^-32 when a > 0, that gives at least 65 significant bits, and the final
  // remainder tells whether anything lies below them.
  uint64_t q0 = a / b;
  uint32_t r = a % b;
  uint64_t q[3];
  for (uint64_t& part : q) part = DivideWithRemainder(uint64_t{r} << 32, b, &r);  // r < b: part < 2^32
  const uint64_t hi = (q0 << 32) | q[0];
  const uint64_t lo = (q[1] << 32) | q[2];
  return Round(hi, lo, -96, r != 0);
}

Extended ExtendedProduct(Extended x, Extended y) {
  const uint64_t a0 = x.significand & 0xFFFFFFFFu, a1 = x.significand >> 32;
  const uint64_t b0 = y.significand & 0xFFFFFFFFu, b1 = y.significand >> 32;
  const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  const uint64_t lo = (mid << 32) | (p00 & 0xFFFFFFFFu);
  const uint64_t hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
  return Round(hi, lo, x.exponent + y.exponent, false);
}

int32_t ExtendedTrunc(Extended x) {
  if (x.significand == 0 || x.exponent <= -kSignificandBits) return 0;
  if (x.exponent >= 0) return static_cast<int32_t>(x.significand << x.exponent);
  return static_cast<int32_t>(x.significand >> -x.exponent);
}

Extended ExtendedOneHundredth() { return ExtendedQuotient(1, 100); }

int32_t ExtractionPercent(uint32_t i, uint32_t n) {
  return ExtendedTrunc(ExtendedProduct(ExtendedQuotient(i, n), ExtendedFromInteger(100)));
}

int32_t GaugeFillColumn(int32_t w, int32_t percent) {
  if (w <= 0 || percent <= 0) return 0;
  const Extended fraction =
      ExtendedProduct(ExtendedFromInteger(static_cast<uint32_t>(percent)), ExtendedOneHundredth());
  const int32_t column = ExtendedTrunc(ExtendedProduct(ExtendedFromInteger(static_cast<uint32_t>(w)), fraction));
  return column > w ? w : column;
}

}  // namespace vek
