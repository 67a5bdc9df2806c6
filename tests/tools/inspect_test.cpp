// Finding the archive in a file, and the structural check behind `vek test`.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "check.h"
#include "extract.h"
#include "list.h"
#include "open.h"
#include "shown.h"
#include "testsupport.h"
#include "toolhost.h"
#include "vekbuild.h"
#include "winpath.h"

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
  std::vector<std::string> problems;
  for (const auto& p : tools::CheckArchive(archive)) problems.push_back(p.text);
  tools::CloseArchive(&archive);
  return problems;
}

TEST(Check, ASoundArchiveHasNoProblems) { EXPECT_TRUE(Problems(Sound()).empty()); }

TEST(Check, ReportsEachKindOfDamageOnItsOwnLine) {
  constexpr size_t kParent = EntryRecord::kParentIdOffset;
  constexpr size_t kSize = EntryRecord::kSizeOffset;
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* expected;
  } cases[] = {
      {"duplicate", [](std::string& a) { PatchU16(a, RecordAt(3), 2); }, "record 3 carries identifier 2 (a duplicate)"},
      {"later parent", [](std::string& a) { PatchU16(a, RecordAt(2) + kParent, 3); },
       "parent 3 is not an earlier entry"},
      {"file parent", [](std::string& a) { PatchU16(a, RecordAt(3) + kParent, 1); }, "parent 1 is not a directory"},
      {"missing parent", [](std::string& a) { PatchU16(a, RecordAt(3) + kParent, 900); }, "parent 900 does not exist"},
      {"unknown kind", [](std::string& a) { a[RecordAt(1) + EntryRecord::kKindOffset] = 9; }, "unknown kind 9"},
      {"past the end", [](std::string& a) { PatchU32(a, RecordAt(4) + kSize, 3); }, "runs past the end of the file"},
      {"negative", [](std::string& a) { PatchU32(a, RecordAt(4) + kSize, 0xFFFFFFF0u); }, "negative size -16"},
      {"overlap", [](std::string& a) { PatchU32(a, RecordAt(4) + EntryRecord::kDataOffsetOffset, 5); }, "overlaps"},
      {"dot-dot", [](std::string& a) { PatchName(a, 2, ".."); }, "unsafe"},
      {"cycle", [](std::string& a) { PatchU16(a, RecordAt(2) + kParent, 2); }, "cycle"},
      {"empty name", [](std::string& a) { PatchName(a, 1, ""); }, "empty name"},
  };
  for (const Case& c : cases) {
    std::string a = Sound();
    c.damage(a);
    auto problems = Problems(a);
    bool found = false;
    for (const auto& p : problems) found = found || p.find(c.expected) != std::string::npos;
    EXPECT_TRUE(found) << c.what << ": got " << ::testing::PrintToString(problems);
    // Extraction reports them too and never ends as if all were well.
    ScratchFolder out;
    testing::WriteWholeFile(out / "x.vek", a);
    EXPECT_NE(tools::ExtractCommand((out / "x.vek").string(), (out / "to").string(), false), tools::kExitSuccess)
        << c.what;
  }
}

TEST(Check, ACutShortTableCannotBeOpened) {
  std::string error;
  auto problems = Problems(Sound().substr(0, kArchivePrologueSize + EntryRecord::kSize * 2 + 9), &error);
  EXPECT_NE(error.find("Read beyond end of file"), std::string::npos) << error;
  EXPECT_NE(error.find("2 of 4 entry records"), std::string::npos) << error;
}

// Files sharing bytes: the overlap archive's trick (one stretch of data under many
// names). Every file beginning inside a longer one counts, not only the next.
TEST(Check, FilesSharingDataAreReportedAndNeverExtracted) {
  ArchiveBuilder b;
  b.AddFile(0, "big.txt", std::string(100, 'x'), 0);
  b.AddFile(0, "b.txt", "bb", 0);
  b.AddFile(0, "c.txt", "cc", 0);
  std::string a = b.Serialize();
  PatchU32(a, RecordAt(2) + EntryRecord::kDataOffsetOffset, 10);
  PatchU32(a, RecordAt(3) + EntryRecord::kDataOffsetOffset, 30);
  const auto problems = Problems(a);
  ASSERT_EQ(problems.size(), 2u) << ::testing::PrintToString(problems);
  EXPECT_NE(problems[0].find("entry 2 (\\b.txt): its data overlaps that of entry 1"), std::string::npos);
  EXPECT_NE(problems[1].find("entry 3 (\\c.txt): its data overlaps that of entry 1"), std::string::npos);
  ScratchFolder out;
  testing::WriteWholeFile(out / "x.vek", a);
  EXPECT_EQ(tools::ExtractCommand((out / "x.vek").string(), (out / "to").string(), false), tools::kExitFailure);
  EXPECT_FALSE(std::filesystem::exists(out / "to"));
}

