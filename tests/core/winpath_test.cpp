// Windows' reading of names and paths, judged over bytes on every platform.
#include <gtest/gtest.h>

#include <string>

#include "winpath.h"

namespace vek {
namespace {

TEST(WindowsNames, AreJudgedAsWindowsTakesThem) {
  const struct {
    std::string name;
    NameRule rule;
  } cases[] = {
      // Device names in any case, with an extension, with blanks and dots after them.
      {"NUL", NameRule::kDeviceName}, {"con", NameRule::kDeviceName}, {"Aux", NameRule::kDeviceName},
      {"prn", NameRule::kDeviceName}, {"COM1", NameRule::kDeviceName}, {"com9", NameRule::kDeviceName},
      {"LPT1", NameRule::kDeviceName}, {"lpt9.log", NameRule::kDeviceName}, {"CONIN$", NameRule::kDeviceName},
      {"conout$", NameRule::kDeviceName}, {"aux.txt", NameRule::kDeviceName}, {"nul.tar.gz", NameRule::kDeviceName},
      {"CON .txt", NameRule::kDeviceName}, {"NUL ", NameRule::kDeviceName}, {"nul.", NameRule::kDeviceName},
      {"COM\xB9", NameRule::kDeviceName}, {"lpt\xB2.x", NameRule::kDeviceName}, {"COM\xB3", NameRule::kDeviceName},
      // Near misses are ordinary names.
      {"COM0", NameRule::kFine}, {"COM10", NameRule::kFine}, {"LPT", NameRule::kFine}, {"CONSOLE", NameRule::kFine},
      {"nul_", NameRule::kFine}, {"xcon", NameRule::kFine}, {" CON", NameRule::kFine}, {"CONIN", NameRule::kFine},
      {"auxiliary.txt", NameRule::kFine}, {".nul", NameRule::kFine}, {"COM\xB4", NameRule::kFine},
      // Characters Windows forbids, control characters, bytes Windows-1250 leaves undefined.
      {"a*b", NameRule::kForbiddenCharacter}, {"a?b", NameRule::kForbiddenCharacter},
      {"a<b", NameRule::kForbiddenCharacter}, {"a>b", NameRule::kForbiddenCharacter},
      {"a|b", NameRule::kForbiddenCharacter}, {"a\"b", NameRule::kForbiddenCharacter},
      {"a:b", NameRule::kForbiddenCharacter}, {"a\\b", NameRule::kForbiddenCharacter},
      {"a/b", NameRule::kForbiddenCharacter}, {"a\x01" "b", NameRule::kForbiddenCharacter},
      {"tab\t", NameRule::kForbiddenCharacter}, {"a\x1F", NameRule::kForbiddenCharacter},
      {std::string("a\0b", 3), NameRule::kForbiddenCharacter}, {"x\x81", NameRule::kForbiddenCharacter},
      {"x\x98", NameRule::kForbiddenCharacter},
      // Windows drops a trailing dot or blank: "evil." and "evil " are "evil".
      {"evil.", NameRule::kTrailingDotOrBlank}, {"evil ", NameRule::kTrailingDotOrBlank},
      {"a. .", NameRule::kTrailingDotOrBlank},
      {"", NameRule::kEmpty}, {".", NameRule::kDotName}, {"..", NameRule::kDotName}, {"...", NameRule::kDotName},
      {" . ", NameRule::kDotName},
      {"index.htm", NameRule::kFine}, {".hidden", NameRule::kFine}, {"a..b", NameRule::kFine},
      {" lead", NameRule::kFine}, {"Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1", NameRule::kFine},
      {"a\x7F" "b", NameRule::kFine},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckWindowsName(c.name.data(), c.name.size()), c.rule) << "name: " << c.name;
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

TEST(WindowsPaths, ATypedDestinationLosesItsTrailingSeparatorsAndOnlySeparatorsMeanTheRoot) {
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
