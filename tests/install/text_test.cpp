// Short texts in a buffer of fixed room (text.h): bytes and UTF-16 units.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>

#include "text.h"

namespace vek {
namespace {

TEST(TextBuilder, WritesNumbersInTheirWidth) {
  const struct {
    uint64_t value;
    unsigned base;
    int width;
    char fill;
    const char* text;
  } cases[] = {
      {0, 10, 0, '0', "0"},
      {UINT64_MAX, 10, 0, '0', "18446744073709551615"},
      {7, 10, 2, '0', "07"},
      {2107, 10, 2, '0', "2107"},  // a width is the least, never a cut
      {5, 10, 4, ' ', "   5"},
      {0, 10, 30, '0', "00000000000000000000"},  // no wider than the widest number
      {0, 16, 0, '0', "0"},
      {0x4007, 16, 0, '0', "4007"},
      {0x1A2B4, 16, 8, '0', "0001A2B4"},
      {UINT64_MAX, 16, 0, '0', "FFFFFFFFFFFFFFFF"},
  };
  for (const auto& c : cases) {
    FixedText<32> text;
    if (c.base == 10) {
      text.Decimal(c.value, c.width, c.fill);
    } else {
      text.Hex(c.value, c.width);
    }
    EXPECT_STREQ(text.c_str(), c.text) << c.value;
    EXPECT_EQ(text.length(), strlen(c.text));
  }
}

TEST(TextBuilder, CutsAtTheRoomAndCountsWhatWasCut) {
  // "ab" then 12345: seven bytes wanted.
  const struct {
    size_t room;
    const char* text;
  } cases[] = {
      {8, "ab12345"}, {7, "ab1234"}, {3, "ab"}, {2, "a"}, {1, ""},
  };
  for (const auto& c : cases) {
    char buf[9];
    memset(buf, '#', sizeof buf);
    const size_t length = TextBuilder(buf, c.room).Text("ab").Decimal(12345).length();
    EXPECT_EQ(length, 7u) << c.room;
    EXPECT_STREQ(buf, c.text) << c.room;
    for (size_t i = c.room; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#') << c.room << " " << i;

    // UTF-16 units on the same terms.
    char16_t units[9];
    std::fill(units, units + 9, u'#');
    Utf16Builder wide(reinterpret_cast<uint16_t*>(units), c.room);
    for (const char* p = "ab12345"; *p; ++p) wide.Put(static_cast<uint16_t>(*p));
    EXPECT_EQ(wide.Finish(), 7u) << c.room;
    EXPECT_EQ(std::u16string(units), std::u16string(c.text, c.text + strlen(c.text))) << c.room;
    for (size_t i = c.room; i < 9; ++i) EXPECT_EQ(units[i], u'#') << c.room << " " << i;
  }
  char untouched = '#';
  EXPECT_EQ(TextBuilder(&untouched, 0).Text("abc").length(), 3u);
  EXPECT_EQ(untouched, '#');
  uint16_t unit = '#';
  Utf16Builder none(&unit, 0);
  none.Put('a');
  EXPECT_EQ(none.Finish(), 1u);
  EXPECT_EQ(unit, '#');
}

TEST(NameFromPath, IsWhatFollowsTheLastSeparator) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"C:\\Program Files\\setup.exe", "setup.exe"},
      {"/usr/lib/vekstub.exe", "vekstub.exe"},
      {"a\\b/c", "c"},
      {"C:setup.exe", "setup.exe"},
      {"setup.exe", "setup.exe"},
      {"C:\\folder\\", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(NameFromPath(c.path), c.name) << c.path;
    const std::u16string wide(c.path, c.path + strlen(c.path));
    const auto* path = reinterpret_cast<const uint16_t*>(wide.c_str());
    EXPECT_EQ(NameFromPath(path) - path, NameFromPath(c.path) - c.path) << c.path;
  }
}

}  // namespace
}  // namespace vek
