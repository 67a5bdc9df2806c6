#include "text1250.h"

#include "cp1250.h"

namespace vek {

size_t Cp1250ToUtf16(const char* text, uint16_t* out, size_t size) {
  size_t len = 0;
  for (; *text; ++text, ++len) {
    uint16_t unit = Cp1250ToUnicode(static_cast<unsigned char>(*text));
    if (unit == 0) unit = 0xFFFD;
    if (len + 1 < size) out[len] = unit;
  }
  if (size > 0) out[len < size ? len : size - 1] = 0;
  return len;
}

}  // namespace vek
