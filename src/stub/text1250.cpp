#include "text1250.h"

#include "cp1250.h"
#include "text.h"

namespace vek {

size_t Cp1250ToUtf16(const char* text, uint16_t* out, size_t size) {
  Utf16Builder units(out, size);
  for (; *text; ++text) {
    const uint16_t unit = Cp1250ToUnicode(static_cast<unsigned char>(*text));
    units.Put(unit != 0 ? unit : 0xFFFD);
  }
  return units.Finish();
}

}  // namespace vek
