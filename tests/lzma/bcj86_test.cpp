#include <gtest/gtest.h>
#include <stdio.h>

#include <random>
#include <string>
#include <vector>

#include "bcj86.h"
#include "bcj86dec.h"

#if VEK_HAVE_LIBLZMA
#include <lzma.h>
#endif

namespace vek {
namespace {

using Bytes = std::vector<unsigned char>;

// This test program: real x86 code, with its calls and jumps.
Bytes OwnProgram() {
#ifdef _WIN32
  const char* self = "lzma_tests.exe";
#else
  const char* self = "/proc/self/exe";
#endif
  Bytes bytes;
  if (FILE* f = fopen(self, "rb")) {
    unsigned char buf[1 << 16];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
  }
  return bytes;
}

// Opcodes close together, with displacements whose bytes are often 00 or FF: every
// way an opcode may be kept from converting by the ones just before it.
Bytes DenseOpcodes(size_t size) {
  std::mt19937 random(5);
  static const unsigned char kBytes[] = {0xE8, 0xE9, 0x00, 0xFF, 0x01, 0xFE};
  Bytes out(size);
  for (auto& b : out) b = random() % 3 ? kBytes[random() % sizeof kBytes] : static_cast<unsigned char>(random());
  return out;
}

Bytes BranchesEncoded(Bytes data) {
  X86BranchState state;
  ConvertX86Branches(&state, data.data(), data.size(), true);
  return data;
}

class Gather final : public DecodeSink {
 public:
  Error Put(const unsigned char* data, size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    if (size > largest) largest = size;
    return NoError();
  }
  Bytes bytes;
  size_t largest = 0;
};

// Our decoder, fed pieces of step bytes.
Bytes BranchesDecoded(const Bytes& data, size_t step) {
  X86BranchDecoder decoder;
  Gather sink;
  EXPECT_EQ(decoder.Open(&sink), NoError());
  for (size_t at = 0; at < data.size(); at += step) {
    EXPECT_EQ(decoder.Put(data.data() + at, std::min(step, data.size() - at)), NoError());
  }
  EXPECT_EQ(decoder.Finish(), NoError());
  EXPECT_LE(sink.largest, kX86BranchPieceSize);
  return sink.bytes;
}

struct BranchInput {
  const char* name;
  Bytes data;
};

std::vector<BranchInput> BranchInputs() {
  return {{"nothing", {}},
          {"four bytes", {0xE8, 0, 0, 0}},
          {"one call", {0xE8, 0x10, 0, 0, 0}},
          {"this program", OwnProgram()},
          {"dense opcodes", DenseOpcodes(300000)}};
}

TEST(X86BranchTest, DecodesWhatItEncodesInAnyPieces) {
  for (const auto& input : BranchInputs()) {
    SCOPED_TRACE(input.name);
    const Bytes encoded = BranchesEncoded(input.data);
    if (input.data.size() > 1000) EXPECT_NE(encoded, input.data);
    for (size_t step : {size_t{1}, size_t{3}, size_t{4}, size_t{5}, size_t{4099}, size_t{1} << 20}) {
      SCOPED_TRACE("pieces of " + std::to_string(step));
      EXPECT_TRUE(BranchesDecoded(encoded, step) == input.data);
    }
  }
}

TEST(X86BranchTest, DecoderStartsAgainWhenOpened) {
  const Bytes data = DenseOpcodes(1000);
  const Bytes encoded = BranchesEncoded(data);
  X86BranchDecoder decoder;
  Gather first, second;
  ASSERT_EQ(decoder.Open(&first), NoError());
  EXPECT_EQ(decoder.Put(encoded.data(), 501), NoError());
  ASSERT_EQ(decoder.Open(&second), NoError());
  EXPECT_EQ(decoder.Put(encoded.data(), encoded.size()), NoError());
  EXPECT_EQ(decoder.Finish(), NoError());
  EXPECT_TRUE(second.bytes == data);
}

#if VEK_HAVE_LIBLZMA
// liblzma's x86 filter as the oracle: it cannot end a chain, so its bytes are had
// through LZMA2, which the other side of the round trip undoes alone.
Bytes ThroughLiblzma(const Bytes& data, bool x86_on_encode) {
  lzma_options_lzma lzma2;
  EXPECT_FALSE(lzma_lzma_preset(&lzma2, 0));
  const lzma_filter with_x86[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA2, &lzma2}, {LZMA_VLI_UNKNOWN, nullptr}};
  const lzma_filter plain[] = {{LZMA_FILTER_LZMA2, &lzma2}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes packed(data.size() + data.size() / 8 + 1024);
  size_t packed_size = 0;
  EXPECT_EQ(lzma_raw_buffer_encode(x86_on_encode ? with_x86 : plain, nullptr, data.data(), data.size(), packed.data(),
                                   &packed_size, packed.size()),
            LZMA_OK);
  Bytes out(data.size() + 1);  // liblzma wants room for a byte
  size_t in_at = 0, out_at = 0;
  EXPECT_EQ(lzma_raw_buffer_decode(x86_on_encode ? plain : with_x86, nullptr, packed.data(), &in_at, packed_size,
                                   out.data(), &out_at, out.size()),
            LZMA_OK);
  EXPECT_EQ(out_at, data.size());
  out.resize(out_at);
  return out;
}

TEST(X86BranchTest, AgreesWithLiblzma) {
  for (const auto& input : BranchInputs()) {
    SCOPED_TRACE(input.name);
    const Bytes by_liblzma = ThroughLiblzma(input.data, true);
    EXPECT_TRUE(BranchesEncoded(input.data) == by_liblzma);
    EXPECT_TRUE(BranchesDecoded(by_liblzma, 7) == input.data);
    EXPECT_TRUE(ThroughLiblzma(BranchesEncoded(input.data), false) == input.data);
  }
}
#endif

}  // namespace
}  // namespace vek
