// Compressed archives: the same bytes whatever the number of threads, only what
// deflate shrinks deflated, and streams that do not give exactly the recorded size
// (inflation bombs) refused, with nothing beyond that size written and nothing left
// under the file's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "check.h"
#include "crc32.h"
#include "deflater.h"
#include "extension.h"
#include "extract.h"
#include "extractor.h"
#include "inflate.h"
#include "open.h"
#include "testsupport.h"
#include "vekbuild.h"

namespace vek {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

// Lines of text, which deflate well, and bytes that do not.
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

// \text.htm (1, deflated), \img (2), \img\noise.gif (3) and \img\tiny.txt (4) stored,
// \more.htm (5, deflated), \empty (6).
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

std::string Compressed(unsigned threads) {
  build::ArchiveOptions options;
  options.compress_level = build::kDefaultCompressLevel;
  options.threads = threads;
  return MixedTree().Serialize(options);
}

// The kinds as the table holds them (the reader inflates it).
std::vector<uint8_t> Kinds(const std::string& archive) {
  testing::LoadedArchive loaded(archive);
  EXPECT_FALSE(loaded.load_error);
  std::vector<uint8_t> kinds;
  for (uint32_t slot = 1; slot <= loaded.reader.GetLoadedEntryCount(); ++slot) {
    kinds.push_back(loaded.reader.GetSlotRecord(slot)[EntryRecord::kKindOffset]);
  }
  return kinds;
}

TEST(Compression, TheSameBytesForAnyThreadCountAndOnlyWhatShrinksDeflated) {
  const std::string one = Compressed(1);
  EXPECT_EQ(Compressed(2), one);
  EXPECT_EQ(Compressed(3), one);
  EXPECT_EQ(Kinds(one), (std::vector<uint8_t>{kEntryKindCompressed, kEntryKindDirectory, kEntryKindFile, kEntryKindFile,
                                         kEntryKindCompressed, kEntryKindFile}));
  EXPECT_EQ(one.substr(ArchiveSignature::kTailOffset, 2), std::string("\0\2", 2));
  EXPECT_LT(one.size(), MixedTree().Serialize().size() / 4);
}

// Sums what is written to each file, and keeps the sizes of the files removed.
class CountingEdge final : public FileEdge {
 public:
  Error OpenRead(const char* path, FileHandle* file) override { return inner_.OpenRead(path, file); }
  Error Create(const char* path, FileHandle* file) override { return inner_.Create(path, file); }
  Error Seek(FileHandle file, int64_t offset) override { return inner_.Seek(file, offset); }
  Error Read(FileHandle file, void* buffer, uint32_t count, uint32_t* done) override {
    return inner_.Read(file, buffer, count, done);
  }
  Error Write(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) override {
    Error error = inner_.Write(file, buffer, count, done);
    written += *done;
    return error;
  }
  Error Close(FileHandle file) override { return inner_.Close(file); }
  Error RemoveFile(const char* path) override {
    removed = true;
    return inner_.RemoveFile(path);
  }
  bool GetAttributes(const char* path, uint32_t* attributes) override { return inner_.GetAttributes(path, attributes); }
  Error MakeDirectory(const char* path) override { return inner_.MakeDirectory(path); }
  bool SetAttributes(const char* path, uint32_t attributes) override { return inner_.SetAttributes(path, attributes); }
  bool SetLastWriteTime(const char* path, uint32_t stamp) override { return inner_.SetLastWriteTime(path, stamp); }
  char Separator() const override { return inner_.Separator(); }
  uint64_t written = 0;
  bool removed = false;

