// Archives of the previous release, each file deflated on its own and the table a zlib
// stream (tests/data, made by its vekpack -z): vek still lists, tests and extracts them.
#include <gtest/gtest.h>

#include <stdio.h>
#include <zlib.h>

#include <string>

#include "check.h"
#include "crc32.h"
#include "extension.h"
#include "extract.h"
#include "extractor.h"
#include "list.h"
#include "open.h"
#include "testsupport.h"

namespace vek {
namespace {

namespace fs = std::filesystem;

struct FixtureFile {
  const char* path;  // below the destination
  size_t size;
  uint32_t crc;
  bool read_only;
};
// Both trees hold these; the executable's holds a seventh, with a name outside
// Windows-1250 (its names are UTF-8).
const FixtureFile kFixtureFiles[] = {
    {"index.htm", 6000, 0x509D9932, false},
    {"style.css", 920, 0xD91B95B2, false},
    {"empty.txt", 0, 0, false},
    {"data/noise.bin", 2048, 0x4A42F198, false},  // stored
    {"data/notes.txt", 3000, 0xA9D9C85A, true},
    {"data/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", 1500, 0xCF887706, false},
};

struct Fixture {
  const char* file;
  size_t files;
};
const Fixture kFixtures[] = {{"deflated.vek", 5}, {"deflated-x64.exe", 6}};

std::string Listing(const tools::OpenedArchive& archive) {
  FILE* out = tmpfile();
  tools::ListArchive(archive, out);
  std::string text(static_cast<size_t>(ftell(out)), '\0');
  rewind(out);
  text.resize(fread(text.data(), 1, text.size(), out));
  fclose(out);
  return text;
}

TEST(PreviousRelease, DeflatedArchivesAreListedTestedAndExtracted) {
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.file);
    const std::string path = std::string(VEK_TEST_DATA) + "/" + f.file;
    tools::OpenedArchive archive;
    std::string error;
    ASSERT_TRUE(tools::OpenArchive(path, &archive, &error)) << error;
    std::vector<tools::Problem> problems = tools::CheckArchive(archive);
    tools::CheckFileData(archive, &problems);
    EXPECT_TRUE(problems.empty()) << problems[0].text;
    EXPECT_NE(Listing(archive).find("deflate"), std::string::npos);
    tools::CloseArchive(&archive);

    testing::ScratchFolder folder;
    ASSERT_EQ(tools::ExtractCommand(path, folder.path().string(), false), tools::kExitSuccess);
    for (size_t i = 0; i < f.files; ++i) {
      const FixtureFile& file = kFixtureFiles[i];
      SCOPED_TRACE(file.path);
      const fs::path written = folder.path() / fs::u8path(file.path);
      const std::string bytes = testing::ReadWholeFile(written);
      EXPECT_EQ(bytes.size(), file.size);
      EXPECT_EQ(Crc32(0, bytes.data(), bytes.size()), file.crc);
      const bool writable = (fs::status(written).permissions() & fs::perms::owner_write) != fs::perms::none;
      EXPECT_EQ(writable, !file.read_only);
    }
  }
}

std::string FixtureBytes(const char* name) { return testing::ReadWholeFile(std::string(VEK_TEST_DATA) + "/" + name); }

// deflated.vek: 6 entries; index.htm (2) deflated; its checksum block before the footer.
constexpr uint32_t kEntries = 6;
constexpr uint32_t kIndexHtm = 6000;
size_t BlockOf(const std::string& bare) { return bare.size() - ExtensionFooter::kSize - ExtensionBlockSize(kEntries); }

// A deflated file whose stream does not give its recorded size (an inflation bomb,
// its block sealed as a packer would seal it) is refused, nothing beyond that size
// written and nothing left under its name.
TEST(PreviousRelease, AStreamThatDoesNotGiveTheRecordedSizeIsRefused) {
  const std::string sound = FixtureBytes("deflated.vek");
  const size_t block = BlockOf(sound);
  const uint32_t cases[] = {kIndexHtm, kIndexHtm - 1000, kIndexHtm - 1, kIndexHtm + 1, 0x7FFFFFFFu, 0};
  for (uint32_t recorded : cases) {
    SCOPED_TRACE(recorded);
    testing::ScratchFolder folder;
    std::string bytes = sound;
    auto* b = reinterpret_cast<unsigned char*>(bytes.data() + block);
    StoreU32(ExtensionRecordAt(b, 2) + ExtensionRecord::kOriginalSizeOffset, recorded);
    SealExtensionBlock(b, ExtensionBlockSize(kEntries));
    const fs::path file = folder.path() / "bomb.vek";
    testing::WriteWholeFile(file, bytes);
    const bool bad = recorded != kIndexHtm;

    tools::OpenedArchive archive;
    std::string error;
    ASSERT_TRUE(tools::OpenArchive(file.string(), &archive, &error)) << error;
    std::vector<tools::Problem> problems = tools::CheckArchive(archive);
    tools::CheckFileData(archive, &problems);
    tools::CloseArchive(&archive);
    ASSERT_EQ(problems.size(), bad ? 1u : 0u);
    if (bad) {
      EXPECT_EQ(problems[0].text, "entry 2 (\\index.htm): The compressed data is invalid");
    }
    EXPECT_EQ(tools::ExtractCommand(file.string(), (folder.path() / "out").string(), false), bad ? 1 : 0);
    EXPECT_EQ(fs::exists(folder.path() / "out" / "index.htm"), !bad);

    testing::CountingEdge edge;
    FileHandle handle = kNoFile;
    ASSERT_FALSE(edge.OpenRead(file.string().c_str(), &handle));
    ArchiveReader reader;
    ASSERT_FALSE(reader.Open(
        edge, handle, 0,
        ExtensionSpan(static_cast<uint32_t>(block), static_cast<uint32_t>(block) + ExtensionBlockSize(kEntries))));
    const AnsiString destination(folder.destination("core").c_str());
    ASSERT_FALSE(ForceDestination(destination, edge));
    EXPECT_EQ(ExtractEntry(reader, edge, 2, destination, DataCheck::kTrusted),
              bad ? GeneralError(kBadCompressedData) : NoError());
    EXPECT_LE(edge.written, recorded);
    EXPECT_EQ(edge.removed, bad);
    EXPECT_EQ(fs::exists(folder.path() / "core" / "index.htm"), !bad);
  }
}

