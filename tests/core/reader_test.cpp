// The archive layout as written by the builder and read back, lookups, path building
// and the unsafe-entry rules, through the platform's real file edge.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "rnvek100.h"
#include "winpath.h"
#include "testsupport.h"
#include "vekbuild.h"

namespace vek {
namespace {

using build::ArchiveBuilder;
using testing::DosStamp;
using testing::LoadedArchive;
using testing::PatchName;
using testing::PatchU16;
using testing::PatchU32;
using testing::RecordAt;

const uint32_t kStamp = DosStamp(1999, 3, 14, 12, 30, 44);

// \readme.txt, \docs, \docs\a.htm, \docs\img, \docs\img\b.gif
ArchiveBuilder SmallTree() {
  ArchiveBuilder b;
  b.AddFile(0, "readme.txt", "hello", kStamp);
  uint16_t docs = b.AddDirectory(0, "docs");
  b.AddFile(docs, "a.htm", std::string(40000, 'a'), kStamp + 1, 0x21);
  uint16_t img = b.AddDirectory(docs, "img");
  b.AddFile(img, "b.gif", "GIF89a", kStamp + 2);
  return b;
}

std::string Path(int32_t id) { return GetEntryPath(id).c_str(); }

TEST(Layout, BuilderWritesEveryFieldWhereTheReaderFindsIt) {
  std::string a = SmallTree().Serialize();
  ASSERT_EQ(a.size(), 56u + 5 * 256 + 5 + 40000 + 6);
  EXPECT_EQ(a.substr(0, 8), std::string("RN-VEK\0\1", 8));
  const std::string header = a.substr(8, 48);
  EXPECT_EQ(header[0], 5);
  EXPECT_EQ(header[1], 0);
  for (int i = 2; i < 15; ++i) EXPECT_EQ(header[i], i == 4 ? 1 : 0) << "header byte " << i;
  EXPECT_EQ(header[15], 32);
  EXPECT_EQ(header.substr(16, 32), build::kRightsNotice);
  EXPECT_EQ(header[16], ' ');
  EXPECT_EQ(header[47], ' ');

  // Record 3: \docs\a.htm, read-only, second file in table order.
  const size_t r = RecordAt(3);
  EXPECT_EQ(LoadU16(reinterpret_cast<const unsigned char*>(&a[r])), 3);
  EXPECT_EQ(LoadU16(reinterpret_cast<const unsigned char*>(&a[r + 2])), 2);
  EXPECT_EQ(static_cast<unsigned char>(a[r + 4]), 255);
  EXPECT_EQ(a[r + 5], 0);
  EXPECT_EQ(a[r + 6], 5);
  EXPECT_EQ(a.substr(r + 7, 5), "a.htm");
  for (size_t i = r + 12; i < r + 240; ++i) ASSERT_EQ(a[i], 0) << "name padding at " << i - r;
  EXPECT_EQ(LoadU32(reinterpret_cast<const unsigned char*>(&a[r + 240])), 0x21u);
  EXPECT_EQ(LoadU32(reinterpret_cast<const unsigned char*>(&a[r + 244])), kStamp + 1);
  EXPECT_EQ(LoadU32(reinterpret_cast<const unsigned char*>(&a[r + 248])), 40000u);
  EXPECT_EQ(LoadU32(reinterpret_cast<const unsigned char*>(&a[r + 252])), 5u);  // after readme's 5 bytes
  // Directory records carry zeros.
  const size_t d = RecordAt(2);
  for (size_t i = 240; i < 256; ++i) EXPECT_EQ(a[d + i], 0);
  // Data is packed in table order without gaps.
  const size_t data = 56 + 5 * 256;
  EXPECT_EQ(a.substr(data, 5), "hello");
  EXPECT_EQ(a.substr(data + 5 + 40000, 6), "GIF89a");

  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(GetEntryCount(), 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(GetSignatureBuffer()), 8), a.substr(0, 8));
  EXPECT_EQ(GetEntryKind(2), kEntryKindDirectory);
  EXPECT_EQ(GetEntryKind(5), kEntryKindFile);
  EXPECT_EQ(GetEntryAttributes(3), 0x21u);
  EXPECT_EQ(GetEntryTimeStamp(5), kStamp + 2);
  EXPECT_EQ(GetEntrySize(3), 40000);
  EXPECT_EQ(GetEntryDataOffset(5), 40005u);
  EXPECT_EQ(Path(1), "\\readme.txt");
  EXPECT_EQ(Path(5), "\\docs\\img\\b.gif");
}

TEST(Lookups, ReportNotFoundValuesForUnknownIdentifiers) {
  LoadedArchive loaded(SmallTree().Serialize());
  ASSERT_TRUE(loaded.load_error.ok());
  for (int32_t id : {0, 6, 65535, 65536, -1, 70000}) {
    EXPECT_EQ(GetEntryKind(id), 128) << id;
    EXPECT_EQ(GetEntryAttributes(id), 0u);
    EXPECT_EQ(GetEntryTimeStamp(id), 0u);
    EXPECT_EQ(GetEntrySize(id), 0);
    EXPECT_EQ(GetEntryDataOffset(id), 0u);
    EXPECT_EQ(Path(id), "");
  }
}

TEST(Lookups, CountZeroMakesEveryLookupMiss) {
  ArchiveBuilder empty;
  std::string a = empty.Serialize();
  ASSERT_EQ(a.size(), 56u);
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(GetEntryCount(), 0);
  EXPECT_EQ(GetEntryKind(1), 128);
  EXPECT_EQ(Path(1), "");
}

TEST(Lookups, LookupsAfterTheTableIsFreedMiss) {
  LoadedArchive loaded(SmallTree().Serialize());
  FreeEntryTable();
  EXPECT_EQ(GetEntryKind(1), 128);
  EXPECT_EQ(Path(5), "");
  EXPECT_EQ(CheckEntryPath(5), PathSafety::kSafe);
}

TEST(Lookups, TheLowerSlotWinsForDuplicateIdentifiers) {
  ArchiveBuilder b;
  b.AddDirectory(0, "first");                  // 1
  b.AddDirectory(0, "second");                 // 2
  b.AddFile(1, "x", "xx", kStamp);             // 3, parent 1
  b.AddFile(0, "dup", "d", kStamp);            // 4 -> will claim Id 1
  std::string a = b.Serialize();
  PatchU16(a, RecordAt(2), 1);  // slot 2 also says Id 1
  PatchU16(a, RecordAt(4), 1);  // slot 4 too
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(GetEntryKind(1), kEntryKindDirectory);
  EXPECT_EQ(Path(1), "\\first");
  EXPECT_EQ(Path(3), "\\first\\x");  // the parent link, too, takes slot 1
  EXPECT_EQ(GetEntryKind(2), 128);   // nobody holds Id 2 any more
}

TEST(Paths, FollowTheRulesForOddNamesAndParents) {
  ArchiveBuilder b;
  uint16_t dir = b.AddDirectory(0, "d");           // 1
  b.AddFile(dir, "f", "1", kStamp);                // 2
  b.AddFile(0, "g", "2", kStamp);                  // 3 -> parent set to file 2 below
  b.AddFile(0, "h", "3", kStamp);                  // 4 -> parent set to unknown 900
  b.AddFile(0, "long", "4", kStamp);               // 5 -> name length byte 255
  b.AddFile(dir, "e", "5", kStamp);                // 6 -> empty name, under d
  b.AddFile(0, "k", "6", kStamp);                  // 7 -> unknown kind 7, name still a segment
  b.AddFile(0, "c", "7", kStamp);                  // 8 -> parent 7
  std::string a = b.Serialize();
  PatchU16(a, RecordAt(3) + EntryRecord::kParentIdOffset, 2);
  PatchU16(a, RecordAt(4) + EntryRecord::kParentIdOffset, 900);
  PatchName(a, 5, std::string(232, 'n'), 255);
  PatchName(a, 6, "");
  a[RecordAt(7) + EntryRecord::kKindOffset] = 7;
  PatchU16(a, RecordAt(8) + EntryRecord::kParentIdOffset, 7);
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(Path(3), "\\d\\f\\g");                   // a file as parent still gives its name
  EXPECT_EQ(Path(4), "\\h");                         // an unknown parent ends the walk
  EXPECT_EQ(Path(5), "\\" + std::string(232, 'n'));  // 255 is cut to the field's 232
  EXPECT_EQ(Path(6), "\\d\\");                       // an empty name: two backslashes in a row...
  EXPECT_EQ(Path(8), "\\k\\c");
  EXPECT_EQ(GetEntryKind(7), 7);
  for (int32_t id : {1, 2, 3, 4, 5, 7, 8}) EXPECT_EQ(CheckEntryPath(id), PathSafety::kSafe) << id;
  EXPECT_EQ(CheckEntryPath(6), PathSafety::kEmptyName);
}

TEST(Paths, CyclesEndAfterEntryCountLevelsAndAreUnsafe) {
  ArchiveBuilder b;
  b.AddDirectory(0, "a");   // 1 -> parent 3
  b.AddDirectory(1, "b");   // 2
  b.AddDirectory(2, "c");   // 3
  b.AddFile(3, "f", "", kStamp);  // 4, hangs below the cycle
  b.AddDirectory(0, "s");   // 5 -> its own parent
  b.AddFile(0, "ok", "", kStamp);  // 6
  std::string a = b.Serialize();
  PatchU16(a, RecordAt(1) + EntryRecord::kParentIdOffset, 3);
  PatchU16(a, RecordAt(5) + EntryRecord::kParentIdOffset, 5);
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(Path(5), "\\s\\s\\s\\s\\s\\s");  // 6 levels: the entry count
  EXPECT_EQ(Path(4), "\\b\\c\\a\\b\\c\\f");
  for (int32_t id : {1, 2, 3, 4, 5}) EXPECT_EQ(CheckEntryPath(id), PathSafety::kCycle) << id;
  EXPECT_EQ(CheckEntryPath(6), PathSafety::kSafe);
}

TEST(Paths, AHeaderReadAgainNeverLetsAWalkOutgrowTheTable) {
  ArchiveBuilder b;
  b.AddDirectory(0, "s");
  std::string a = b.Serialize();
  PatchU16(a, RecordAt(1) + EntryRecord::kParentIdOffset, 1);  // its own parent
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  // A second header that claims the most entries, read without reloading the table.
  std::string header = a.substr(0, kArchivePrologueSize);
  PatchU16(header, ArchiveSignature::kSize, 65535);
  testing::ScratchFolder folder;
  testing::WriteWholeFile(folder / "h.vek", header);
  ArchiveFile file{&PlatformFileEdge(), kNoFile};
  ASSERT_TRUE(file.edge->OpenRead((folder / "h.vek").string().c_str(), &file.handle).ok());
  ASSERT_TRUE(ReadArchiveSignature(file).ok());
  ASSERT_TRUE(ReadArchiveHeader(file).ok());
  (void)file.edge->Close(file.handle);
  EXPECT_EQ(GetEntryCount(), 65535);
  EXPECT_EQ(Path(1).size(), 2u * kEntryTableCapacity);  // "\s" as often as the table has room
  EXPECT_EQ(CheckEntryPath(1), PathSafety::kCycle);
}

TEST(Paths, UnsafeNamesAnywhereOnThePathAreFlagged) {
  struct Case {
    std::string name;
    PathSafety expected;
  } cases[] = {
      {".", PathSafety::kDotName},
      {"..", PathSafety::kDotName},
      {"...", PathSafety::kDotName},
      {". .", PathSafety::kDotName},
      {" ", PathSafety::kDotName},
      {"a\\b", PathSafety::kForbiddenCharacter},
      {"\\", PathSafety::kForbiddenCharacter},
      {"a/b", PathSafety::kForbiddenCharacter},
      {"C:", PathSafety::kForbiddenCharacter},
      {"x:y", PathSafety::kForbiddenCharacter},
      {std::string("a\0b", 3), PathSafety::kForbiddenCharacter},
      {".hidden", PathSafety::kSafe},
      {"a..b", PathSafety::kSafe},
      {"Za\xBF\xF3\xB3\xE6", PathSafety::kSafe},
  };
  for (const Case& c : cases) {
    ArchiveBuilder b;
    uint16_t dir = b.AddDirectory(0, "dir");
    uint16_t mid = b.AddDirectory(dir, "mid");
    b.AddFile(mid, "leaf.txt", "x", kStamp);
    std::string a = b.Serialize();
    PatchName(a, 2, c.name);  // the unsafe name sits in the middle of the path
    LoadedArchive loaded(a);
    ASSERT_TRUE(loaded.load_error.ok());
    EXPECT_EQ(CheckEntryPath(1), PathSafety::kSafe);
    EXPECT_EQ(CheckEntryPath(2), c.expected) << "name: " << c.name;
    EXPECT_EQ(CheckEntryPath(3), c.expected) << "below name: " << c.name;
  }
}

TEST(Paths, PathsBeyondWhatThisPlatformCreatesAreFlagged) {
  // Directories of 232-byte names (233 bytes a level), then a file of a 232-letter
  // name whose letters take two UTF-8 bytes each (464 bytes: more than NAME_MAX).
  ArchiveBuilder b;
  uint16_t parent = 0;
  for (int level = 0; level < 150; ++level) parent = b.AddDirectory(parent, std::string(232, 'a' + level % 26));
  b.AddFile(0, std::string(232, '\xB3'), "", kStamp);  // "ł" 232 times
  LoadedArchive loaded(b.Serialize());
  ASSERT_TRUE(loaded.load_error.ok());
  const PathLimits& limits = PlatformPathLimits();
  const int32_t deepest_made = static_cast<int32_t>(limits.max_directory_path / 233);  // POSIX 17, Windows 1
  EXPECT_EQ(CheckEntryPath(deepest_made), PathSafety::kSafe);
  EXPECT_EQ(CheckEntryPath(deepest_made + 1), PathSafety::kTooLong);
  EXPECT_EQ(CheckEntryPath(150), PathSafety::kTooLong);
  EXPECT_EQ(CheckEntryPath(151), limits.utf8 ? PathSafety::kTooLong : PathSafety::kSafe);
  // With a destination, its length counts too.
  std::string destination(limits.max_directory_path - 233 * deepest_made, 'd');
  EXPECT_EQ(CheckEntryPathBelow(AnsiString(destination.c_str()), deepest_made), PathSafety::kSafe);
  destination += 'd';
  EXPECT_EQ(CheckEntryPathBelow(AnsiString(destination.c_str()), deepest_made), PathSafety::kTooLong);
}

TEST(Reading, ACutShortArchiveIsReadBeyondEndOfFile) {
  std::string a = SmallTree().Serialize();
  const size_t table_end = 56 + 5 * 256;
  struct Case {
    size_t length;
    uint32_t loaded;
  } cases[] = {{0, 0}, {7, 0}, {8, 0}, {55, 0}, {56 + 255, 0}, {56 + 256 * 3 + 10, 3}, {table_end - 1, 4}};
  for (const Case& c : cases) {
    LoadedArchive loaded(a.substr(0, c.length));
    EXPECT_EQ(loaded.load_error, InOutError(100)) << "cut at " << c.length;
    if (c.length >= 56) {
      EXPECT_EQ(GetLoadedEntryCount(), c.loaded);
      // Slots already read stay usable; the missing ones are never found.
      if (c.loaded >= 2) {
        EXPECT_EQ(Path(2), "\\docs");
      }
      EXPECT_EQ(GetEntryKind(5), 128);
    }
  }
  LoadedArchive whole_table(a.substr(0, table_end));  // data missing is not the reader's concern
  EXPECT_TRUE(whole_table.load_error.ok());
}

TEST(Reading, TablesBeyondTenThousandRecordsGrow) {
  ArchiveBuilder b;
  uint16_t dir = b.AddDirectory(0, "many");
  for (int i = 0; i < 12000; ++i) b.AddFile(dir, "f" + std::to_string(i), "", kStamp);
  LoadedArchive loaded(b.Serialize());
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(GetEntryCount(), 12001);
  EXPECT_EQ(GetLoadedEntryCount(), 12001u);
  EXPECT_EQ(Path(12001), "\\many\\f11999");
  EXPECT_EQ(GetEntryKind(10001), kEntryKindFile);
}

TEST(Reading, AFullTableLoadsAndResolvesEveryPathInLinearTime) {
  // 65,535 entries: 255 directories of 256 files each, the deepest 3 levels down.
  ArchiveBuilder b;
  uint16_t top = b.AddDirectory(0, "top");
  uint16_t mid = b.AddDirectory(top, "mid");
  while (b.entries().size() < 65535) {
    uint16_t d = b.AddDirectory(mid, "d" + std::to_string(b.entries().size()));
    for (int i = 0; i < 255 && b.entries().size() < 65535; ++i) b.AddFile(d, "file" + std::to_string(i), "", kStamp);
  }
  std::string a = b.Serialize();
  auto started = std::chrono::steady_clock::now();
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  size_t total = 0;
  for (int32_t id = 1; id <= 65535; ++id) {
    total += GetEntryPath(id).size();
    ASSERT_EQ(CheckEntryPath(id), PathSafety::kSafe);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  RecordProperty("seconds", std::to_string(seconds));
  printf("65,535 entries loaded and every path built in %.3f s\n", seconds);
  EXPECT_GT(total, 65535u * 10);
  EXPECT_EQ(Path(65535).substr(0, 9), "\\top\\mid\\");
}

}  // namespace
}  // namespace vek
