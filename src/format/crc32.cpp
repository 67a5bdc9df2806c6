#include "crc32.h"

#include <string.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VEK_CRC32_FOLDING 1
// VEK_CRC32_WIDE (set by the build for x86_64 outside Windows): 256 bytes a round
// where the processor has 512-bit carry-less multiplication (VPCLMULQDQ). Not on
// Windows, the stub's system: its stack is only 16-byte aligned, and GCC does not
// align it for 512-bit spills.
#if defined(VEK_CRC32_WIDE) && !defined(__x86_64__)
#undef VEK_CRC32_WIDE
#endif
#endif

namespace vek {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Slicing by eight: table[k][b] is the CRC of byte b followed by k zero bytes.
struct Tables {
  uint32_t table[8][256];
  bool ready = false;
};
Tables g_tables;

const Tables& PortableTables() {
  if (!g_tables.ready) {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t c = b;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
      g_tables.table[0][b] = c;
    }
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t c = g_tables.table[0][b];
      for (int k = 1; k < 8; ++k) {
        c = g_tables.table[0][c & 0xFF] ^ (c >> 8);
        g_tables.table[k][b] = c;
      }
    }
    g_tables.ready = true;
  }
  return g_tables;
}

// On the register value (not inverted).
uint32_t Slice(uint32_t c, const unsigned char* p, size_t n) {
  const Tables& t = PortableTables();
  while (n > 0 && (reinterpret_cast<uintptr_t>(p) & 7) != 0) {
    c = t.table[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    --n;
  }
  for (; n >= 8; n -= 8, p += 8) {
    uint32_t low, high;
    memcpy(&low, p, 4);  // little-endian: both platforms the code runs on
    memcpy(&high, p + 4, 4);
    low ^= c;
    c = t.table[7][low & 0xFF] ^ t.table[6][(low >> 8) & 0xFF] ^ t.table[5][(low >> 16) & 0xFF] ^
        t.table[4][low >> 24] ^ t.table[3][high & 0xFF] ^ t.table[2][(high >> 8) & 0xFF] ^
        t.table[1][(high >> 16) & 0xFF] ^ t.table[0][high >> 24];
  }
  while (n-- > 0) c = t.table[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
  return c;
}

#ifdef VEK_CRC32_FOLDING

// Folding with carry-less multiplication, for the bit-reflected polynomial: four
// 128-bit lanes fold 64 bytes a round, then one lane, then a Barrett reduction to 32
// bits. The constants are x^k mod P for the fold distances, P itself and its
// Barrett quotient, all bit-reflected.
constexpr size_t kFoldBlock = 64;

// Four 128-bit lanes (of a 64-byte block, in order) into one, then the remaining
// 16-byte pieces (n bytes, a multiple of 16), then to 32 bits.
__attribute__((target("pclmul,sse4.1"), always_inline)) inline uint32_t FoldRest(__m128i x1, __m128i x2, __m128i x3,
                                                                                 __m128i x4, const unsigned char* p,
                                                                                 size_t n) {
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009eLL, 0x01751997d0LL);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124LL);
  const __m128i poly = _mm_set_epi64x(0x01f7011641LL, 0x01db710641LL);
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  const __m128i lanes[3] = {x2, x3, x4};
  for (const __m128i& next : lanes) {
    __m128i x5 = _mm_clmulepi64_si128(x1, k3k4, 0x00);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x11), next), x5);
  }
  for (; n >= 16; n -= 16, p += 16) {
    __m128i x5 = _mm_clmulepi64_si128(x1, k3k4, 0x00);
    x1 = _mm_clmulepi64_si128(x1, k3k4, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), x5);
  }
  // 128 bits to 64, then the Barrett reduction to 32.
  __m128i x2r = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2r);
  x2r = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), x2r);
  x2r = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  x2r = _mm_clmulepi64_si128(_mm_and_si128(x2r, low32), poly, 0x00);
  x1 = _mm_xor_si128(x1, x2r);
  return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

__attribute__((target("pclmul,sse4.1"))) uint32_t Fold(uint32_t c, const unsigned char* p, size_t n) {
  // n is a multiple of 16 and at least 64.
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596LL, 0x0154442bd4LL);

  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
  __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(c)));
  p += kFoldBlock;
  n -= kFoldBlock;
  for (; n >= kFoldBlock; n -= kFoldBlock, p += kFoldBlock) {
    __m128i x5 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
    __m128i x6 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
    __m128i x7 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
    __m128i x8 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
    x1 = _mm_clmulepi64_si128(x1, k1k2, 0x11);
    x2 = _mm_clmulepi64_si128(x2, k1k2, 0x11);
    x3 = _mm_clmulepi64_si128(x3, k1k2, 0x11);
    x4 = _mm_clmulepi64_si128(x4, k1k2, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
  }
  return FoldRest(x1, x2, x3, x4, p, n);
}

