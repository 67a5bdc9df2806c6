// The archive layout as written by the builder and read back, lookups, path building
// and the unsafe-entry rules, through the platform's real file edge.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memoryedge.h"
#include "rnvek100.h"
#include "testsupport.h"
#include "vekbuild.h"
#include "winpath.h"

namespace vek {
namespace {

using build::ArchiveBuilder;
using testing::DosStamp;
using testing::LoadedArchive;
using testing::PatchName;
using testing::PatchU16;
using testing::PatchU32;
using testing::RecordAt;

using testing::kStamp;

// \readme.txt, \docs, \docs\a.htm, \docs\img, \docs\img\b.gif
ArchiveBuilder SmallTree() {
  ArchiveBuilder b;
  b.AddFile(0, "readme.txt", "hello", kStamp);
  uint16_t docs = b.AddDirectory(0, "docs");
  b.AddFile(docs, "a.htm", std::string(40000, 'a'), kStamp + 1, kAttrArchive | kAttrReadOnly);
  uint16_t img = b.AddDirectory(docs, "img");
  b.AddFile(img, "b.gif", "GIF89a", kStamp + 2);
  return b;
}

std::string Path(const LoadedArchive& loaded, int32_t id) { return loaded.reader.GetEntryPath(id).c_str(); }

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
  EXPECT_EQ(loaded.reader.GetEntryCount(), 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(loaded.reader.signature()), 8), a.substr(0, 8));
  EXPECT_EQ(loaded.reader.GetEntryKind(2), kEntryKindDirectory);
  ArchiveEntry e;
  ASSERT_TRUE(loaded.reader.FindEntry(3, &e));
  EXPECT_EQ(std::string(e.name, e.name_length), "a.htm");
  EXPECT_EQ(e.parent_id, 2);
  EXPECT_EQ(e.attributes, kAttrArchive | kAttrReadOnly);
  EXPECT_EQ(e.size, 40000);
  ASSERT_TRUE(loaded.reader.FindEntry(5, &e));
  EXPECT_EQ(e.kind, kEntryKindFile);
  EXPECT_EQ(e.time_stamp, kStamp + 2);
  EXPECT_EQ(e.data_offset, 40005u);
  EXPECT_EQ(Path(loaded, 1), "\\readme.txt");
  EXPECT_EQ(Path(loaded, 5), "\\docs\\img\\b.gif");
}

TEST(Lookups, ReportNotFoundValuesForUnknownIdentifiers) {
  LoadedArchive loaded(SmallTree().Serialize());
  ASSERT_TRUE(loaded.load_error.ok());
  for (int32_t id : {0, 6, 65535, 65536, -1, 70000}) {
    EXPECT_EQ(loaded.reader.GetEntryKind(id), kEntryKindNotFound) << id;
    ArchiveEntry e;
    EXPECT_FALSE(loaded.reader.FindEntry(id, &e));
    EXPECT_EQ(e.kind, kEntryKindNotFound);
    EXPECT_EQ(e.name, nullptr);
    EXPECT_EQ(e.size, 0);
    EXPECT_EQ(Path(loaded, id), "");
  }
}

TEST(Lookups, CountZeroMakesEveryLookupMiss) {
  ArchiveBuilder empty;
  std::string a = empty.Serialize();
  ASSERT_EQ(a.size(), kArchivePrologueSize);
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(loaded.reader.GetEntryCount(), 0);
  EXPECT_EQ(loaded.reader.GetEntryKind(1), kEntryKindNotFound);
  EXPECT_EQ(Path(loaded, 1), "");
}

TEST(Lookups, LookupsAfterTheReaderIsClosedMiss) {
  LoadedArchive loaded(SmallTree().Serialize());
  ASSERT_TRUE(loaded.reader.Close().ok());
  EXPECT_EQ(loaded.reader.GetEntryKind(1), kEntryKindNotFound);
  EXPECT_EQ(Path(loaded, 5), "");
  EXPECT_EQ(loaded.reader.CheckEntryPath(5), PathSafety::kSafe);
}

