// Finding the archive in a file, and the structural check behind `vek test`.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "extract.h"
#include "inspect.h"
#include "testsupport.h"
#include "vekbuild.h"

namespace vek {
namespace {

using build::ArchiveBuilder;
using testing::PatchName;
using testing::PatchU16;
using testing::PatchU32;
using testing::RecordAt;
using testing::ScratchFolder;

// \a.txt (1), \dir (2), \dir\b.txt (3), \dir\c.txt (4)
std::string Sound() {
  ArchiveBuilder b;
  b.AddFile(0, "a.txt", "aaaa", testing::DosStamp(1999, 1, 2, 3, 4, 6));
  uint16_t d = b.AddDirectory(0, "dir");
  b.AddFile(d, "b.txt", "bbbbbb", 0);
  b.AddFile(d, "c.txt", "cc", 0);
  return b.Serialize();
}

std::vector<std::string> Problems(const std::string& bytes, std::string* open_error = nullptr) {
  ScratchFolder folder;
  testing::WriteWholeFile(folder / "x.vek", bytes);
  tools::OpenedArchive archive;
  std::string error;
  if (!tools::OpenArchive((folder / "x.vek").string(), &archive, &error)) {
    if (open_error) *open_error = error;
    return {"cannot open: " + error};
  }
  auto problems = tools::CheckArchive(archive);
  tools::CloseArchive(&archive);
  return problems;
}

TEST(Check, ASoundArchiveHasNoProblems) { EXPECT_TRUE(Problems(Sound()).empty()); }

TEST(Check, ReportsEachKindOfDamageOnItsOwnLine) {
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* expected;
  } cases[] = {
      {"duplicate", [](std::string& a) { PatchU16(a, RecordAt(3), 2); }, "record 3 carries identifier 2 (a duplicate)"},
      {"later parent", [](std::string& a) { PatchU16(a, RecordAt(2) + 2, 3); }, "parent 3 is not an earlier entry"},
      {"file parent", [](std::string& a) { PatchU16(a, RecordAt(3) + 2, 1); }, "parent 1 is not a directory"},
      {"missing parent", [](std::string& a) { PatchU16(a, RecordAt(3) + 2, 900); }, "parent 900 does not exist"},
      {"unknown kind", [](std::string& a) { a[RecordAt(1) + 4] = 9; }, "unknown kind 9"},
      {"past the end", [](std::string& a) { PatchU32(a, RecordAt(4) + 248, 3); }, "runs past the end of the file"},
      {"negative", [](std::string& a) { PatchU32(a, RecordAt(4) + 248, 0xFFFFFFF0u); }, "negative size -16"},
      {"overlap", [](std::string& a) { PatchU32(a, RecordAt(4) + 252, 5); }, "overlaps"},
      {"dot-dot", [](std::string& a) { PatchName(a, 2, ".."); }, "unsafe"},
      {"cycle", [](std::string& a) { PatchU16(a, RecordAt(2) + 2, 2); }, "cycle"},
      {"empty name", [](std::string& a) { PatchName(a, 1, ""); }, "empty name"},
  };
  for (const Case& c : cases) {
    std::string a = Sound();
    c.damage(a);
    auto problems = Problems(a);
    bool found = false;
    for (const auto& p : problems) found = found || p.find(c.expected) != std::string::npos;
    EXPECT_TRUE(found) << c.what << ": got " << ::testing::PrintToString(problems);
  }
}

TEST(Check, ACutShortTableCannotBeOpened) {
  std::string error;
  auto problems = Problems(Sound().substr(0, 56 + 256 * 2 + 9), &error);
  EXPECT_NE(error.find("Read beyond end of file"), std::string::npos) << error;
  EXPECT_NE(error.find("2 of 4 entry records"), std::string::npos) << error;
}

TEST(Locate, FindsAnArchiveBehindForeignBytesByItsSignature) {
  ScratchFolder folder;
  std::string prefix(5000, 'x');
  prefix.replace(100, 6, "RN-VEK");  // a lone magic without a plausible header
  testing::WriteWholeFile(folder / "f.bin", prefix + Sound());
  std::string error;
  auto start = tools::LocateArchive((folder / "f.bin").string(), &error);
  ASSERT_TRUE(start) << error;
  EXPECT_EQ(start->offset, 5000u);
  EXPECT_EQ(start->source, tools::StartSource::kScan);
  testing::WriteWholeFile(folder / "none.bin", prefix);
  EXPECT_FALSE(tools::LocateArchive((folder / "none.bin").string(), &error));
}

TEST(Listing, ShowsEveryEntryAndTheTotals) {
  ScratchFolder folder;
  testing::WriteWholeFile(folder / "x.vek", Sound());
  tools::OpenedArchive archive;
  std::string error;
  ASSERT_TRUE(tools::OpenArchive((folder / "x.vek").string(), &archive, &error)) << error;
  FILE* out = tmpfile();
  tools::ListArchive(archive, out);
  tools::CloseArchive(&archive);
  rewind(out);
  std::string text;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, out)) text.append(buffer, n);
  fclose(out);
  EXPECT_NE(text.find("    1 file ....A 1999-01-02 03:04:06          4 \\a.txt"), std::string::npos) << text;
  EXPECT_NE(text.find("    2 dir  D....                                \\dir"), std::string::npos) << text;
  EXPECT_NE(text.find("4 entries: 3 files, 1 directories"), std::string::npos) << text;
}

}  // namespace
}  // namespace vek

namespace vek {
namespace {

TEST(ExtractCommand, FoldersFromTheCommandLineBecomeDestinations) {
  const struct {
    const char* folder;
    const char* destination;
  } cases[] = {
      {"/", ""},  // the root (of the current drive): entries go to "\name", never "\\name"
      {"\\", ""},
      {"//", ""},
      {"/tmp/out/", "\\tmp\\out"},
      {"C:\\", "C:"},
      {"out//", ".\\out"},
      {"", "."},
      {".", "."},
  };
  for (const auto& c : cases) {
    std::string destination = "unset";
    ASSERT_TRUE(tools::DestinationFromArgument(c.folder, &destination)) << c.folder;
    EXPECT_EQ(destination, c.destination) << c.folder;
  }
}

}  // namespace
}  // namespace vek