 private:
  FileEdge& inner_ = PlatformFileEdge();
};

TEST(Compression, AStreamThatDoesNotGiveTheRecordedSizeIsRefused) {
  const std::string sound = Compressed(1);
  const size_t block = sound.size() - ExtensionFooter::kSize - ExtensionBlockSize(6);
  const uint32_t real = 100000;  // text.htm's size
  struct Case {
    const char* what;
    uint32_t recorded;  // text.htm's original size in the block
  } cases[] = {
      {"sound", real},
      {"the stream gives more", real - 1000},
      {"the stream gives one byte more", real - 1},
      {"the stream gives fewer", real + 1},
      {"recorded far beyond the data", 0x7FFFFFFFu},
      {"recorded as empty", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder folder;
    std::string bytes = sound;
    auto* b = reinterpret_cast<unsigned char*>(bytes.data() + block);
    StoreU32(ExtensionRecordAt(b, 1) + ExtensionRecord::kOriginalSizeOffset, c.recorded);
    SealExtensionBlock(b, ExtensionBlockSize(6));  // a block as its packer made it
    const fs::path file = folder / "bomb.vek";
    testing::WriteWholeFile(file, bytes);
    const bool bad = c.recorded != real;

    tools::OpenedArchive archive;
    std::string error;
    ASSERT_TRUE(tools::OpenArchive(file.string(), &archive, &error)) << error;
    std::vector<tools::Problem> problems = tools::CheckArchive(archive);
    tools::CheckFileData(archive, &problems);
    tools::CloseArchive(&archive);
    ASSERT_EQ(problems.size(), bad ? 1u : 0u);
    if (bad) {
      EXPECT_EQ(problems[0].text, "entry 1 (\\text.htm): The compressed data is invalid");
    }

    EXPECT_EQ(tools::ExtractCommand(file.string(), (folder / "out").string(), false), bad ? 1 : 0);
    EXPECT_EQ(fs::exists(folder / "out" / "text.htm"), !bad);
    if (!bad) {
      const build::ArchiveBuilder tree = MixedTree();
      for (const char* name : {"text.htm", "img/noise.gif", "img/tiny.txt", "more.htm", "empty"}) {
        const auto& entries = tree.entries();
        const auto it = std::find_if(entries.begin(), entries.end(),
                                     [&](const build::Entry& e) { return fs::path(name).filename() == e.name; });
        EXPECT_EQ(testing::ReadWholeFile(folder / "out" / name), it->data) << name;
      }
    }

    // Never more than the recorded size reaches the file, which does not stay.
    CountingEdge edge;
    FileHandle handle = kNoFile;
    ASSERT_FALSE(edge.OpenRead(file.string().c_str(), &handle));
    ArchiveReader reader;
    ASSERT_FALSE(reader.Open(edge, handle, 0, {static_cast<uint32_t>(block), static_cast<uint32_t>(block) + ExtensionBlockSize(6)}));
    ASSERT_FALSE(ForceDestination(AnsiString(folder.destination("core").c_str()), edge));
    const Error extracted = ExtractEntry(reader, 1, AnsiString(folder.destination("core").c_str()), DataCheck::kTrusted);
    EXPECT_EQ(extracted, bad ? GeneralError(kBadCompressedData) : NoError());
    EXPECT_LE(edge.written, c.recorded);
    EXPECT_EQ(edge.removed, bad);
    EXPECT_EQ(fs::exists(folder / "core" / "text.htm"), !bad);
  }
}

// A byte flipped in a deflated file's stored bytes: whatever its stream then does,
// vek extract names the file damaged and leaves nothing of it.
TEST(Compression, ADamagedStreamIsDamagedData) {
  ScratchFolder folder;
  std::string bytes = Compressed(1);
  const size_t block = bytes.size() - ExtensionFooter::kSize - ExtensionBlockSize(6);
  const size_t data = kArchivePrologueSize;  // text.htm's stream, first in the data area (the table follows it)
  for (size_t at : {data + 1, data + 200, data + 201}) bytes[at] = static_cast<char>(bytes[at] ^ 0x21);
  testing::WriteWholeFile(folder / "damaged.vek", bytes);
  FileHandle handle = kNoFile;
  FileEdge& edge = PlatformFileEdge();
  ASSERT_FALSE(edge.OpenRead((folder / "damaged.vek").string().c_str(), &handle));
  ArchiveReader reader;
  ASSERT_FALSE(reader.Open(edge, handle, 0, {static_cast<uint32_t>(block), static_cast<uint32_t>(block) + ExtensionBlockSize(6)}));
  const AnsiString destination(folder.destination().c_str());
  EXPECT_EQ(ExtractEntry(reader, 1, destination, DataCheck::kVerify), GeneralError(kDataDamaged));
  EXPECT_FALSE(fs::exists(folder / "text.htm"));
}

// The archive with its table replaced as a packer would write it, the block sealed to
// match: stored after the header (as vekpack wrote compressed archives before it
// deflated the table), or the given stream after the data.
std::string WithTable(const std::string& archive, const std::string& table, bool stream) {
  const auto* header = reinterpret_cast<const unsigned char*>(archive.data() + ArchiveSignature::kSize);
  const uint32_t at = LoadU32(header + ArchiveHeader::kTableStreamAtOffset);
  const uint32_t n = LoadU16(header + ArchiveHeader::kEntryCountOffset);
  std::string out = archive.substr(0, kArchivePrologueSize);
  testing::PatchU32(out, ArchiveSignature::kSize + ArchiveHeader::kTableStreamSizeOffset, stream ? table.size() : 0);
  testing::PatchU32(out, ArchiveSignature::kSize + ArchiveHeader::kTableStreamAtOffset, stream ? at : 0);
  out += stream ? archive.substr(kArchivePrologueSize, at) + table : table + archive.substr(kArchivePrologueSize, at);
  const uint32_t crc = Crc32(Crc32(0, out.data(), kArchivePrologueSize), table.data(), table.size());
  std::string block = archive.substr(archive.size() - ExtensionFooter::kSize - ExtensionBlockSize(n));
  auto* b = reinterpret_cast<unsigned char*>(block.data());
  StoreU32(b + ExtensionHeader::kFlagsOffset, ExtensionFlags(b) & ~(stream ? 0 : kExtensionTableDeflated));
  StoreU32(b + ExtensionHeader::kPrologueCrcOffset, crc);
  SealExtensionBlock(b, ExtensionBlockSize(n));
  return out + block;
}

// The table is deflated after the data; a stream that is damaged, cut short, longer
// than any table's, or that gives more or fewer than the table's 6 records is a
// damaged archive for the reader and vek test, and nothing of it is loaded. An
// archive of an earlier vekpack, its table stored, reads as before.
TEST(Compression, TheTableIsAStreamThatMustGiveExactlyTheRecords) {
  const std::string sound = Compressed(1);
  const auto* header = reinterpret_cast<const unsigned char*>(sound.data() + ArchiveSignature::kSize);
  const uint32_t size = LoadU32(header + ArchiveHeader::kTableStreamSizeOffset);
  const size_t stream = kArchivePrologueSize + LoadU32(header + ArchiveHeader::kTableStreamAtOffset);
  std::string table;
  {
    testing::LoadedArchive loaded(sound);
    ASSERT_FALSE(loaded.load_error);
    ASSERT_EQ(loaded.reader.TableStreamSize(), size);
    EXPECT_EQ(loaded.reader.DataStart(), kArchivePrologueSize);
    table.assign(reinterpret_cast<const char*>(loaded.reader.GetSlotRecord(1)), 6 * EntryRecord::kSize);
  }
  EXPECT_LT(size, table.size() / 4);
  auto deflated = [](const std::string& bytes) {
    std::string out;
    EXPECT_TRUE(build::Deflater(9).Compress(bytes.data(), bytes.size(), bytes.size() + 64, &out));
    return out;
  };
  auto flip = [](std::string a, size_t at) { return a[at] = static_cast<char>(a[at] ^ 0x40), a; };
  std::string huge = sound;
  testing::PatchU32(huge, ArchiveSignature::kSize + ArchiveHeader::kTableStreamSizeOffset, TableStreamLimit(6) + 1);
  struct Case {
    const char* what;
    std::string bytes;
    Error error;
  } cases[] = {
      {"sound", sound, NoError()},
      {"stored, as an earlier vekpack wrote it", WithTable(sound, table, false), NoError()},
      {"a byte of the stream flipped", flip(sound, stream + size / 2), GeneralError(kArchiveDamaged)},
      {"its checksum flipped", flip(sound, stream + size - 1), GeneralError(kArchiveDamaged)},
      {"cut short", WithTable(sound, sound.substr(stream, size - 3), true), GeneralError(kArchiveDamaged)},
      {"longer than any table's", huge, GeneralError(kArchiveDamaged)},
      {"the file ends inside it", sound.substr(0, stream + size / 2), InOutError(kIoReadBeyondEnd)},
      {"a record too many", WithTable(sound, deflated(table + table.substr(0, EntryRecord::kSize)), true),
       GeneralError(kArchiveDamaged)},
      {"a byte too few", WithTable(sound, deflated(table.substr(0, table.size() - 1)), true),
       GeneralError(kArchiveDamaged)},
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
    EXPECT_TRUE(problems.empty()) << problems[0].text;
    tools::CloseArchive(&archive);
    EXPECT_EQ(tools::ExtractCommand((folder / "t.vek").string(), (folder / "out").string(), false), 0);
    EXPECT_EQ(testing::ReadWholeFile(folder / "out" / "more.htm"), MixedTree().entries()[4].data);
  }
}

}  // namespace
}  // namespace vek