TEST(Check, ReportsANameThatCanBeAnotherEntrysShortName) {
  const struct {
    const char *long_name, *alias;
    bool reported;
  } cases[] = {
      {"LongFolderName", "LONG~NYX", true},  // Wine's form
      {"LongFolderName", "longfo~1", true},
      {"LongFolderName", "LO1A2B~1", true},  // Windows, after many alike
      {"config file.txt", "CONFIG~1.TXT", true},
      {"document.html", "DOCUME~1.HTM", true},
      {"document.html", "DOCUME~1.TXT", false},
      {"Readme.txt", "README~1.TXT", false},  // a short name already: none made
      {"LongFolderName", "OTHER~1", false},
  };
  for (const auto& c : cases) {
    ArchiveBuilder b;
    b.AddFile(0, c.long_name, "a", 0);
    b.AddFile(0, c.alias, "b", 0);
    const uint16_t folder = b.AddDirectory(0, "elsewhere");
    b.AddFile(folder, c.alias, "c", 0);  // another folder: no alias of the first
    const auto problems = Problems(b.Serialize());
    ASSERT_EQ(problems.size(), c.reported ? 1u : 0u) << c.alias << ": " << ::testing::PrintToString(problems);
    if (c.reported) {
      EXPECT_NE(problems[0].find("entry 2 (\\" + std::string(c.alias) + "): can be"), std::string::npos);
    }
  }
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

// In an executable with our stub's start offset the archive is where the constant
// points, as the stub takes it, never another one found by searching; a constant
// that cannot be right is an error. Folders are no archives.
TEST(Locate, TakesTheStubsStartOffsetAndNothingElse) {
  std::string decoy = Sound();
  PatchU16(decoy, RecordAt(1), 7);  // A: not a plausible archive by its first record
  const std::string stub = testing::FakeStub(".vekofs", 0x600);
  auto with_constant = [&](uint32_t offset) {
    std::string exe = stub;
    PatchU32(exe, 0x200, offset);
    return exe;
  };
  std::string in_headers = with_constant(0x600);
  PatchU32(in_headers, 0x44 + 20 + 40 + 20, 0x40);
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t offset;  // expected start; 0 with an error
    const char* error;
  } cases[] = {
      {"decoy behind the archive", with_constant(0x600) + decoy + Sound(), 0x600, ""},
      {"start offset beyond the end", with_constant(0x5000) + Sound(), 0, "beyond the end of the file"},
      {"start offset into the stub", with_constant(0x100) + Sound(), 0, "points into the stub"},
      {"unset start offset", stub + Sound(), 0, "points into the stub"},
      {"start offset section in the headers", in_headers + Sound(), 0, "lies in the PE headers"},
  };
  for (const Case& c : cases) {
    ScratchFolder folder;
    testing::WriteWholeFile(folder / "setup.exe", c.bytes);
    std::string error;
    auto start = tools::LocateArchive((folder / "setup.exe").string(), &error);
    if (*c.error) {
      EXPECT_FALSE(start) << c.what;
      EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    } else {
      ASSERT_TRUE(start) << c.what << ": " << error;
      EXPECT_EQ(start->offset, c.offset) << c.what;
      EXPECT_EQ(start->source, tools::StartSource::kStubConstant) << c.what;
    }
  }
  auto problems = Problems(with_constant(0x600) + decoy + Sound());
  EXPECT_NE(::testing::PrintToString(problems).find("record 1 carries identifier 7"), std::string::npos)
      << ::testing::PrintToString(problems);

  ScratchFolder folder;
  std::string error;
  EXPECT_FALSE(tools::LocateArchive(folder.path().string(), &error));
  EXPECT_EQ(error, "a folder, not an archive");
}