// Each reader keeps its own table and its own memo of path checks.
TEST(Lookups, TwoReadersOpenAtOnceAnswerEachForItsOwnArchive) {
  ArchiveBuilder other;
  other.AddFile(other.AddDirectory(0, "dir"), "x", "", kStamp);
  std::string dot_dot = other.Serialize();
  PatchName(dot_dot, 1, "..");
  LoadedArchive small(SmallTree().Serialize());
  LoadedArchive unsafe(dot_dot);
  ASSERT_TRUE(small.load_error.ok() && unsafe.load_error.ok());
  EXPECT_EQ(unsafe.reader.CheckEntryPath(2), PathSafety::kDotName);
  EXPECT_EQ(small.reader.CheckEntryPath(2), PathSafety::kSafe);
  EXPECT_EQ(Path(small, 2), "\\docs");
  EXPECT_EQ(Path(unsafe, 2), "\\..\\x");
  EXPECT_EQ(small.reader.GetEntryCount(), 5);
  EXPECT_EQ(unsafe.reader.GetEntryKind(3), kEntryKindNotFound);
  ASSERT_TRUE(unsafe.reader.Close().ok());
  EXPECT_EQ(Path(small, 5), "\\docs\\img\\b.gif");
}

TEST(Lookups, TheLowerSlotWinsForDuplicateIdentifiers) {
  ArchiveBuilder b;
  b.AddDirectory(0, "first");        // 1
  b.AddDirectory(0, "second");       // 2
  b.AddFile(1, "x", "xx", kStamp);   // 3, parent 1
  b.AddFile(0, "dup", "d", kStamp);  // 4 -> will claim Id 1
  std::string a = b.Serialize();
  PatchU16(a, RecordAt(2), 1);  // slot 2 also says Id 1
  PatchU16(a, RecordAt(4), 1);  // slot 4 too
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(loaded.reader.GetEntryKind(1), kEntryKindDirectory);
  EXPECT_EQ(Path(loaded, 1), "\\first");
  EXPECT_EQ(Path(loaded, 3), "\\first\\x");                      // the parent link, too, takes slot 1
  EXPECT_EQ(loaded.reader.GetEntryKind(2), kEntryKindNotFound);  // nobody holds Id 2 any more
}

TEST(Paths, FollowTheRulesForOddNamesAndParents) {
  ArchiveBuilder b;
  uint16_t dir = b.AddDirectory(0, "d");  // 1
  b.AddFile(dir, "f", "1", kStamp);       // 2
  b.AddFile(0, "g", "2", kStamp);         // 3 -> parent set to file 2 below
  b.AddFile(0, "h", "3", kStamp);         // 4 -> parent set to unknown 900
  b.AddFile(0, "long", "4", kStamp);      // 5 -> name length byte 255
  b.AddFile(dir, "e", "5", kStamp);       // 6 -> empty name, under d
  b.AddFile(0, "k", "6", kStamp);         // 7 -> unknown kind 7, name still a segment
  b.AddFile(0, "c", "7", kStamp);         // 8 -> parent 7
  std::string a = b.Serialize();
  PatchU16(a, RecordAt(3) + EntryRecord::kParentIdOffset, 2);
  PatchU16(a, RecordAt(4) + EntryRecord::kParentIdOffset, 900);
  PatchName(a, 5, std::string(232, 'n'), 255);
  PatchName(a, 6, "");
  a[RecordAt(7) + EntryRecord::kKindOffset] = 7;
  PatchU16(a, RecordAt(8) + EntryRecord::kParentIdOffset, 7);
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(Path(loaded, 3), "\\d\\f\\g");                   // a file as parent still gives its name
  EXPECT_EQ(Path(loaded, 4), "\\h");                         // an unknown parent ends the walk
  EXPECT_EQ(Path(loaded, 5), "\\" + std::string(232, 'n'));  // 255 is cut to the field's 232
  EXPECT_EQ(Path(loaded, 6), "\\d\\");                       // an empty name: two backslashes in a row...
  EXPECT_EQ(Path(loaded, 8), "\\k\\c");
  EXPECT_EQ(loaded.reader.GetEntryKind(7), 7);
  for (int32_t id : {1, 2, 3, 4, 5, 7, 8}) EXPECT_EQ(loaded.reader.CheckEntryPath(id), PathSafety::kSafe) << id;
  EXPECT_EQ(loaded.reader.CheckEntryPath(6), PathSafety::kEmptyName);
}