// The archive with its table replaced as the previous vekpack would write it, the block
// sealed to match: the given zlib stream after the data, or stored after the header
// (as the release before it wrote compressed archives).
std::string WithTable(const std::string& archive, const std::string& table, bool stream) {
  const auto* header = reinterpret_cast<const unsigned char*>(archive.data() + ArchiveSignature::kSize);
  const uint32_t at = LoadU32(header + ArchiveHeader::kTableStreamAtOffset);
  std::string out = archive.substr(0, kArchivePrologueSize);
  testing::PatchU32(out, ArchiveSignature::kSize + ArchiveHeader::kTableStreamSizeOffset, stream ? table.size() : 0);
  testing::PatchU32(out, ArchiveSignature::kSize + ArchiveHeader::kTableStreamAtOffset, stream ? at : 0);
  out += stream ? archive.substr(kArchivePrologueSize, at) + table : table + archive.substr(kArchivePrologueSize, at);
  const uint32_t crc = Crc32(Crc32(0, out.data(), kArchivePrologueSize), table.data(), table.size());
  std::string block = archive.substr(BlockOf(archive));
  auto* b = reinterpret_cast<unsigned char*>(block.data());
  StoreU32(b + ExtensionHeader::kFlagsOffset, ExtensionFlags(b) & ~(stream ? 0 : kExtensionTableDeflated));
  StoreU32(b + ExtensionHeader::kPrologueCrcOffset, crc);
  SealExtensionBlock(b, ExtensionBlockSize(kEntries));
  return out + block;
}

// The table is deflated after the data; a stream that is damaged, cut short, longer
// than any table's, or that gives more or fewer than the table's 6 records is a
// damaged archive for the reader and vek test, and nothing of it is loaded. A table
// stored after the header reads as before.
TEST(PreviousRelease, TheTableIsAStreamThatMustGiveExactlyTheRecords) {
  const std::string sound = FixtureBytes("deflated.vek");
  const auto* header = reinterpret_cast<const unsigned char*>(sound.data() + ArchiveSignature::kSize);
  const uint32_t size = LoadU32(header + ArchiveHeader::kTableStreamSizeOffset);
  const size_t stream = kArchivePrologueSize + LoadU32(header + ArchiveHeader::kTableStreamAtOffset);
  std::string table;
  {
    testing::LoadedArchive loaded(sound);
    ASSERT_FALSE(loaded.load_error);
    ASSERT_EQ(loaded.reader.TableStreamSize(), size);
    table.assign(reinterpret_cast<const char*>(loaded.reader.GetSlotRecord(1)), kEntries * EntryRecord::kSize);
  }
  auto deflated = [](const std::string& bytes) {
    std::string out(compressBound(bytes.size()), '\0');
    uLongf length = out.size();
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(bytes.data()),
                        bytes.size(), 9),
              Z_OK);
    out.resize(length);
    return out;
  };
  auto flip = [](std::string a, size_t at) { return a[at] = static_cast<char>(a[at] ^ 0x40), a; };
  std::string huge = sound;
  testing::PatchU32(huge, ArchiveSignature::kSize + ArchiveHeader::kTableStreamSizeOffset,
                    TableStreamLimit(kEntries) + 1);
  struct Case {
    const char* what;
    std::string bytes;
    Error error;
  } cases[] = {
      {"sound", sound, NoError()},
      {"stored", WithTable(sound, table, false), NoError()},
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
    EXPECT_EQ(loaded.reader.GetLoadedEntryCount(), c.error ? 0u : kEntries);

    testing::ScratchFolder folder;
    testing::WriteWholeFile(folder.path() / "t.vek", c.bytes);
    tools::OpenedArchive archive;
    std::string error;
    const bool opened = tools::OpenArchive((folder.path() / "t.vek").string(), &archive, &error);
    EXPECT_EQ(opened, !c.error) << error;
    if (!opened) continue;
    std::vector<tools::Problem> problems = tools::CheckArchive(archive);
    tools::CheckFileData(archive, &problems);
    EXPECT_TRUE(problems.empty()) << problems[0].text;
    tools::CloseArchive(&archive);
    EXPECT_EQ(tools::ExtractCommand((folder.path() / "t.vek").string(), (folder.path() / "out").string(), false), 0);
    const std::string notes = testing::ReadWholeFile(folder.path() / "out" / "data" / "notes.txt");
    EXPECT_EQ(Crc32(0, notes.data(), notes.size()), 0xA9D9C85Au);
  }
}

}  // namespace
}  // namespace vek
