// Text on POSIX: UTF-8.
#include "nativetext.h"

#include <vector>

#include "cp1250.h"

namespace vek {

std::string Cp1250ToNative(const char* bytes, size_t length) {
  std::vector<char> utf8(length * 3 + 1);  // 3 bytes a character at the most
  const size_t n = Cp1250ToUtf8(bytes, length, utf8.data(), utf8.size());
  return n == static_cast<size_t>(-1) ? std::string() : std::string(utf8.data(), n);
}

bool NativeToCp1250(const std::string& text, std::string* bytes) {
  std::vector<char> buffer(text.size() + 1);
  const size_t n = Utf8ToCp1250(text.data(), text.size(), buffer.data(), buffer.size());
  if (n == static_cast<size_t>(-1)) return false;
  bytes->assign(buffer.data(), n);
  return true;
}

}  // namespace vek
