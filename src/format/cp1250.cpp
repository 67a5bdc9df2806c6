#include "cp1250.h"

#include <string.h>

#include "text.h"

namespace vek {
namespace {

// Bytes 0x80..0xFF; bytes below 0x80 are ASCII.
constexpr uint16_t kHighHalf[128] = {
    0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021, 0x0000, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

}  // namespace

uint16_t Cp1250ToUnicode(unsigned char byte) { return byte < 0x80 ? byte : kHighHalf[byte - 0x80]; }

bool UnicodeToCp1250(uint32_t code_point, unsigned char* byte) {
  if (code_point < 0x80) {
    *byte = static_cast<unsigned char>(code_point);
    return true;
  }
  for (int i = 0; i < 128; ++i) {
    if (kHighHalf[i] == code_point) {
      *byte = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

size_t Cp1250ToUtf8(const char* text, size_t length, char* out, size_t size) {
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = Cp1250ToUnicode(static_cast<unsigned char>(text[i]));
    if (c == 0 && text[i] != 0) c = 0xFFFD;
    char enc[3];
    size_t k;
    if (c < 0x80) {
      enc[0] = static_cast<char>(c);
      k = 1;
    } else if (c < 0x800) {
      enc[0] = static_cast<char>(0xC0 | (c >> 6));
      enc[1] = static_cast<char>(0x80 | (c & 0x3F));
      k = 2;
    } else {
      enc[0] = static_cast<char>(0xE0 | (c >> 12));
      enc[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      enc[2] = static_cast<char>(0x80 | (c & 0x3F));
      k = 3;
    }
    if (n + k >= size) return static_cast<size_t>(-1);
    for (size_t j = 0; j < k; ++j) out[n++] = enc[j];
  }
  if (n >= size) return static_cast<size_t>(-1);
  out[n] = 0;
  return n;
}

size_t Utf8ToCp1250(const char* text, size_t length, char* out, size_t size) {
  const size_t kFail = static_cast<size_t>(-1);
  size_t n = 0;
  size_t i = 0;
  while (i < length) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    uint32_t c;
    size_t k;
    if (b < 0x80) {
      c = b;
      k = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      k = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      k = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      k = 3;
    } else {
      return kFail;
    }
    if (i + k >= length && k > 0) return kFail;
    for (size_t j = 1; j <= k; ++j) {
      unsigned char t = static_cast<unsigned char>(text[i + j]);
      if ((t & 0xC0) != 0x80) return kFail;
      c = (c << 6) | (t & 0x3F);
    }
    // Over-long forms and surrogates are not valid UTF-8.
    if ((k == 1 && c < 0x80) || (k == 2 && c < 0x800) || (k == 3 && c < 0x10000) || (c >= 0xD800 && c <= 0xDFFF) ||
        c > 0x10FFFF) {
      return kFail;
    }
    unsigned char byte;
    if (!UnicodeToCp1250(c, &byte)) return kFail;
    if (n + 1 >= size) return kFail;
    out[n++] = static_cast<char>(byte);
    i += k + 1;
  }
  if (n >= size) return kFail;
  out[n] = 0;
  return n;
}

uint32_t DecodeUtf8(const char** p, const char* end) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(*p);
  const unsigned char* e = reinterpret_cast<const unsigned char*>(end);
  ++*p;
  const unsigned char b = s[0];
  if (b < 0x80) return b;
  size_t k;
  uint32_t c;
  if ((b & 0xE0) == 0xC0) {
    k = 1, c = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    k = 2, c = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    k = 3, c = b & 0x07;
  } else {
    return kBadUtf8;
  }
  if (static_cast<size_t>(e - s) <= k) return kBadUtf8;
  for (size_t j = 1; j <= k; ++j) {
    if ((s[j] & 0xC0) != 0x80) return kBadUtf8;
    c = (c << 6) | (s[j] & 0x3F);
  }
  if ((k == 1 && c < 0x80) || (k == 2 && c < 0x800) || (k == 3 && c < 0x10000) || (c >= 0xD800 && c <= 0xDFFF) ||
      c > 0x10FFFF) {
    return kBadUtf8;
  }
  *p += k;
  return c;
}

size_t Utf8ToUtf16(const char* text, uint16_t* out, size_t size) {
  const char* end = text + strlen(text);
  Utf16Builder units(out, size);
  while (text < end) {
    uint32_t c = DecodeUtf8(&text, end);
    if (c == kBadUtf8) c = 0xFFFD;
    if (c >= 0x10000) {
      units.Put(static_cast<uint16_t>(0xD800 + ((c - 0x10000) >> 10)));
      units.Put(static_cast<uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      units.Put(static_cast<uint16_t>(c));
    }
  }
  return units.Finish();
}

}  // namespace vek
