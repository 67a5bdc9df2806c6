// Error texts, the Windows-1250 conversions, the checksum and the signature.
#include <gtest/gtest.h>

#include <string>

#include "cp1250.h"
#include "crc32.h"
#include "error.h"
#include "signature.h"

namespace vek {
namespace {

std::string Message(const Error& e) {
  char buffer[96];
  FormatErrorMessage(e, buffer, sizeof buffer);
  return buffer;
}

TEST(ErrorMessages, FollowFromTheCode) {
  struct Case {
    Error error;
    const char* text;
  } cases[] = {
      {InOutError(2), "File not found"},
      {InOutError(3), "Invalid filename"},
      {InOutError(4), "Too many open files"},
      {InOutError(5), "File access denied"},
      {InOutError(100), "Read beyond end of file"},
      {InOutError(101), "Disk full"},
      {InOutError(106), "Invalid numeric input"},
      {InOutError(112), "I/O error 112"},
      {InOutError(131), "I/O error 131"},
      {GeneralError("Unable to create directory"), "Unable to create directory"},
      {OutOfMemoryError(), "Out of memory"},
      {DdeError(0x4007), "Error occurred when DDE ran out of memory ($04007)"},
      {DdeError(0x4008), "Error occurred when DDE ran out of memory ($04008)"},
      {DdeError(0x400A), "DDE Error - conversation not established ($0400A)"},
      {DdeError(0x4009), "An error returned from DDE  ($04009)"},
  };
  for (const Case& c : cases) EXPECT_EQ(Message(c.error), c.text);
}

// Each table's words come back for each of its codes, the shared ones too, from the
// packed form the stub keeps; a code of none has none.
TEST(ErrorMessages, EveryCodeOfATableHasItsWords) {
  const auto check = [](const auto& table, const char* (*words_of)(uint32_t)) {
    for (const auto& entry : table) EXPECT_STREQ(words_of(entry.code), entry.words) << entry.code;
    EXPECT_EQ(words_of(0xFFFF), nullptr);
  };
  check(kIoMessages, &WordsOf<kIoMessages>);
  check(kWinErrorReasons, &WordsOf<kWinErrorReasons>);
  check(kDdeMessages, &WordsOf<kDdeMessages>);
}

TEST(ErrorMessages, AreCutToTheBufferAndStayTerminated) {
  char small[8];
  size_t full = FormatErrorMessage(InOutError(100), small, sizeof small);
  EXPECT_EQ(full, strlen("Read beyond end of file"));
  EXPECT_STREQ(small, "Read be");
}

TEST(Cp1250, PolishLettersRoundTripThroughUtf8) {
  const std::string utf8 = "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84";
  char cp[64];
  size_t n = Utf8ToCp1250(utf8.data(), utf8.size(), cp, sizeof cp);
  ASSERT_NE(n, static_cast<size_t>(-1));
  EXPECT_EQ(std::string(cp, n), "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1");
  char back[64];
  size_t m = Cp1250ToUtf8(cp, n, back, sizeof back);
  EXPECT_EQ(std::string(back, m), utf8);
}

TEST(Cp1250, RefusesWhatItCannotRepresentOrDecode) {
  const char* bad[] = {
      "\xE4\xB8\xAD",  // a CJK character
      "\xC3",          // cut short
      "\xC0\xAF",      // over-long "/"
      "\xED\xA0\x80",  // a surrogate
  };
  for (const char* text : bad) {
    char out[16];
    EXPECT_EQ(Utf8ToCp1250(text, strlen(text), out, sizeof out), static_cast<size_t>(-1)) << text;
  }
}

}  // namespace
}  // namespace vek

namespace vek {
namespace {

// zlib's CRC-32: the check value of "123456789", and the folding ways against the
// tables for every length around their block sizes (64 and 256 bytes), at every
// alignment, in pieces.
TEST(Crc32, IsZlibsAndTheTwoWaysAgree) {
  EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(0, "", 0), 0u);
  std::string bytes(1400, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + (i >> 3));
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length = 0; length + offset <= bytes.size(); length += 7) {
      const char* p = bytes.data() + offset;
      const uint32_t whole = Crc32Portable(0, p, length);
      EXPECT_EQ(Crc32(0, p, length), whole) << offset << " " << length;
      EXPECT_EQ(Crc32(Crc32(0, p, length / 3), p + length / 3, length - length / 3), whole);
    }
  }
}

// The magic says whether an archive is ours, the tail in which layout it lies: a
// damaged magic keeps the marked layout so that the damage can be reported.
TEST(Signature, TheMagicSaysWhoseTheTailWhichLayout) {
  const struct {
    const char* bytes;
    SignatureKind kind;
    bool ours, marked;
  } cases[] = {
      {"RN-VEK\0\1", SignatureKind::kPlain, true, false},
      {"RN-VEK\0\2", SignatureKind::kMarked, true, true},
      {"RN-VEK\0\3", SignatureKind::kUnknownTail, false, false},
      {"RN-VEK\1\1", SignatureKind::kUnknownTail, false, false},
      {"RN-VEX\0\2", SignatureKind::kMarkedTailOnly, false, true},
      {"RN-VEX\0\1", SignatureKind::kForeign, false, false},
      {"MZ\x90\0\3\0\0\0", SignatureKind::kForeign, false, false},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(c.bytes);
    EXPECT_EQ(ClassifySignature(bytes), c.kind) << c.bytes;
    EXPECT_EQ(IsOurSignature(ClassifySignature(bytes)), c.ours) << c.bytes;
    EXPECT_EQ(InMarkedLayout(ClassifySignature(bytes)), c.marked) << c.bytes;
  }
}

}  // namespace
}  // namespace vek