#ifdef VEK_CRC32_WIDE

// Four 512-bit lanes fold 256 bytes a round, then into one lane 64 bytes at a time,
// whose four 128-bit parts go on as Fold's four lanes. A lane's two 64-bit halves are
// multiplied by x^(d+32) and x^(d-32) mod P for a fold over d bits, as in Fold.
constexpr size_t kWideBlock = 256;

#define VEK_CRC32_WIDE_TARGET __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))

// a folded over by the distance of k, xor b (0x96: the xor of all three operands).
VEK_CRC32_WIDE_TARGET __attribute__((always_inline)) inline __m512i WideFold(__m512i a, __m512i k, __m512i b) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(a, k, 0x00), _mm512_clmulepi64_epi128(a, k, 0x11), b, 0x96);
}

VEK_CRC32_WIDE_TARGET uint32_t FoldWide(uint32_t c, const unsigned char* p, size_t n) {
  // n is a multiple of 16 and at least 256.
  const __m512i k2048 = _mm512_set_epi64(0x01322d1430LL, 0x011542778aLL, 0x01322d1430LL, 0x011542778aLL, 0x01322d1430LL,
                                         0x011542778aLL, 0x01322d1430LL, 0x011542778aLL);
  const __m512i k512 = _mm512_set_epi64(0x01c6e41596LL, 0x0154442bd4LL, 0x01c6e41596LL, 0x0154442bd4LL, 0x01c6e41596LL,
                                        0x0154442bd4LL, 0x01c6e41596LL, 0x0154442bd4LL);
  __m512i z1 = _mm512_xor_si512(_mm512_loadu_si512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(c))));
  __m512i z2 = _mm512_loadu_si512(p + 64);
  __m512i z3 = _mm512_loadu_si512(p + 128);
  __m512i z4 = _mm512_loadu_si512(p + 192);
  p += kWideBlock;
  n -= kWideBlock;
  for (; n >= kWideBlock; n -= kWideBlock, p += kWideBlock) {
    z1 = WideFold(z1, k2048, _mm512_loadu_si512(p));
    z2 = WideFold(z2, k2048, _mm512_loadu_si512(p + 64));
    z3 = WideFold(z3, k2048, _mm512_loadu_si512(p + 128));
    z4 = WideFold(z4, k2048, _mm512_loadu_si512(p + 192));
  }
  z1 = WideFold(WideFold(WideFold(z1, k512, z2), k512, z3), k512, z4);
  for (; n >= 64; n -= 64, p += 64) z1 = WideFold(z1, k512, _mm512_loadu_si512(p));
  alignas(64) __m128i parts[4];
  _mm512_store_si512(parts, z1);
  return FoldRest(parts[0], parts[1], parts[2], parts[3], p, n);
}

// 1 when the processor has VPCLMULQDQ and AVX-512 and the system keeps the 512-bit
// registers, 0 when not, -1 before the first look.
int g_wide = -1;

bool CanFoldWide() {
  if (g_wide < 0) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    bool yes = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_OSXSAVE) && (c & bit_PCLMUL) && (c & bit_SSE4_1);
    if (yes) {
      unsigned low = 0, high = 0;
      __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
      yes = (low & 0xE6) == 0xE6;  // the SSE, AVX and the three AVX-512 states
    }
    yes = yes && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX512F) && (c & bit_VPCLMULQDQ);
    g_wide = yes ? 1 : 0;
  }
  return g_wide == 1;
}

#endif

// 1 when the processor has PCLMULQDQ and SSE4.1, 0 when not, -1 before the first look.
int g_folding = -1;

bool CanFold() {
  if (g_folding < 0) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    g_folding = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) && (c & bit_SSE4_1) ? 1 : 0;
  }
  return g_folding == 1;
}

#endif

}  // namespace

void PrepareCrc32() {
  PortableTables();
#ifdef VEK_CRC32_FOLDING
  CanFold();
#endif
#ifdef VEK_CRC32_WIDE
  CanFoldWide();
#endif
}

uint32_t Crc32Portable(uint32_t crc, const void* data, size_t size) {
  return ~Slice(~crc, static_cast<const unsigned char*>(data), size);
}

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint32_t c = ~crc;
#ifdef VEK_CRC32_FOLDING
  if (size >= kFoldBlock && CanFold()) {
    const size_t folded = size & ~static_cast<size_t>(15);
#ifdef VEK_CRC32_WIDE
    c = folded >= kWideBlock && CanFoldWide() ? FoldWide(c, p, folded) : Fold(c, p, folded);
#else
    c = Fold(c, p, folded);
#endif
    p += folded;
    size -= folded;
  }
#endif
  return ~Slice(c, p, size);
}

}  // namespace vek
