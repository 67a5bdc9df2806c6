// Windows' reading of names and paths, judged over bytes on every platform.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "casefold.h"
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
      {"\xE2\x80\xA6", NameEncoding::kUtf8, NameRule::kFine},                 // an ellipsis is no dot
      {"a\xC0\xAF", NameEncoding::kUtf8, NameRule::kForbiddenCharacter},      // over-long "/"
      {"a\xED\xA0\x80", NameEncoding::kUtf8, NameRule::kForbiddenCharacter},  // a surrogate
      {"a\xE2\x82", NameEncoding::kUtf8, NameRule::kForbiddenCharacter},      // cut short
      {"\xC2\x85", NameEncoding::kUtf8, NameRule::kFine},                     // U+0085: Windows forbids only 0-31
      {"CON\xC2\xA0", NameEncoding::kUtf8, NameRule::kFine},                  // a no-break space is no blank
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
      {"docs\\a.htm", NameRule::kFine},
      {"docs/img/b.gif", NameRule::kFine},
      {"", NameRule::kEmpty},
      {"a\\", NameRule::kEmpty},
      {"\\a", NameRule::kEmpty},
      {"a\\/b", NameRule::kEmpty},
      {"a\\..\\b", NameRule::kDotName},
      {"CON\\..", NameRule::kDeviceName},  // the first that breaks one
      {"a/b./c", NameRule::kTrailingDotOrBlank},
      {"a\\b:c", NameRule::kForbiddenCharacter},
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

TEST(WindowsNames, LetterCaseIsFoldedByUnicodesSimpleUpperCaseInBothEncodings) {
  const struct {
    const char* a;
    const char* b;
    NameEncoding encoding;
    bool same;
  } cases[] = {
      {"Index.HTM", "index.htm", NameEncoding::kWindows1250, true},
      {"\xA3\xD3"
       "D\x8F",
       "\xB3\xF3"
       "d\x9F",
       NameEncoding::kWindows1250, true},  // ŁÓDŹ, łódź
      {"\x8A\x8C\x8D\x8E\xA5\xAA\xAF\xBC", "\x9A\x9C\x9D\x9E\xB9\xBA\xBF\xBE", NameEncoding::kWindows1250, true},
      {"\xC0\xDE", "\xE0\xFE", NameEncoding::kWindows1250, true},  // Ŕ Ţ, ŕ ţ
      {"\xD7", "\xF7", NameEncoding::kWindows1250, false},         // ×, ÷: no letters
      {"\xDF", "SS", NameEncoding::kWindows1250, false},           // ß has no one-letter upper case
      {"a", "ab", NameEncoding::kWindows1250, false},
      {"ŁÓDŹ", "łódź", NameEncoding::kUtf8, true},
      {"ΕΚΔΌΣΕΙΣ", "εκδόσεις", NameEncoding::kUtf8, true},  // final sigma too
      {"ЖУРНАЛ Ё", "журнал ё", NameEncoding::kUtf8, true},
      {"ǅ", "ǆ", NameEncoding::kUtf8, true},            // a title-case letter
      {"ＡＢＣ", "ａｂｃ", NameEncoding::kUtf8, true},  // full-width
      {"ı", "I", NameEncoding::kUtf8, true},            // dotless i
      {"İ", "i", NameEncoding::kUtf8, false},           // its upper case is itself
      {"Straße", "STRASSE", NameEncoding::kUtf8, false},
      {"テスト", "テスト", NameEncoding::kUtf8, true},
      {"ﾃｽﾄ", "テスト", NameEncoding::kUtf8, false},                         // half-width is another character
      {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80", NameEncoding::kUtf8, false},  // beyond U+FFFF: as stored
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameWindowsName(c.a, strlen(c.a), c.b, strlen(c.b), c.encoding), c.same) << c.a << " / " << c.b;
  }
}

TEST(WindowsPaths, LengthsCountThePlatformsUnits) {
  const struct {
    const char* text;
    NameEncoding encoding;
    size_t utf16, utf8;
  } cases[] = {
      {"index.htm", NameEncoding::kUtf8, 9, 9},
      {"\xB3\xF3"
       "d\x9F",
       NameEncoding::kWindows1250, 4, 7},          // łódź
      {"\x81", NameEncoding::kWindows1250, 1, 3},  // no character: U+FFFD
      {"łódź", NameEncoding::kUtf8, 4, 7},
      {"日本", NameEncoding::kUtf8, 2, 6},
      {"photos-📷", NameEncoding::kUtf8, 9, 11},  // a surrogate pair
      {"\xE9", NameEncoding::kUtf8, 1, 1},       // a Latin-1 byte of a POSIX name
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathUnits(kWindowsPathLimits, c.text, strlen(c.text), c.encoding), c.utf16) << c.text;
    EXPECT_EQ(PathUnits(kPosixPathLimits, c.text, strlen(c.text), c.encoding), c.utf8) << c.text;
  }
}

// The long form skips Windows' own reading of a path: only a full path that reading
// would leave as it is takes it.
TEST(WindowsPaths, OnlyAFullPathWindowsWouldNotChangeTakesTheLongForm) {
  const struct {
    const char* path;
    LongForm form;
  } cases[] = {
      {"C:\\dest\\a.htm", LongForm::kDrive},
      {"c:/dest/a.htm", LongForm::kDrive},
      {"C:\\", LongForm::kDrive},
      {"C:\\テスト\\Acme\\photos-📷", LongForm::kDrive},
      {"\\\\host\\share\\d\\a.htm", LongForm::kUnc},
      {"//host/share/d", LongForm::kUnc},
      {"\\\\?\\C:\\dest", LongForm::kAlready},
      {"\\\\.\\C:\\dest", LongForm::kNone},  // the device namespace
      {"dest\\a.htm", LongForm::kNone},      // relative: the current folder decides
      {"C:dest", LongForm::kNone},
      {"\\dest", LongForm::kNone},
      {"1:\\dest", LongForm::kNone},
      {"C:\\a\\..\\b", LongForm::kNone},  // Windows would take ".." away
      {"C:\\a\\.\\b", LongForm::kNone},
      {"C:\\a\\\\b", LongForm::kNone},  // an empty name
      {"C:\\a.\\b", LongForm::kNone},   // a trailing dot Windows drops
      {"C:\\a \\b", LongForm::kNone},
      {"C:\\dest\\", LongForm::kNone},
      {"C:\\dest\\CON", LongForm::kNone},  // a device, which the long form would make a file
      {"C:\\dest\\a:b", LongForm::kNone},  // a stream
      {"\\\\host", LongForm::kNone},
      {"\\\\host\\..\\x", LongForm::kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(LongPathForm(c.path, strlen(c.path)), c.form) << c.path;
}

}  // namespace
}  // namespace vek
