// Windows' reading of names and paths, judged over bytes on every platform.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "winpath.h"

namespace vek {
namespace {

// The table of names that every user of the rules runs is in tests/stub/names_test.cpp;
// here what only one encoding has, and the walk over a path's names.
TEST(WindowsNames, EachEncodingHasItsOwnBytesForTheSameRules) {
  const struct {
    std::string name;
    NameEncoding encoding;
    NameRule rule;
  } cases[] = {
      // The superscripts 1-3 make COM and LPT devices: bytes in 8-bit text, U+00B9,
      // U+00B2, U+00B3 in UTF-8; in UTF-8 the bytes 0xB9... are no character at all.
      {"COM\xC2\xB9", NameEncoding::kUtf8, NameRule::kDeviceName},
      {"lpt\xC2\xB2.txt", NameEncoding::kUtf8, NameRule::kDeviceName},
      {"COM\xC2\xB3 ", NameEncoding::kUtf8, NameRule::kDeviceName},
      {"COM\xC4\x85", NameEncoding::kUtf8, NameRule::kFine},  // COMą
      {"COM\xB9", NameEncoding::kWindows1250, NameRule::kDeviceName},
      {"COM\xB9", NameEncoding::kUtf8, NameRule::kForbiddenCharacter},
      {"\xCE\x95\xCE\xBB.", NameEncoding::kUtf8, NameRule::kTrailingDotOrBlank},  // Ελ.
      {"\xCE\x95\xCE\xBB", NameEncoding::kUtf8, NameRule::kFine},
      {"\xE2\x80\xA6", NameEncoding::kUtf8, NameRule::kFine},               // an ellipsis is no dot
      {"a\xC0\xAF", NameEncoding::kUtf8, NameRule::kForbiddenCharacter},     // over-long "/"
      {"a\xED\xA0\x80", NameEncoding::kUtf8, NameRule::kForbiddenCharacter}, // a surrogate
      {"a\xE2\x82", NameEncoding::kUtf8, NameRule::kForbiddenCharacter},     // cut short
      {"\xC2\x85", NameEncoding::kUtf8, NameRule::kFine},  // U+0085: Windows forbids only 0-31
      {"CON\xC2\xA0", NameEncoding::kUtf8, NameRule::kFine},  // a no-break space is no blank
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckWindowsName(c.name.data(), c.name.size(), c.encoding), c.rule)
        << c.name << (c.encoding == NameEncoding::kUtf8 ? " (UTF-8)" : " (Windows-1250)");
  }
}

TEST(WindowsNames, APathIsJudgedNameByNameAtEachSeparator) {
  const struct {
    const char* path;
    NameRule rule;
  } cases[] = {
      {"docs\\a.htm", NameRule::kFine},       {"docs/img/b.gif", NameRule::kFine},
      {"", NameRule::kEmpty},                 {"a\\", NameRule::kEmpty},
      {"\\a", NameRule::kEmpty},              {"a\\/b", NameRule::kEmpty},
      {"a\\..\\b", NameRule::kDotName},       {"CON\\..", NameRule::kDeviceName},  // the first that breaks one
      {"a/b./c", NameRule::kTrailingDotOrBlank}, {"a\\b:c", NameRule::kForbiddenCharacter},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckWindowsNames(c.path, strlen(c.path), NameEncoding::kUtf8), c.rule) << c.path;
  }
}

TEST(WindowsPaths, ANetworkHostOrDeviceIsNeverMadeFromAnEntrysNames) {
  const struct {
    const char* destination;
    PathKind kind;
    bool leaves;  // destination + "\name" reaches a host or device it did not name
  } cases[] = {
      {"C:\\Tarnovista_3_99", PathKind::kDriveAbsolute, false},
      {"C:", PathKind::kDriveRelative, false},
      {"C:rel", PathKind::kDriveRelative, false},
      {"", PathKind::kRelative, false},  // the root of the current drive: "\name"
      {".\\out", PathKind::kRelative, false},
      {"\\top", PathKind::kRooted, false},
      {"\\", PathKind::kRooted, true},
      {"/", PathKind::kRooted, true},
      {"\\\\", PathKind::kNetworkPrefix, true},
      {"//", PathKind::kNetworkPrefix, true},
      {"\\/", PathKind::kNetworkPrefix, true},
      {"\\\\host", PathKind::kNetworkPrefix, true},  // the entry would name the share
      {"\\\\host\\", PathKind::kNetworkPrefix, true},
      {"\\\\.", PathKind::kNetworkPrefix, true},
      {"\\\\?\\", PathKind::kNetworkPrefix, true},
      {"\\\\host\\share", PathKind::kUnc, false},
      {"//host/share/dir", PathKind::kUnc, false},
      {"\\\\.\\C:\\dest", PathKind::kDevice, false},
      {"\\\\?\\C:\\dest", PathKind::kDevice, false},
      {"\\\\.x\\share", PathKind::kUnc, false},
  };
  for (const auto& c : cases) {
    std::string d = c.destination;
    EXPECT_EQ(ClassifyWindowsPath(d.data(), d.size()), c.kind) << d;
    EXPECT_EQ(JoinLeavesTheDisk(d.data(), d.size(), "\\host", 5), c.leaves) << d;
  }
}

TEST(WindowsPaths, ATypedDestinationLosesItsTrailingSeparatorsAndOnlySeparatorsAreFlagged) {
  const struct {
    const char* typed;
    const char* kept;
    bool root;
  } cases[] = {
      {"C:\\Tarnovista_3_99\\\\", "C:\\Tarnovista_3_99", false},
      {"C:\\dir/", "C:\\dir", false},
      {"C:\\", "C:", false},
      {"\\", "", true},
      {"/", "", true},
      {"\\/\\", "", true},
      {"", "", false},
      {" a \\ ", " a \\ ", false},
  };
  for (const auto& c : cases) {
    bool root = false;
    size_t n = TrimDestination(c.typed, strlen(c.typed), &root);
    EXPECT_EQ(std::string(c.typed, n), c.kept) << c.typed;
    EXPECT_EQ(root, c.root) << c.typed;
  }
}

TEST(WindowsNames, LetterCaseIsFoldedAsInWindows1250) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"Index.HTM", "index.htm", true},
      {"\xA3\xD3" "D\x8F", "\xB3\xF3" "d\x9F", true},          // ŁÓDŹ, łódź
      {"\x8A\x8C\x8D\x8E\xA5\xAA\xAF\xBC", "\x9A\x9C\x9D\x9E\xB9\xBA\xBF\xBE", true},
      {"\xC0\xDE", "\xE0\xFE", true},                          // Ŕ Ţ, ŕ ţ
      {"\xD7", "\xF7", false},                                 // ×, ÷: no letters
      {"\xDF", "SS", false},
      {"a", "ab", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameWindowsName(c.a, strlen(c.a), c.b, strlen(c.b)), c.same) << c.a << " / " << c.b;
  }
}

}  // namespace
}  // namespace vek