TEST(Check, ReportsEntriesThatLandOnOnePath) {
  struct Case {
    const char* what;
    std::vector<std::string> names;  // files at the root, in order
    const char* expected;            // in the one problem; "" for none
  } cases[] = {
      {"the same file twice", {"a.txt", "a.txt"}, "the same path as entry 1 (\\a.txt); it would replace that file"},
      {"letter case", {"Index.htm", "INDEX.HTM"}, "the path of entry 1 (\\Index.htm) in other letter case"},
      {"Polish letter case",
       {"\xB3\xF3"
        "d\x9F.txt",
        "\xA3\xD3"
        "D\x8F.TXT"},
       "in other letter case"},
      {"sharp s has no upper case", {"\xDF", "SS"}, ""},
      {"distinct names", {"a.txt", "b.txt", "A.TXT.bak"}, ""},
      // Refused on every platform, before they could land on one name here.
      {"bytes Windows-1250 leaves undefined", {"x\x81"}, "one that Windows-1250 does not define"},
  };
  for (const Case& c : cases) {
    ArchiveBuilder b;
    for (const std::string& name : c.names) b.AddFile(0, name, "data", 0);
    auto problems = Problems(b.Serialize());
    if (!*c.expected) {
      EXPECT_TRUE(problems.empty()) << c.what << ": " << ::testing::PrintToString(problems);
      continue;
    }
    ASSERT_EQ(problems.size(), 1u) << c.what << ": " << ::testing::PrintToString(problems);
    EXPECT_NE(problems[0].find(c.expected), std::string::npos) << c.what << ": " << problems[0];
  }
  // A file, then a folder of the same name with a file inside in other case.
  ArchiveBuilder b;
  b.AddFile(0, "x", "data", 0);
  uint16_t d = b.AddDirectory(0, "x");
  b.AddFile(d, "f", "1", 0);
  b.AddFile(d, "F", "2", 0);
  auto problems = Problems(b.Serialize());
  ASSERT_EQ(problems.size(), 2u) << ::testing::PrintToString(problems);
  EXPECT_NE(problems[0].find("entry 2 (\\x): the same path as entry 1 (\\x) (a file and a folder"), std::string::npos)
      << problems[0];
  EXPECT_NE(problems[1].find("entry 4 (\\x\\F): the path of entry 3 (\\x\\f)"), std::string::npos) << problems[1];
}

// 65,535 folders, each inside the one before: listing and testing print a bounded
// amount per entry (the paths alone would run to gigabytes).
TEST(Check, ADeepArchivePrintsABoundedAmount) {
  ArchiveBuilder b;
  uint16_t parent = 0;
  for (int i = 0; i < 65535; ++i) parent = b.AddDirectory(parent, "ab");
  ScratchFolder folder;
  testing::WriteWholeFile(folder / "deep.vek", b.Serialize());
  tools::OpenedArchive archive;
  std::string error;
  ASSERT_TRUE(tools::OpenArchive((folder / "deep.vek").string(), &archive, &error)) << error;
  FILE* out = tmpfile();
  tools::ListArchive(archive, out);
  long listed = ftell(out);
  fclose(out);
  auto problems = tools::CheckArchive(archive);
  tools::CloseArchive(&archive);
  size_t reported = 0;
  auto lines = tools::SummariseProblems(problems);
  for (const auto& line : lines) reported += line.size() + 1;
  EXPECT_LT(listed, 65535L * 300);
  // Paths of 3 bytes a level: as many levels fit as this platform's folder paths allow.
  EXPECT_EQ(problems.size(), 65535u - PlatformPathLimits().max_directory_path / 3);
  EXPECT_LT(reported, 4096u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines.back(), "... and " + tools::GroupedNumber(problems.size() - tools::kProblemsShownPerKind) +
                              " more entries of unsafe: its path is longer than this system can create");
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

// What a stored configuration could send to the terminal: escapes, a bell, a carriage
// return, a C1 control, a NUL, bytes that are not UTF-8.
TEST(Listing, TextFromTheArchiveCannotReachTheTerminalAsControls) {
  const struct {
    std::string text, shown;
  } cases[] = {
      {"caption = Zażółć", "caption = Zażółć"},
      {"caption = \x1B]0;owned\x07x", "caption = \\x1B]0;owned\\x07x"},
      {"done = ok\rFAKE", "done = ok\\x0DFAKE"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\xC2\x9B"
       "2J \x7F",
       "\\xC2\\x9B2J \\x7F"},
      {"\xFF\xC3", "\\xFF\\xC3"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(tools::PrintableText(c.text.data(), c.text.size(), NameEncoding::kUtf8), c.shown) << c.shown;
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
#ifdef _WIN32
      // Full paths as Windows reads them from the current folder; "/" separates.
      {"C:\\", "C:"},
      {"C:/a/b/", "C:\\a\\b"},
      {"C:\\t\xC3\xA9st\\", "C:\\t\xC3\xA9st"},  // UTF-8 in and out
#else
      // The user's bytes as given: only "/" separates, any other byte is a name's.
      {"/", ""},  // the root: entries go to "/name", never "//name"
      {"//", ""},
      {"/tmp/out/", "/tmp/out"},
      {"out//", "./out"},
      {"back\\slash", "./back\\slash"},
      {"\xE6\x97\xA5\xE6\x9C\xAC", "./\xE6\x97\xA5\xE6\x9C\xAC"},  // 日本
      {"caf\xE9", "./caf\xE9"},                                    // a Latin-1 byte, no UTF-8
      {"", "."},
      {".", "."},
#endif
  };
  for (const auto& c : cases) {
    std::string destination = "unset";
    ASSERT_TRUE(DestinationFolder(c.folder, &destination)) << c.folder;
    EXPECT_EQ(destination, c.destination) << c.folder;
  }
}

}  // namespace
}  // namespace vek
