#include "lzmaenc.h"

#include <stdexcept>
#include <string>

#include "lzmabackends.h"

namespace vek::build {
namespace {

// The levels' dictionaries and searches: those of xz's presets 1 to 8 (1 to 3 fast
// with hash chains, 4 to 8 normal with binary trees), and at 9, or with extreme, the
// slower search of xz -e: on documentation 5% smaller than xz -9's at 1.5 times its
// time; at level 1 it would be 16% smaller at 5.6 times the time (bench/RESULTS.md).
constexpr uint32_t kLevelDictionary[] = {1u << 20, 2u << 20,  4u << 20,  4u << 20, 8u << 20,
                                         8u << 20, 16u << 20, 32u << 20, 64u << 20};
constexpr uint32_t kMinDictionary = 4096;
constexpr int kMinNiceLen = 5;
constexpr int kMaxNiceLen = 273;

[[noreturn]] void Refuse(const std::string& what) { throw std::runtime_error("LZMA options: " + what); }

// The size rounded up to 2^n or 3 * 2^n, as the LZMA SDK writes dictionary sizes.
uint64_t RoundUpDictionary(uint64_t size) {
  for (uint64_t n = kMinDictionary / 2;; n *= 2) {
    if (size <= 2 * n) return 2 * n;
    if (size <= 3 * n) return 3 * n;
  }
}

}  // namespace

uint32_t LzmaDictionaryFor(const LzmaOptions& options, uint64_t block_size) {
  if (options.level < kMinLzmaLevel || options.level > kMaxLzmaLevel) {
    Refuse("level " + std::to_string(options.level) + " is not 1 to 9");
  }
  uint64_t dictionary = options.dictionary ? options.dictionary : kLevelDictionary[options.level - 1];
  if (dictionary < kMinDictionary || dictionary > kLzmaMaxDictionary) {
    Refuse("dictionary " + std::to_string(dictionary) + " is not 4 KiB to 64 MiB");
  }
  // A dictionary larger than the block finds nothing more, and costs the decoder.
  const uint64_t room = RoundUpDictionary(block_size);
  return static_cast<uint32_t>(dictionary < room ? dictionary : room);
}

LzmaSettings ResolveLzmaSettings(const LzmaOptions& options, uint64_t block_size) {
  LzmaSettings s{};
  s.dictionary = LzmaDictionaryFor(options, block_size);
  if (options.lc < 0 || options.lp < 0 || options.pb < 0 || options.lc + options.lp > 4 || options.pb > 4) {
    Refuse("lc " + std::to_string(options.lc) + " lp " + std::to_string(options.lp) + " pb " +
           std::to_string(options.pb) + ": lc + lp is at most 4, pb at most 4");
  }
  s.lc = options.lc;
  s.lp = options.lp;
  s.pb = options.pb;
  const int level = options.level;
  s.normal = level >= 4;
  s.binary_tree = level >= 4;
  s.nice_len = level <= 1 ? 128 : level <= 3 ? 273 : level == 4 ? 16 : level == 5 ? 32 : 64;
  s.depth = level == 1 ? 8 : level == 2 ? 24 : level == 3 ? 48 : 0;
  if (options.extreme || level == kMaxLzmaLevel) {
    s.normal = true;
    s.binary_tree = true;
    if (level == 3 || level == 5) {
      s.nice_len = 192;
      s.depth = 0;
    } else {
      s.nice_len = 273;
      s.depth = 512;
    }
  }
  if (options.nice_len) {
    if (options.nice_len < kMinNiceLen || options.nice_len > kMaxNiceLen) {
      Refuse("nice length " + std::to_string(options.nice_len) + " is not 5 to 273");
    }
    s.nice_len = options.nice_len;
  }
  return s;
}

void WriteLzmaProps(const LzmaSettings& settings, unsigned char props[kLzmaPropsSize]) {
  props[0] = static_cast<unsigned char>((settings.pb * 5 + settings.lp) * 9 + settings.lc);
  for (int i = 0; i < 4; ++i) props[1 + i] = static_cast<unsigned char>(settings.dictionary >> (8 * i));
}

std::vector<unsigned char> LzmaEncodeBlock(const unsigned char* data, size_t size, const LzmaOptions& options,
                                           unsigned char props[kLzmaPropsSize]) {
  const LzmaSettings settings = ResolveLzmaSettings(options, size);
#if VEK_HAVE_LIBLZMA
  std::vector<unsigned char> stream = LzmaEncodeWithLiblzma(data, size, settings);
#else
  std::vector<unsigned char> stream = LzmaEncodeWithSdk(data, size, settings);
#endif
  WriteLzmaProps(settings, props);
  return stream;
}

const char* LzmaEncoderLibrary() { return VEK_HAVE_LIBLZMA ? "liblzma" : "LZMA SDK"; }

}  // namespace vek::build