TEST(Paths, CyclesEndAfterEntryCountLevelsAndAreUnsafe) {
  ArchiveBuilder b;
  b.AddDirectory(0, "a");          // 1 -> parent 3
  b.AddDirectory(1, "b");          // 2
  b.AddDirectory(2, "c");          // 3
  b.AddFile(3, "f", "", kStamp);   // 4, hangs below the cycle
  b.AddDirectory(0, "s");          // 5 -> its own parent
  b.AddFile(0, "ok", "", kStamp);  // 6
  std::string a = b.Serialize();
  PatchU16(a, RecordAt(1) + EntryRecord::kParentIdOffset, 3);
  PatchU16(a, RecordAt(5) + EntryRecord::kParentIdOffset, 5);
  LoadedArchive loaded(a);
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(Path(loaded, 5), "\\s\\s\\s\\s\\s\\s");  // 6 levels: the entry count
  EXPECT_EQ(Path(loaded, 4), "\\b\\c\\a\\b\\c\\f");
  for (int32_t id : {1, 2, 3, 4, 5}) EXPECT_EQ(loaded.reader.CheckEntryPath(id), PathSafety::kCycle) << id;
  EXPECT_EQ(loaded.reader.CheckEntryPath(6), PathSafety::kSafe);
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
    EXPECT_EQ(loaded.reader.CheckEntryPath(1), PathSafety::kSafe);
    EXPECT_EQ(loaded.reader.CheckEntryPath(2), c.expected) << "name: " << c.name;
    EXPECT_EQ(loaded.reader.CheckEntryPath(3), c.expected) << "below name: " << c.name;
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
  EXPECT_EQ(loaded.reader.CheckEntryPath(deepest_made), PathSafety::kSafe);
  EXPECT_EQ(loaded.reader.CheckEntryPath(deepest_made + 1), PathSafety::kTooLong);
  EXPECT_EQ(loaded.reader.CheckEntryPath(150), PathSafety::kTooLong);
  EXPECT_EQ(loaded.reader.CheckEntryPath(151), limits.utf8 ? PathSafety::kTooLong : PathSafety::kSafe);
  // With a destination, its length counts too.
  std::string destination(limits.max_directory_path - 233 * deepest_made, 'd');
  EXPECT_EQ(loaded.reader.CheckEntryPathBelow(AnsiString(destination.c_str()), deepest_made), PathSafety::kSafe);
  destination += 'd';
  EXPECT_EQ(loaded.reader.CheckEntryPathBelow(AnsiString(destination.c_str()), deepest_made), PathSafety::kTooLong);
}

// The archive cut at every length of its signature and header and on both sides of
// every record's end (in memory, behind a prefix that the start offset skips):
// whatever is cut short is "Read beyond end of file", and the records read until then
// answer lookups.
TEST(Reading, ACutShortArchiveIsReadBeyondEndOfFileAtEveryBoundary) {
  const std::string prefix(100, 'x');
  const std::string a = prefix + SmallTree().Serialize();
  const size_t table_end = kArchivePrologueSize + 5 * EntryRecord::kSize;
  std::vector<size_t> lengths;
  for (size_t length = 0; length <= kArchivePrologueSize; ++length) lengths.push_back(length);
  for (size_t end = kArchivePrologueSize + EntryRecord::kSize; end <= table_end; end += EntryRecord::kSize) {
    lengths.insert(lengths.end(), {end - 1, end, end + 1});
  }
  for (size_t length : lengths) {
    testing::MemoryFileEdge edge(reinterpret_cast<const unsigned char*>(a.data()), prefix.size() + length);
    FileHandle file = kNoFile;
    ASSERT_TRUE(edge.OpenRead("archive", &file).ok());
    ArchiveReader reader;
    const Error e = reader.Open(edge, file, static_cast<uint32_t>(prefix.size()));
    const uint32_t records = length < kArchivePrologueSize ? 0 : (length - kArchivePrologueSize) / EntryRecord::kSize;
    EXPECT_EQ(e, length >= table_end ? NoError() : InOutError(kIoReadBeyondEnd)) << length;
    EXPECT_EQ(reader.GetLoadedEntryCount(), records) << length;
    EXPECT_EQ(reader.GetEntryKind(2), records >= 2 ? kEntryKindDirectory : kEntryKindNotFound) << length;
    EXPECT_EQ(reader.GetEntryPath(3).c_str(), std::string(records >= 3 ? "\\docs\\a.htm" : "")) << length;
  }
}

TEST(Reading, TablesBeyondTenThousandRecordsGrow) {
  ArchiveBuilder b;
  uint16_t dir = b.AddDirectory(0, "many");
  for (int i = 0; i < 12000; ++i) b.AddFile(dir, "f" + std::to_string(i), "", kStamp);
  LoadedArchive loaded(b.Serialize());
  ASSERT_TRUE(loaded.load_error.ok());
  EXPECT_EQ(loaded.reader.GetEntryCount(), 12001);
  EXPECT_EQ(loaded.reader.GetLoadedEntryCount(), 12001u);
  EXPECT_EQ(Path(loaded, 12001), "\\many\\f11999");
  EXPECT_EQ(loaded.reader.GetEntryKind(10001), kEntryKindFile);
}

}  // namespace
}  // namespace vek
