// Text on Windows: the tools' 8-bit functions take the Windows-1250 bytes unchanged.
#include "nativetext.h"

namespace vek {

std::string Cp1250ToNative(const char* bytes, size_t length) { return std::string(bytes, length); }

bool NativeToCp1250(const std::string& text, std::string* bytes) {
  *bytes = text;
  return true;
}

}  // namespace vek
