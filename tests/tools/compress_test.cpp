// Solid archives: the same bytes whatever the number of threads, only what LZMA
// shrinks in blocks, blocks of the size asked for in table order, and blocks or a
// table whose streams do not give exactly the recorded bytes refused, with nothing
// beyond the recorded sizes written and no damaged file left under its name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "check.h"
#include "crc32.h"
#include "extension.h"
#include "extract.h"
#include "extractor.h"
#include "lzmaenc.h"
#include "open.h"
#include "solid.h"
#include "testsupport.h"
#include "vekbuild.h"

namespace vek {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

// Lines of text, which compress well, and bytes that do not.
std::string Text(size_t length, uint32_t seed) {
  std::string s;
  while (s.size() < length) s += "<p>Line " + std::to_string(seed++ % 977) + " of a page that repeats itself.</p>\n";
  s.resize(length);
  return s;
}
std::string Noise(size_t length, uint32_t seed) {
  std::string s(length, '\0');
  for (char& c : s) {
    seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
    c = static_cast<char>(seed);
  }
  return s;
}

// \text.htm (1), \img (2), \img\noise.gif (3, stored), \img\tiny.txt (4), \more.htm
// (5), \empty (6, stored).
build::ArchiveBuilder MixedTree() {
  const uint32_t stamp = testing::DosStamp(2003, 4, 5, 6, 7, 8);
  build::ArchiveBuilder b;
  b.AddFile(0, "text.htm", Text(100000, 1), stamp);
  const uint16_t d = b.AddDirectory(0, "img");
  b.AddFile(d, "noise.gif", Noise(50000, 7), stamp);
  b.AddFile(d, "tiny.txt", "tiny", stamp);
  b.AddFile(0, "more.htm", Text(300000, 5), stamp);
  b.AddFile(0, "empty", "", stamp);
  return b;
}
const char* const kMixedPaths[] = {"text.htm", "img/noise.gif", "img/tiny.txt", "more.htm", "empty"};
const std::string& MixedData(const char* path) {
  static const build::ArchiveBuilder tree = MixedTree();
  for (const build::Entry& e : tree.entries()) {
    if (fs::path(path).filename() == e.name) return e.data;
  }
  static const std::string none;
  return none;
}

// Two blocks with 150,000 bytes at most: text.htm and tiny.txt, then more.htm alone.
constexpr uint64_t kTwoBlocks = 150000;

std::string Compressed(unsigned threads, uint64_t block_size = build::kDefaultSolidBlockSize) {
  build::ArchiveOptions options;
  options.compress_level = build::kDefaultCompressLevel;
  options.solid_block_size = block_size;
  options.threads = threads;
  return MixedTree().Serialize(options);
}

// A bare archive's parts, and the same archive with its solid index replaced as a
// packer would write it: the checksum block sealed to match.
struct Bare {
  std::string bytes;
  static constexpr uint32_t kEntries = 6;
  size_t block() const { return bytes.size() - ExtensionFooter::kSize - ExtensionBlockSize(kEntries); }
  size_t index() const {
    return kArchivePrologueSize + LoadU32(reinterpret_cast<const unsigned char*>(bytes.data()) +
                                          ArchiveSignature::kSize + ArchiveHeader::kSolidIndexAtOffset);
  }
  std::string Index() const { return bytes.substr(index(), block() - index()); }
  size_t Record(uint32_t b) const { return index() + SolidIndexHeader::kSize + b * SolidBlockRecord::kSize; }
  Bare WithIndex(const std::string& index) const {
    Bare out{bytes.substr(0, this->index()) + index + bytes.substr(block())};
    auto* b = reinterpret_cast<unsigned char*>(out.bytes.data() + out.block());
    const uint32_t crc = Crc32(Crc32(0, out.bytes.data(), kArchivePrologueSize), index.data(), index.size());
    StoreU32(b + ExtensionHeader::kPrologueCrcOffset, crc);
    SealExtensionBlock(b, ExtensionBlockSize(kEntries));
    return out;
  }
};

std::string PathsOf(const std::vector<tools::Problem>& problems) {
  std::string all;
  for (const tools::Problem& p : problems) all += p.text + "\n";
  return all;
}

TEST(Compression, TheSameBytesForAnyThreadCountAndOnlyWhatShrinksInBlocks) {
  for (uint64_t block_size : {build::kDefaultSolidBlockSize, kTwoBlocks, uint64_t{0}}) {
    SCOPED_TRACE(block_size);
    const std::string one = Compressed(1, block_size);
    EXPECT_EQ(Compressed(2, block_size), one);
    EXPECT_EQ(Compressed(3, block_size), one);
    EXPECT_EQ(one.substr(ArchiveSignature::kTailOffset, 2), std::string("\0\2", 2));
    EXPECT_LT(one.size(), MixedTree().Serialize().size() / 4);
    ScratchFolder folder;
    testing::WriteWholeFile(folder / "a.vek", one);
    tools::OpenedArchive archive;
    std::string error;
    ASSERT_TRUE(tools::OpenArchive((folder / "a.vek").string(), &archive, &error)) << error;
    const ArchiveReader& reader = archive.reader;
    EXPECT_EQ(reader.SolidBlockCount(), block_size == 0 ? 3u : block_size == kTwoBlocks ? 2u : 1u);
    std::vector<uint8_t> methods;
    for (int32_t id = 1; id <= 6; ++id) {
      ArchiveEntry entry;
      reader.FindEntry(id, &entry);
      methods.push_back(reader.GetSlotRecord(id)[EntryRecord::kKindOffset] == kEntryKindCompressed ? entry.method
                                                                                                   : entry.kind);
    }
    EXPECT_EQ(methods, (std::vector<uint8_t>{kMethodLzmaSolid, kEntryKindDirectory, kEntryKindFile, kMethodLzmaSolid,
                                             kMethodLzmaSolid, kEntryKindFile}));
  }
}

// In table order: text.htm and tiny.txt share the first block; a file never splits, so
// more.htm (300,000 bytes) has the next of its own.
TEST(Compression, BlocksHoldFilesInTableOrderUpToTheirSize) {
  testing::LoadedArchive loaded(Compressed(1, kTwoBlocks));
  ASSERT_FALSE(loaded.load_error);
  struct Place {
    int32_t id;
    uint32_t block, offset;
  } places[] = {{1, 0, 0}, {4, 0, 100000}, {5, 1, 0}};
  for (const Place& p : places) {
    const unsigned char* record = loaded.reader.GetSlotRecord(static_cast<uint32_t>(p.id));
    EXPECT_EQ(LoadU32(record + EntryRecord::kDataOffsetOffset), p.offset) << p.id;
  }
  EXPECT_EQ(loaded.reader.GetSolidBlock(0).decoded_size, 100004u);
  EXPECT_EQ(loaded.reader.GetSolidBlock(1).decoded_size, 300000u);
}

// The first block (text.htm, tiny.txt) made to lie about its stream, its record
// sealed as a packer would: vek test names the block's files, vek extract fails and
// leaves none of them wrong, and never more than the recorded sizes is written.
TEST(Compression, ABlockWhoseStreamDoesNotGiveItsFilesIsDamage) {
  const Bare sound{Compressed(1, kTwoBlocks)};
  const size_t record = sound.Record(0) - sound.index();
  const std::string index = sound.Index();
  auto with = [&](size_t field, uint32_t value) {
    std::string i = index;
    StoreU32(reinterpret_cast<unsigned char*>(&i[record + field]), value);
    return i;
  };
  auto field = [&](size_t at) { return LoadU32(reinterpret_cast<const unsigned char*>(index.data() + record + at)); };
  const uint32_t stored = field(SolidBlockRecord::kStoredSizeOffset);
  const uint32_t decoded = field(SolidBlockRecord::kDecodedSizeOffset);
  // Cut short by 8 bytes, its checksum that of what is left.
  std::string cut = with(SolidBlockRecord::kStoredSizeOffset, stored - 8);
  StoreU32(
      reinterpret_cast<unsigned char*>(&cut[record + SolidBlockRecord::kCrcOffset]),
      Crc32(0, sound.bytes.data() + kArchivePrologueSize + field(SolidBlockRecord::kStoredOffsetOffset), stored - 8));
  std::string huge = index;
  StoreU32(reinterpret_cast<unsigned char*>(&huge[record + SolidBlockRecord::kPropsOffset + 1]), 1u << 30);
  std::string wrong_props = index;
  wrong_props[record + SolidBlockRecord::kPropsOffset] = static_cast<char>(9 * 5 * 5 - 1);  // lc 8

  struct Case {
    const char* what;
    std::string index;
    std::vector<const char*> problems;  // in vek test's lines, in order
    std::vector<std::string> left;      // what vek extract leaves of kMixedPaths
    std::vector<std::string> decoded;   // what decoding the block whole leaves of it
  } cases[] = {
      {"sound",
       index,
       {},
       {"text.htm", "img/noise.gif", "img/tiny.txt", "more.htm", "empty"},
       {"text.htm", "img/tiny.txt"}},
      {"cut short",
       cut,
       {"entry 1 (\\text.htm): The compressed data is invalid", "entry 4 (\\img\\tiny.txt): The compressed"},
       {"img/noise.gif", "empty"},
       {}},
      // Each file whole and sound: they stay, and the block is named damaged.
      {"ends before its decoded size",
       with(SolidBlockRecord::kDecodedSizeOffset, decoded + 1),
       {"block 1: The compressed data is invalid"},
       {"text.htm", "img/noise.gif", "img/tiny.txt", "empty"},
       {"text.htm", "img/tiny.txt"}},
      // tiny.txt now reaches past the block: its record is damaged, where vek extract stops.
      {"runs past its decoded size",
       with(SolidBlockRecord::kDecodedSizeOffset, decoded - 1),
       {"entry 4 (\\img\\tiny.txt): The archive is damaged", "block 1: The compressed data is invalid"},
       {"img/noise.gif"},
       {"text.htm"}},
      {"a dictionary above the limit",
       huge,
       {"entry 1 (\\text.htm): The compressed data is invalid", "entry 4 (\\img\\tiny.txt): The compressed"},
       {"img/noise.gif", "empty"},
       {}},
      {"props that no stream has",
       wrong_props,
       {"entry 1 (\\text.htm): The compressed data is invalid", "entry 4 (\\img\\tiny.txt): The compressed"},
       {"img/noise.gif", "empty"},
       {}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder folder;
    const fs::path file = folder / "bomb.vek";
    testing::WriteWholeFile(file, sound.WithIndex(c.index).bytes);

    tools::OpenedArchive archive;
    std::string error;
    ASSERT_TRUE(tools::OpenArchive(file.string(), &archive, &error)) << error;
    std::vector<tools::Problem> problems = tools::CheckArchive(archive);
    tools::CheckFileData(archive, &problems);
    tools::CloseArchive(&archive);
    ASSERT_EQ(problems.size(), c.problems.size()) << PathsOf(problems);
    for (size_t i = 0; i < problems.size(); ++i) {
      EXPECT_EQ(problems[i].text.find(c.problems[i]), 0u) << problems[i].text;
    }

    const bool bad = !c.problems.empty();
    EXPECT_EQ(tools::ExtractCommand(file.string(), (folder / "out").string(), false), bad ? 1 : 0);
    // What is left under a file's name is that file.
    auto left = [&](const fs::path& out) {
      std::vector<std::string> found;
      for (const char* path : kMixedPaths) {
        if (!fs::exists(out / path)) continue;
        found.push_back(path);
        EXPECT_EQ(testing::ReadWholeFile(out / path), MixedData(path)) << path;
      }
      return found;
    };
    EXPECT_EQ(left(folder / "out"), c.left);

    // Decoded whole, the block never writes more than its files' recorded sizes.
    testing::CountingEdge edge;
    FileHandle handle = kNoFile;
    ASSERT_FALSE(edge.OpenRead(file.string().c_str(), &handle));
    ArchiveReader reader;
    const uint32_t block = static_cast<uint32_t>(sound.block());
    ASSERT_FALSE(reader.Open(edge, handle, 0, ExtensionSpan(block, block + ExtensionBlockSize(Bare::kEntries))));
    const AnsiString destination(folder.destination("core").c_str());
    ASSERT_FALSE(ForceDestination(destination, edge));
    ASSERT_FALSE(ExtractEntry(reader, edge, 2, destination));
    SolidPlan plan;
    ASSERT_TRUE(plan.Make(reader));
    uint32_t n = 0;
    const uint32_t* ids = plan.Files(0, &n);
    BlockFiles shared;
    BlockExtraction out(reader, edge, destination, shared);
    uint32_t slot = 0;
    EXPECT_EQ(!!DecodeBlock(reader, reader.file(), 0, ids, n, out, &slot), bad);
    EXPECT_LE(edge.written, 100004u);
    EXPECT_EQ(left(folder / "core"), c.decoded);
  }
}

// The table is an LZMA stream in the solid index; one that is damaged, cut short,
// longer than any table's, or that gives more or fewer than the table's 6 records is
// a damaged archive for the reader and vek, and nothing of it is loaded.
TEST(Compression, TheTableIsAStreamThatMustGiveExactlyTheRecords) {
  const Bare sound{Compressed(1)};
  const std::string index = sound.Index();
  const size_t stream = SolidIndexHeader::kSize + SolidBlockRecord::kSize;  // one block
  std::string table;
  {
    testing::LoadedArchive loaded(sound.bytes);
    ASSERT_FALSE(loaded.load_error);
    EXPECT_EQ(loaded.reader.DataStart(), kArchivePrologueSize);
    ASSERT_EQ(loaded.reader.SolidIndexSize(), index.size());
    table.assign(reinterpret_cast<const char*>(loaded.reader.GetSlotRecord(1)), 6 * EntryRecord::kSize);
  }
  EXPECT_LT(index.size() - stream, table.size() / 4);
  // The index with this table stream.
  auto with_table = [&](const std::string& records) {
    build::LzmaOptions options;
    unsigned char props[kLzmaPropsSize];
    const auto raw =
        build::LzmaEncodeBlock(reinterpret_cast<const unsigned char*>(records.data()), records.size(), options, props);
    std::string i = index.substr(0, stream) + std::string(reinterpret_cast<char*>(props), kLzmaPropsSize) +
                    std::string(raw.begin(), raw.end());
    StoreU32(reinterpret_cast<unsigned char*>(&i[SolidIndexHeader::kTableStreamSizeOffset]),
             static_cast<uint32_t>(i.size() - stream));
    return sound.WithIndex(i).bytes;
  };
  auto set = [&](size_t at, uint32_t value) {
    std::string i = index;
    StoreU32(reinterpret_cast<unsigned char*>(&i[at]), value);
    return sound.WithIndex(i).bytes;
  };
  std::string zero = index;
  zero[stream + kLzmaPropsSize] = 1;  // a stream's first byte is 0
  struct Case {
    const char* what;
    std::string bytes;
    Error error;
  } cases[] = {
      {"sound", sound.bytes, NoError()},
      {"re-encoded", with_table(table), NoError()},
      {"its first byte", sound.WithIndex(zero).bytes, GeneralError(kArchiveDamaged)},
      {"cut short", set(SolidIndexHeader::kTableStreamSizeOffset, static_cast<uint32_t>(index.size() - stream - 3)),
       GeneralError(kArchiveDamaged)},
      {"longer than any table's", set(SolidIndexHeader::kTableStreamSizeOffset, SolidTableStreamLimit(6) + 1),
       GeneralError(kArchiveDamaged)},
      {"more blocks than entries", set(SolidIndexHeader::kBlockCountOffset, 7), GeneralError(kArchiveDamaged)},
      {"the file ends inside it", sound.bytes.substr(0, sound.index() + index.size() / 2),
       InOutError(kIoReadBeyondEnd)},
      {"a record too many", with_table(table + table.substr(0, EntryRecord::kSize)), GeneralError(kArchiveDamaged)},
      {"a byte too few", with_table(table.substr(0, table.size() - 1)), GeneralError(kArchiveDamaged)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::LoadedArchive loaded(c.bytes);
    EXPECT_EQ(loaded.load_error, c.error);
    EXPECT_EQ(loaded.reader.GetLoadedEntryCount(), c.error ? 0u : 6u);

    ScratchFolder folder;
    testing::WriteWholeFile(folder / "t.vek", c.bytes);
    tools::OpenedArchive archive;
    std::string error;
    const bool opened = tools::OpenArchive((folder / "t.vek").string(), &archive, &error);
    EXPECT_EQ(opened, !c.error) << error;
    if (!opened) continue;
    std::vector<tools::Problem> problems = tools::CheckArchive(archive);
    tools::CheckFileData(archive, &problems);
    EXPECT_TRUE(problems.empty()) << PathsOf(problems);
    tools::CloseArchive(&archive);
    EXPECT_EQ(tools::ExtractCommand((folder / "t.vek").string(), (folder / "out").string(), false), 0);
    EXPECT_EQ(testing::ReadWholeFile(folder / "out" / "more.htm"), MixedData("more.htm"));
  }
}

// Blocks that overlap each other, or reach the index, are a damaged index: the
// archive opens, and vek refuses it whole.
TEST(Compression, BlocksOutsideTheirPlaceDamageTheIndex) {
  const Bare sound{Compressed(1, kTwoBlocks)};
  const std::string index = sound.Index();
  const size_t second = SolidIndexHeader::kSize + SolidBlockRecord::kSize;
  auto set = [&](size_t at, uint32_t value) {
    std::string i = index;
    StoreU32(reinterpret_cast<unsigned char*>(&i[at]), value);
    return sound.WithIndex(i).bytes;
  };
  const uint32_t first_end = LoadU32(reinterpret_cast<const unsigned char*>(index.data() + SolidIndexHeader::kSize +
                                                                            SolidBlockRecord::kStoredSizeOffset));
  const std::string cases[] = {
      set(second + SolidBlockRecord::kStoredOffsetOffset, first_end - 1),      // into the first
      set(second + SolidBlockRecord::kStoredSizeOffset, 0x7FFFFFFF),           // past the index
      set(second + SolidBlockRecord::kDecodedSizeOffset, kOriginalSizeLimit),  // 2 GiB decoded
  };
  for (const std::string& bytes : cases) {
    ScratchFolder folder;
    testing::WriteWholeFile(folder / "t.vek", bytes);
    tools::OpenedArchive archive;
    std::string error;
    ASSERT_TRUE(tools::OpenArchive((folder / "t.vek").string(), &archive, &error)) << error;
    EXPECT_EQ(archive.reader.extension(), ExtensionState::kIndexDamaged);
    tools::CloseArchive(&archive);
    EXPECT_EQ(tools::ExtractCommand((folder / "t.vek").string(), (folder / "out").string(), false), 1);
    EXPECT_FALSE(fs::exists(folder / "out" / "more.htm"));
  }
}

}  // namespace
}  // namespace vek
