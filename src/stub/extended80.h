// Arithmetic in the x87 extended format (64-bit significand, round to nearest even),
// done with integers so that the results are the same whatever the compiler makes of
// long double (80 bits with GCC on x86, 64 bits with other Windows compilers, and an
// x87 whose precision control may be set to 53 bits).
//
// Only what the stub computes is here: quotients of whole numbers, products, and
// truncation toward zero, all for non-negative values.
#pragma once

#include <stdint.h>

namespace vek {

// significand × 2^exponent; the significand has its top bit set, or is 0 for zero.
struct Extended {
  uint64_t significand = 0;
  int32_t exponent = 0;
};

// A whole number, exactly.
Extended ExtendedFromInteger(uint32_t value);
// a / b rounded to 64 significant bits (b > 0).
Extended ExtendedQuotient(uint32_t a, uint32_t b);
// x × y rounded to 64 significant bits.
Extended ExtendedProduct(Extended x, Extended y);
// Truncated toward zero; x must be below 2^31.
int32_t ExtendedTrunc(Extended x);

// The literal 0.01 as the extended format holds it.
Extended ExtendedOneHundredth();

// The gauge value after entry i of n (1 <= i <= n): Trunc((i / n) × 100), the
// quotient and the product each rounded in the extended format. This differs from
// the exact percentage for n a multiple of 100 and i / n = 0.53 or 0.59 (52 and 58).
int32_t ExtractionPercent(uint32_t i, uint32_t n);

// The column before which the gauge's filled part ends: Trunc(w × (percent × 0.01))
// in the extended format, w being the gauge's width less one; at most w.
int32_t GaugeFillColumn(int32_t w, int32_t percent);

}  // namespace vek
