// Compressed archives: the same bytes whatever the number of threads, only what
// deflate shrinks deflated, and streams that do not give exactly the recorded size
// (inflation bombs) refused, with nothing beyond that size written and nothing left
// under the file's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "check.h"
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

uint8_t KindAt(const std::string& archive, int slot) {
  return static_cast<uint8_t>(archive[kArchivePrologueSize + (slot - 1) * EntryRecord::kSize + EntryRecord::kKindOffset]);
}

TEST(Compression, TheSameBytesForAnyThreadCountAndOnlyWhatShrinksDeflated) {
  const std::string one = Compressed(1);
  EXPECT_EQ(Compressed(2), one);
  EXPECT_EQ(Compressed(3), one);
  std::vector<uint8_t> kinds;
  for (int slot = 1; slot <= 6; ++slot) kinds.push_back(KindAt(one, slot));
  EXPECT_EQ(kinds, (std::vector<uint8_t>{kEntryKindDeflated, kEntryKindDirectory, kEntryKindFile, kEntryKindFile,
                                         kEntryKindDeflated, kEntryKindFile}));
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
  const size_t data = kArchivePrologueSize + 6 * EntryRecord::kSize;  // text.htm's stream
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

}  // namespace
}  // namespace vek
