// Checksums: a damaged archive or executable is found by `vek test` (naming the
// damaged entry) and by `vek extract` (which leaves no damaged file under its name);
// an archive without checksums reads as it always did.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "archivecheck.h"
#include "check.h"
#include "crc32.h"
#include "extract.h"
#include "extractor.h"
#include "open.h"
#include "testsupport.h"
#include "vekbuild.h"

namespace vek {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

// \first.txt (1), \dir (2), \dir\middle.txt (3), \dir\last.txt (4): ten bytes each,
// or, to be compressed, 2,000 (in one solid block: first, last, middle).
build::ArchiveBuilder Tree(size_t length = 10) {
  build::ArchiveBuilder b;
  b.AddFile(0, "first.txt", std::string(length, '1'), testing::DosStamp(2001, 2, 3, 4, 5, 6));
  const uint16_t d = b.AddDirectory(0, "dir");
  b.AddFile(d, "middle.txt", std::string(length, '2'), testing::DosStamp(2001, 2, 3, 4, 5, 6));
  b.AddFile(d, "last.txt", std::string(length, '3'), testing::DosStamp(2001, 2, 3, 4, 5, 6));
  return b;
}

enum class Form { kPlain, kBare, kExecutable, kCompressed, kCompressedExecutable };

// The file's bytes, where its archive begins and where its checksum block begins.
struct Packed {
  std::string bytes;
  size_t archive = 0;
  size_t block = 0;
  // A byte of the data of a stored file (1, 3 or 4): its first, middle or last.
  size_t Data(int slot, int where) const {
    testing::LoadedArchive loaded(bytes.substr(archive));
    ArchiveEntry entry;
    EXPECT_TRUE(loaded.reader.FindEntry(slot, &entry));
    const size_t size = static_cast<size_t>(entry.size);
    const size_t at = archive + loaded.reader.DataStart() + entry.data_offset;
    return where < 0 ? at : where == 0 ? at + size / 2 : at + size - 1;
  }
  // A byte of the solid block's stream (its first, middle or last), or of its record
  // in the solid index.
  size_t Block(int where) const {
    testing::LoadedArchive loaded(bytes.substr(archive));
    const SolidBlock block = loaded.reader.GetSolidBlock(0);
    const size_t at = archive + loaded.reader.DataStart() + block.stored_offset;
    return where < 0 ? at : where == 0 ? at + block.stored_size / 2 : at + block.stored_size - 1;
  }
  size_t BlockRecord(size_t field) const {
    testing::LoadedArchive loaded(bytes.substr(archive));
    return archive + loaded.reader.DataStart() + loaded.reader.SolidIndexAt() + SolidIndexHeader::kSize + field;
  }
};

Packed Pack(Form form, const fs::path& folder) {
  const bool compressed = form == Form::kCompressed || form == Form::kCompressedExecutable;
  const build::ArchiveBuilder b = Tree(compressed ? 2000 : 10);
  build::ArchiveOptions options;
  options.compress_level = compressed ? 6 : 0;
  if (form == Form::kPlain) return {b.Serialize(), 0, 0};
  if (form == Form::kBare || form == Form::kCompressed) {
    std::string bytes = b.Serialize(options);
    return {bytes, 0, bytes.size() - ExtensionFooter::kSize - ExtensionBlockSize(4)};
  }
  // A stub whose constants have room for the block's offset and say it decodes solid
  // archives.
  std::string stub = testing::FakeStub(".vekofs", 0x600);
  testing::PatchU32(stub, 0x44 + 20 + 40 + 8, 0x200);  // the section's virtual size
  testing::PatchU32(stub, 0x200 + StubConstants::kFeaturesMagicOffset, kStubFeaturesMagic);
  testing::PatchU32(stub, 0x200 + StubConstants::kFeaturesOffset, kStubFeatureSolidLzma);
  testing::WriteWholeFile(folder / "stub.exe", stub);
  build::PackOptions pack;
  pack.output = (folder / "setup.exe").string();
  pack.stub = (folder / "stub.exe").string();
  pack.compress_level = options.compress_level;
  build::WriteArchive(b, pack);
  return {testing::ReadWholeFile(folder / "setup.exe"), 0x600 + ExtensionBlockSize(4), 0x600};
}

TEST(Checksums, DamageIsNamedAndNothingDamagedIsLeft) {
  struct Case {
    const char* what;
    Form form;
    size_t (*at)(const Packed&);         // the byte flipped
    const char* problem;                 // in vek test's lines; nullptr: none
    std::vector<const char*> extracted;  // what vek extract leaves
  } cases[] = {
      {"header",
       Form::kBare,
       [](const Packed& p) { return p.archive + 30; },
       "the header or the entry table does not match its checksum",
       {}},
      {"table",
       Form::kBare,
       [](const Packed& p) { return p.archive + kArchivePrologueSize + EntryRecord::kSize + 40; },
       "the header or the entry table does not match its checksum",
       {}},
      {"first file",
       Form::kBare,
       [](const Packed& p) { return p.Data(1, -1); },
       "entry 1 (\\first.txt): Damaged data",
       {}},
      {"middle file",
       Form::kBare,
       [](const Packed& p) { return p.Data(3, 0); },
       "entry 3 (\\dir\\middle.txt): Damaged data",
       {"first.txt", "dir"}},
      {"last file",
       Form::kBare,
       [](const Packed& p) { return p.Data(4, 1); },
       "entry 4 (\\dir\\last.txt): Damaged data",
       {"first.txt", "dir", "dir/middle.txt"}},
      {"checksum block",
       Form::kBare,
       [](const Packed& p) { return p.block + 40; },
       "the checksum block is damaged",
       {}},
      {"executable, middle file",
       Form::kExecutable,
       [](const Packed& p) { return p.Data(3, 0); },
       "entry 3 (\\dir\\middle.txt): Damaged data",
       {"first.txt", "dir"}},
      {"executable, table",
       Form::kExecutable,
       [](const Packed& p) { return p.archive + kArchivePrologueSize + 3 * EntryRecord::kSize + 100; },
       "the header or the entry table does not match its checksum",
       {}},
      {"executable, checksum block",
       Form::kExecutable,
       [](const Packed& p) { return p.block + 30; },
       "the checksum block is damaged",
       {}},
      // A solid block: its stored bytes are checked before it is decoded, and vek test
      // names each of its files; extraction writes none whose bytes do not match.
      {"compressed, header",
       Form::kCompressed,
       [](const Packed& p) { return p.archive + 30; },
       "the header or the entry table does not match its checksum",
       {}},
      {"compressed, the block's first byte",
       Form::kCompressed,
       [](const Packed& p) { return p.Block(-1); },
       "entry 1 (\\first.txt): Damaged data: the checksum does not match (block 1)",
       {"dir"}},
      {"compressed, the block's middle byte",
       Form::kCompressed,
       [](const Packed& p) { return p.Block(0); },
       "entry 1 (\\first.txt): Damaged data: the checksum does not match (block 1)",
       {"dir"}},
      {"compressed, the block's record",
       Form::kCompressed,
       [](const Packed& p) { return p.BlockRecord(SolidBlockRecord::kDecodedSizeOffset); },
       "the header or the entry table does not match its checksum",
       {}},
      {"compressed, a file's checksum",
       Form::kCompressed,
       [](const Packed& p) { return p.block + ExtensionHeader::kSize + 2 * ExtensionRecord::kSize; },
       "the checksum block is damaged",
       {}},
      {"compressed executable, the block's first byte",
       Form::kCompressedExecutable,
       [](const Packed& p) { return p.Block(-1); },
       "entry 1 (\\first.txt): Damaged data: the checksum does not match (block 1)",
       {"dir"}},
      // Without checksums, damaged data goes unnoticed, as it always did.
      {"no checksums, middle file",
       Form::kPlain,
       [](const Packed& p) { return p.Data(3, 0); },
       nullptr,
       {"first.txt", "dir", "dir/middle.txt", "dir/last.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder folder;
    Packed packed = Pack(c.form, folder.path());
    const fs::path file = folder / "damaged";
    const size_t at = c.at(packed);
    ASSERT_LT(at, packed.bytes.size());
    packed.bytes[at] = static_cast<char>(packed.bytes[at] ^ 0x10);
    testing::WriteWholeFile(file, packed.bytes);

    tools::OpenedArchive archive;
    std::string error;
    ASSERT_TRUE(tools::OpenArchive(file.string(), &archive, &error)) << error;
    std::vector<tools::Problem> problems = tools::CheckArchive(archive);
    tools::CheckFileData(archive, &problems);
    tools::CloseArchive(&archive);
    if (c.problem) {
      // (A damaged block names each of its three files; without a sound block,
      // compressed files are of a kind unknown: one more line each.)
      ASSERT_GE(problems.size(), 1u);
      if (c.form != Form::kCompressed && c.form != Form::kCompressedExecutable) {
        EXPECT_EQ(problems.size(), 1u);
      }
      EXPECT_NE(problems[0].text.find(c.problem), std::string::npos) << problems[0].text;
    } else {
      EXPECT_TRUE(problems.empty());
    }

    const fs::path out = folder / "out";
    EXPECT_EQ(tools::ExtractCommand(file.string(), out.string(), false), c.problem ? 1 : 0);
    std::vector<std::string> left;
    if (fs::exists(out)) {
      for (const auto& e : fs::recursive_directory_iterator(out))
        left.push_back(fs::relative(e.path(), out).generic_string());
    }
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected(c.extracted.begin(), c.extracted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
  }
}

// A file that replaces an existing one is written beside it and checked first: a
// damaged one leaves the existing file as it was, and no temporary behind.
TEST(Checksums, ADamagedFileNeverReplacesAnExistingOne) {
  struct Case {
    const char* what;
    Form form;
    bool existing;
    bool damaged;
    const char* left;  // first.txt's bytes afterwards; nullptr: none
    int status;
  } cases[] = {
      {"existing, damaged", Form::kBare, true, true, "the user's", 1},
      {"existing, sound", Form::kBare, true, false, "1111111111", 0},
      {"none, damaged", Form::kBare, false, true, nullptr, 1},
      {"existing, damaged block", Form::kCompressed, true, true, "the user's", 1},
      {"existing, sound block", Form::kCompressed, true, false, "", 0},
      {"none, damaged block", Form::kCompressed, false, true, nullptr, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder folder;
    Packed packed = Pack(c.form, folder.path());
    if (c.damaged) {
      const size_t at = c.form == Form::kBare ? packed.Data(1, 0) : packed.Block(0);
      packed.bytes[at] = static_cast<char>(packed.bytes[at] ^ 0x10);
    }
    const fs::path file = folder / "archive";
    testing::WriteWholeFile(file, packed.bytes);
    const fs::path out = folder / "out";
    fs::create_directories(out);
    if (c.existing) testing::WriteWholeFile(out / "first.txt", "the user's");
    EXPECT_EQ(tools::ExtractCommand(file.string(), out.string(), false), c.status);
    std::string expected = c.left ? c.left : "";
    if (c.left && !*c.left) expected = std::string(2000, '1');
    EXPECT_EQ(fs::exists(out / "first.txt"), c.left != nullptr);
    if (c.left) {
      EXPECT_EQ(testing::ReadWholeFile(out / "first.txt"), expected);
    }
    for (const auto& e : fs::directory_iterator(out)) {
      EXPECT_EQ(e.path().filename().string().rfind(".vek", 0), std::string::npos) << e.path();
    }
  }
}

// A flipped byte in a compressed archive's header leaves its table undecoded: every
// entry is of an unknown kind, and vek test's lines stay few.
TEST(Checksums, ADamagedHeaderGivesAFewLines) {
  build::ArchiveBuilder b;
  for (int i = 0; i < 1053; ++i) b.AddFile(0, "f" + std::to_string(i), "some text, some text", 0);
  build::ArchiveOptions options;
  options.compress_level = 1;
  std::string bytes = b.Serialize(options);
  bytes[30] = static_cast<char>(bytes[30] ^ 0x10);
  ScratchFolder folder;
  testing::WriteWholeFile(folder / "a.vek", bytes);
  tools::OpenedArchive archive;
  std::string error;
  ASSERT_TRUE(tools::OpenArchive((folder / "a.vek").string(), &archive, &error)) << error;
  std::vector<tools::Problem> problems = tools::CheckArchive(archive);
  tools::CheckFileData(archive, &problems);
  tools::CloseArchive(&archive);
  const std::vector<std::string> lines = tools::SummariseProblems(problems);
  ASSERT_EQ(lines.size(), 1 + tools::kProblemsShownPerKind + 1) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "damaged: the header or the entry table does not match its checksum");
  EXPECT_EQ(lines[1], "entry 1 (\\f0): unknown kind 254");
  EXPECT_EQ(lines.back(), "... and 1,043 more entries of unknown kind");
}

// The archive in a file made with checksums is byte for byte the one made without:
// the block lies beside it.
// Two checkers side by side, each through its own handle, as the stub checks on two
// processors: whichever runs ahead, the first damaged entry in table order is named.
TEST(Checksums, CheckersSideBySideNameTheFirstDamagedEntry) {
  ScratchFolder scratch;
  build::ArchiveBuilder b;
  for (int i = 0; i < 40; ++i)
    b.AddFile(0, "f" + std::to_string(i), std::string(3000 + i, 'a' + i % 26), testing::DosStamp(2001, 2, 3, 4, 5, 6));
  const std::string packed = b.Serialize(build::ArchiveOptions());
  const fs::path path = scratch.path() / "a.vek";
  struct Case {
    std::vector<int> damaged;  // entries with a byte flipped
    uint32_t named;
  } cases[] = {{{}, 0}, {{1}, 1}, {{21}, 21}, {{40}, 40}, {{30, 7}, 7}, {{25, 26}, 25}};
  for (const Case& c : cases) {
    std::string bytes = packed;
    for (int id : c.damaged) {  // file id's data begins after those of 1 .. id - 1
      bytes[kArchivePrologueSize + 40 * EntryRecord::kSize + 3000 * (id - 1) + (id - 1) * (id - 2) / 2 + 100] ^= 0x20;
    }
    testing::WriteWholeFile(path, bytes);
    for (int round = 0; round < 20; ++round) {
      tools::OpenedArchive archive;
      std::string error;
      ASSERT_TRUE(tools::OpenArchive(path.string(), &archive, &error)) << error;
      ArchiveFile second{archive.reader.file().edge, kNoFile};
      ASSERT_TRUE(second.edge->OpenRead(path.string().c_str(), &second.handle).ok());
      CheckQueue queue(archive.reader.GetEntryCount());
      PrepareCrc32();
      uint32_t slots[2] = {};
      Error errors[2];
      std::thread beside([&] {
        DataChecker checker(archive.reader, false, &second);
        errors[1] = CheckShare(queue, checker, &slots[1]);
      });
      DataChecker checker(archive.reader);
      errors[0] = CheckShare(queue, checker, &slots[0]);
      beside.join();
      (void)second.edge->Close(second.handle);
      tools::CloseArchive(&archive);
      uint32_t named = 0;
      for (int k = 0; k < 2; ++k) {
        if (errors[k]) {
          EXPECT_EQ(errors[k], GeneralError(kDataDamaged));
          if (named == 0 || slots[k] < named) named = slots[k];
        }
      }
      ASSERT_EQ(named, c.named) << "first damaged of " << c.damaged.size() << ", round " << round;
    }
  }
}

TEST(Checksums, TheArchiveItselfIsThePlainLayout) {
  ScratchFolder folder;
  const std::string plain = Tree().Serialize();
  EXPECT_EQ(Pack(Form::kBare, folder.path()).bytes.substr(0, plain.size()), plain);
  // Files that LZMA does not shrink stay stored: asked to compress, only the table
  // goes into the solid index, after the same data.
  build::ArchiveBuilder noise;
  std::string bytes(1000, '\0');
  uint32_t seed = 1;
  for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 23);
  noise.AddFile(0, "noise.bin", bytes, testing::DosStamp(2001, 2, 3, 4, 5, 6));
  build::ArchiveOptions compress;
  compress.compress_level = 9;
  EXPECT_EQ(noise.Serialize(compress).substr(kArchivePrologueSize, bytes.size()), bytes);
  const Packed exe = Pack(Form::kExecutable, folder.path());
  EXPECT_EQ(exe.bytes.substr(exe.archive), plain);
}

}  // namespace
}  // namespace vek
