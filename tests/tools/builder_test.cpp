// The builder on real folders: order, attributes, times, refusals without output,
// determinism, and setting the start offset inside a stub.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "stubfile.h"
#include "testsupport.h"
#include "vekbuild.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#endif

namespace vek {
namespace {

namespace fs = std::filesystem;
using build::ArchiveBuilder;
using build::BuildError;
using testing::FakeStub;
using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::WriteWholeFile;

void SetTime(const fs::path& p, time_t t) {
#ifdef _WIN32
  fs::last_write_time(p, fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(t)));
#else
  struct utimbuf times = {t, t};
  ASSERT_EQ(utime(p.c_str(), &times), 0);
#endif
}

// A tree with files and folders on three levels, all with fixed times.
void MakeTree(const fs::path& root) {
  fs::create_directories(root / "b-dir/inner");
  fs::create_directories(root / "a-dir");
  WriteWholeFile(root / "zeta.txt", "zeta");
  WriteWholeFile(root / "alpha.htm", "alpha");
  WriteWholeFile(root / "b-dir/inner/deep.gif", "GIF");
  WriteWholeFile(root / "b-dir/one.txt", "one");
  WriteWholeFile(root / "a-dir/two.txt", "two");
  for (auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) SetTime(e.path(), 930000000);  // folders keep no time
  }
}

std::vector<std::string> Names(const ArchiveBuilder& b) {
  std::vector<std::string> names;
  for (const auto& e : b.entries()) names.push_back(std::to_string(e.parent_id) + "/" + e.name);
  return names;
}

TEST(Builder, OrdersFilesFirstThenEachFolderWithItsContents) {
  ScratchFolder src;
  MakeTree(src.path());
  ArchiveBuilder b;
  build::ScanFolder(src.path().string(), b, nullptr);
  EXPECT_EQ(Names(b), (std::vector<std::string>{"0/alpha.htm", "0/zeta.txt", "0/a-dir", "3/two.txt", "0/b-dir",
                                                "5/one.txt", "5/inner", "7/deep.gif"}));
  const auto& e = b.entries();
  EXPECT_EQ(e[0].data_offset, 0u);
  EXPECT_EQ(e[1].data_offset, 5u);
  EXPECT_EQ(e[3].data_offset, 9u);
  EXPECT_EQ(e[5].data_offset, 12u);
  EXPECT_EQ(e[7].data_offset, 15u);
  bool clamped;
  EXPECT_EQ(e[0].time_stamp, build::ToDosTimeStamp(930000000, &clamped));
  EXPECT_EQ(e[0].attributes, 0x20u);
  EXPECT_EQ(e[2].attributes | e[2].time_stamp | static_cast<uint32_t>(e[2].size) | e[2].data_offset, 0u);
}

// The same whether the facts are taken by the scan or as the bytes are copied; each
// clamped file is named.
TEST(Builder, MarksReadOnlyFilesAndClampsTimesOutsideTheDosRange) {
  ScratchFolder src, out;
  WriteWholeFile(src / "old.txt", "1970");
  WriteWholeFile(src / "old2.txt", "1970");
  WriteWholeFile(src / "ro.txt", "ro");
  SetTime(src / "old.txt", 86400 * 2);  // 1970
  SetTime(src / "old2.txt", 86400 * 2);
  fs::permissions(src / "ro.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ArchiveBuilder b;
  std::vector<std::string> warnings;
  auto warn = [&](const std::string& w) { warnings.push_back(w); };
  build::ScanFolder(src.path().string(), b, warn);
  ASSERT_EQ(b.entries().size(), 3u);
  EXPECT_EQ(b.entries()[0].time_stamp, (1u << 21) | (1u << 16));  // 1980-01-01 00:00:00
  EXPECT_EQ(b.entries()[2].attributes, 0x21u);
  build::PackOptions options;
  options.source_folder = src.path().string();
  options.output = (out / "out.vek").string();
  options.warn = warn;
  build::Pack(options);
  EXPECT_EQ(ReadWholeFile(out / "out.vek"), b.Serialize(build::ArchiveOptions{}));
  ASSERT_EQ(warnings.size(), 4u);  // the scan's, then the packing's
  EXPECT_NE(warnings[2].find("old.txt"), std::string::npos);
  EXPECT_NE(warnings[3].find("old2.txt"), std::string::npos);
}

// Any time zone: every zone's offset is whole minutes, so the seconds of a UTC time
// (1999-03-14 12:30:45) are the local ones too.
TEST(Builder, DosTimesRoundDownToTwoSeconds) {
  bool clamped = true;
  const time_t t = 921414645;
  EXPECT_EQ(build::ToDosTimeStamp(t, &clamped) & 0x1Fu, 44u / 2);
  EXPECT_FALSE(clamped);
}

// Each refusal names the path, leaves no output and leaves an old output untouched.
TEST(Builder, RefusalsNameThePathAndLeaveNoOutput) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* expected_in_message;
  } cases[] = {
      {"long name", [](const fs::path& s) { WriteWholeFile(s / std::string(233, 'n'), "x"); }, "232"},
      // 78 CJK characters: 234 bytes of UTF-8, though Windows would hold them.
      {"long UTF-8 name",
       [](const fs::path& s) {
         std::string name;
         for (int i = 0; i < 78; ++i) name += "\xE4\xB8\xAD";
         WriteWholeFile(s / fs::u8path(name), "x");
       },
       "longer than 232 bytes in UTF-8"},
#ifndef _WIN32
      {"no UTF-8", [](const fs::path& s) { WriteWholeFile(s / "caf\xE9", "x"); }, "no characters"},
      {"broken link", [](const fs::path& s) { fs::create_symlink(s / "nowhere", s / "dangling"); }, "dangling"},
      {"folder loop",
       [](const fs::path& s) {
         fs::create_directories(s / "d");
         fs::create_directory_symlink(s, s / "d" / "back");
       },
       "back"},
      {"2 GiB file",
       [](const fs::path& s) {
         WriteWholeFile(s / "huge.bin", "");
         fs::resize_file(s / "huge.bin", uint64_t{1} << 31);
       },
       "huge.bin"},
      // Names Windows would not create as named (POSIX file systems hold them).
      {"device", [](const fs::path& s) { WriteWholeFile(s / "NUL", "x"); }, "NUL: the name has a Windows device name"},
      {"device with extension", [](const fs::path& s) { WriteWholeFile(s / "aux.txt", "x"); }, "aux.txt: "},
      {"device folder", [](const fs::path& s) { fs::create_directories(s / "sub" / "com1"); }, "com1: "},
      {"trailing dot", [](const fs::path& s) { WriteWholeFile(s / "evil.", "x"); }, "trailing dot"},
      {"trailing blank", [](const fs::path& s) { WriteWholeFile(s / "evil ", "x"); }, "evil : "},
      {"star", [](const fs::path& s) { WriteWholeFile(s / "a*b", "x"); }, "forbids"},
      {"control", [](const fs::path& s) { WriteWholeFile(s / "a\tb", "x"); }, "forbids"},
      {"case twins",
       [](const fs::path& s) {
         WriteWholeFile(s / "Index.htm", "x");
         WriteWholeFile(s / "index.htm", "y");
       },
       "Index.htm when letter case is ignored"},
      {"Polish case twins",
       [](const fs::path& s) {
         fs::create_directories(s / "d" /
                                "\xC5\x81\xC3\x93"
                                "D\xC5\xB9");  // ŁÓDŹ
         WriteWholeFile(s / "d" /
                            "\xC5\x82\xC3\xB3"
                            "d\xC5\xBA",
                        "y");  // łódź
       },
       "when letter case is ignored"},
#endif
  };
  for (const Case& c : cases) {
    ScratchFolder src, out;
    WriteWholeFile(src / "fine.txt", "fine");
    c.make(src.path());
    fs::path output = out / "out.vek";
    build::PackOptions options;
    options.source_folder = src.path().string();
    options.output = output.string();
    try {
      build::Pack(options);
      ADD_FAILURE() << c.what << ": not refused";
    } catch (const BuildError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected_in_message), std::string::npos) << c.what << ": " << e.what();
    }
    EXPECT_TRUE(fs::is_empty(out.path())) << c.what;
    WriteWholeFile(output, "previous");
    EXPECT_THROW(build::Pack(options), BuildError);
    EXPECT_EQ(ReadWholeFile(output), "previous") << c.what;
  }
}

// The output is never packed: inside the source folder, or as a source file reached
// through a link, it is refused and the source stays as it was.
TEST(Builder, RefusesAnOutputThatWouldBePackedOrReplaceASourceFile) {
  struct Case {
    const char* what;
    const char* output;  // relative to the scratch folder; the source is "src"
    const char* link;    // a link in the source to this, or nullptr
  } cases[] = {
      {"output in the source", "src/out.vek", nullptr},
      {"output is a source file", "src/a.txt", nullptr},
      {"output in a new folder in the source", "src/sub/../out.vek", nullptr},
#ifndef _WIN32
      {"output reached through a link", "out.vek", "../out.vek"},
#endif
  };
  for (const Case& c : cases) {
    ScratchFolder scratch;
    fs::create_directories(scratch / "src/sub");
    WriteWholeFile(scratch / "src/a.txt", "source");
    WriteWholeFile(scratch / "out.vek", "source");  // the size of a.txt, as a link's target might be
    if (c.link) fs::create_symlink(c.link, scratch / "src/link");
    build::PackOptions options;
    options.source_folder = (scratch / "src").string();
    options.output = (scratch / c.output).string();
    EXPECT_THROW(build::Pack(options), BuildError) << c.what;
    EXPECT_EQ(ReadWholeFile(scratch / "src/a.txt"), "source") << c.what;
    EXPECT_EQ(ReadWholeFile(scratch / "out.vek"), "source") << c.what;
    size_t files = 0;
    for (auto& e : fs::recursive_directory_iterator(scratch.path())) files += !e.is_symlink() && e.is_regular_file();
    EXPECT_EQ(files, 2u) << c.what << ": no output and no temporary file";
  }
}

// A file whose size or time is not what the scan saw when its bytes are read.
TEST(Builder, AFileThatChangesWhileItIsReadIsAnErrorNamingIt) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> change;
  } cases[] = {
      {"grows", [](const fs::path& f) { WriteWholeFile(f, "contents and more"); }},
      {"shrinks", [](const fs::path& f) { WriteWholeFile(f, "con"); }},
      {"same size, new time",
       [](const fs::path& f) {
         WriteWholeFile(f, "CONTENTS");
         SetTime(f, 940000000);
       }},
  };
  for (const Case& c : cases) {
    ScratchFolder src, out;
    WriteWholeFile(src / "a.txt", "contents");
    SetTime(src / "a.txt", 930000000);
    ArchiveBuilder b;
    build::ScanFolder(src.path().string(), b, nullptr);
    c.change(src / "a.txt");
    build::PackOptions options;
    options.output = (out / "out.vek").string();
    try {
      build::WriteArchive(b, options);
      ADD_FAILURE() << c.what << ": not refused";
    } catch (const BuildError& e) {
      EXPECT_NE(std::string(e.what()).find("a.txt: the file changed while it was read"), std::string::npos)
          << c.what << ": " << e.what();
    }
    EXPECT_TRUE(fs::is_empty(out.path())) << c.what;
  }
}

#ifndef _WIN32
// Links planted under the temporary names that a predictable scheme would use (the
// process id) are never followed; the output is a new file of ours, with the mode
// a new file gets.
TEST(Builder, TheTemporaryOutputIsCreatedExclusively) {
  ScratchFolder src, out;
  WriteWholeFile(src / "a.txt", "a");
  WriteWholeFile(out / "victim", "precious");
  for (int pid = getpid(); pid < getpid() + 20; ++pid) {
    fs::create_symlink(out / "victim", out / ("setup.vek.vekpack-" + std::to_string(pid) + ".tmp"));
  }
  mode_t previous = umask(027);
  build::PackOptions options;
  options.source_folder = src.path().string();
  options.output = (out / "setup.vek").string();
  build::Pack(options);
  umask(previous);
  EXPECT_EQ(ReadWholeFile(out / "victim"), "precious");
  struct stat st;
  ASSERT_EQ(lstat((out / "setup.vek").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadWholeFile(out / "setup.vek").substr(0, 6), "RN-VEK");
  size_t entries = 0;
  for (auto& e : fs::directory_iterator(out.path())) entries += e.path().filename() != "setup.vek" ? 1 : 0;
  EXPECT_EQ(entries, 21u) << "only the victim and the planted links besides the output";
}
#endif

TEST(Builder, RefusesTheEntryPast65535) {
  ArchiveBuilder b;
  for (int i = 0; i < 65535; ++i) b.AddDirectory(0, "d");
  EXPECT_THROW(b.AddDirectory(0, "one too many"), BuildError);
  EXPECT_THROW(b.AddFile(0, "one too many", "", 0), BuildError);
}

TEST(Builder, SameFolderSameTimesSameBytes) {
  ScratchFolder a, b, out;
  MakeTree(a.path());
  MakeTree(b.path());
  build::PackOptions options;
  options.source_folder = a.path().string();
  options.output = (out / "a.vek").string();
  build::PackResult r = build::Pack(options);
  options.source_folder = b.path().string();
  options.output = (out / "b.vek").string();
  build::Pack(options);
  EXPECT_EQ(ReadWholeFile(out / "a.vek"), ReadWholeFile(out / "b.vek"));
  EXPECT_EQ(r.files, 5u);
  EXPECT_EQ(r.directories, 3u);
  EXPECT_EQ(r.archive_bytes, 56u + 8 * 256 + 18);
  EXPECT_EQ(fs::file_size(out / "a.vek"), r.archive_bytes + ExtensionBlockSize(8) + ExtensionFooter::kSize);
}

// A tree whose names all fit Windows-1250 packs byte for byte as the release before
// UTF-8 names wrote it: the hash below was taken from that release's vekpack on this
// tree. The records' time stamps, which depend on the time zone, are left out.
TEST(Builder, Windows1250NamesPackAsThePreviousReleasePackedThem) {
  ScratchFolder src, out;
  const char* const folders[] = {"Łódź", "Łódź/Příliš žluťoučký", "Größe"};
  const char* const files[] = {"Zażółć gęślą jaźń.htm", "Łódź/kůň.txt", "Łódź/Příliš žluťoučký/árvíztűrő.txt",
                               "Größe/Straße ÄÖÜ.txt", "index.htm"};
  for (const char* folder : folders) fs::create_directories(src.path() / fs::u8path(folder));
  for (const char* file : files) {
    WriteWholeFile(src.path() / fs::u8path(file), file);
    SetTime(src.path() / fs::u8path(file), 930000000);
  }
  build::PackOptions options;
  options.source_folder = src.path().string();
  options.output = (out / "pl.vek").string();
  build::Pack(options);
  std::string archive = ReadWholeFile(out / "pl.vek");
  // The archive itself, without the checksum block and its footer that follow it.
  ASSERT_EQ(archive.substr(archive.size() - ExtensionFooter::kSize + ExtensionFooter::kMagicOffset,
                           ExtensionFooter::kMagicSize),
            kExtensionFooterMagic);
  const uint32_t block = LoadU32(reinterpret_cast<const unsigned char*>(archive.data()) + archive.size() -
                                 ExtensionFooter::kSize + ExtensionFooter::kBlockSizeOffset);
  archive.resize(archive.size() - ExtensionFooter::kSize - block);
  ASSERT_GT(archive.size(), kArchivePrologueSize + 8u * EntryRecord::kSize);
  for (uint32_t slot = 1; slot <= 8; ++slot) {
    testing::PatchU32(archive, testing::RecordAt(slot) + EntryRecord::kTimeStampOffset, 0);
  }
  uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
  for (unsigned char c : archive) hash = (hash ^ c) * 0x100000001B3ull;
  EXPECT_EQ(hash, 0xCBA25D072FD58E73ull) << std::hex << hash;
}

TEST(Builder, SetsTheStartOffsetInTheStubAndAppendsTheArchive) {
  ScratchFolder src, out;
  MakeTree(src.path());
  const std::string stub = FakeStub(".vekofs", 0x600);
  WriteWholeFile(out / "stub.exe", stub);
  build::PackOptions options;
  options.source_folder = src.path().string();
  options.output = (out / "setup.exe").string();
  options.stub = (out / "stub.exe").string();
  build::PackResult r = build::Pack(options);
  std::string exe = ReadWholeFile(out / "setup.exe");
  ASSERT_EQ(exe.size(), 0x600 + r.archive_bytes);
  EXPECT_EQ(LoadU32(reinterpret_cast<const unsigned char*>(&exe[0x200])), 0x600u);
  exe[0x200] = exe[0x201] = 0;
  EXPECT_EQ(exe.substr(0, 0x600), stub);
  EXPECT_EQ(exe.substr(0x600, 8), std::string("RN-VEK\0\1", 8));

  std::string error;
  auto start = tools::LocateArchive((out / "setup.exe").string(), &error);
  ASSERT_TRUE(start) << error;
  EXPECT_EQ(start->offset, 0x600u);
  EXPECT_EQ(start->source, tools::StartSource::kStubConstant);
}

// --compress needs a stub that says it decodes solid archives; one made before the
// features has its writable data where they would be.
TEST(Builder, CompressesOnlyForAStubThatDecodesSolidArchives) {
  struct Case {
    const char* what;
    uint32_t virtual_size, magic, features;
    bool packs;
  } cases[] = {
      {"this release's", 0x200, kStubFeaturesMagic, kStubFeatureSolidLzma, true},
      {"its writable data there", 0x200, 0x00401000, kStubFeatureSolidLzma, false},
      {"the features without solid", 0x200, kStubFeaturesMagic, 0, false},
      {"constants that end before the features", 12, kStubFeaturesMagic, kStubFeatureSolidLzma, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string stub = FakeStub(".vekofs", 0x600);
    testing::PatchU32(stub, 0x44 + 20 + 40 + 8, c.virtual_size);
    testing::PatchU32(stub, 0x200 + StubConstants::kFeaturesMagicOffset, c.magic);
    testing::PatchU32(stub, 0x200 + StubConstants::kFeaturesOffset, c.features);
    ScratchFolder src, out;
    WriteWholeFile(src / "f.txt", "text, text, text, text");
    WriteWholeFile(out / "stub.exe", stub);
    build::PackOptions options;
    options.source_folder = src.path().string();
    options.output = (out / "setup.exe").string();
    options.stub = (out / "stub.exe").string();
    options.compress_level = 1;
    try {
      build::Pack(options);
      EXPECT_TRUE(c.packs);
    } catch (const BuildError& e) {
      EXPECT_FALSE(c.packs);
      EXPECT_NE(std::string(e.what()).find("it cannot extract compressed files (--compress)"), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(fs::exists(out / "setup.exe"), c.packs);
  }
}

// A stub must hold the start offset in a section of its own: not in the headers,
// not in another section's bytes; and its sections must end within 32 bits.
TEST(Builder, RefusesAStubWithoutTheStartOffsetInASectionOfItsOwn) {
  const size_t vekofs_pointer = 0x44 + 20 + 40 + 20;
  std::string in_headers = FakeStub(".vekofs", 0x600), in_text = in_headers, too_small = in_headers;
  std::string beyond_32_bits = in_headers;
  testing::PatchU32(in_headers, vekofs_pointer, 0x40);  // onto "PE\0\0"
  testing::PatchU32(in_text, vekofs_pointer, 0x100);
  testing::PatchU32(too_small, vekofs_pointer - 4, 2);
  testing::PatchU32(beyond_32_bits, vekofs_pointer - 8, 0xFFFFFF00);  // its address
  for (const std::string& stub : {FakeStub(".data", 0x600), std::string("not an executable at all"), in_headers,
                                  in_text, too_small, beyond_32_bits}) {
    ScratchFolder src, out;
    WriteWholeFile(src / "f.txt", "f");
    WriteWholeFile(out / "stub.exe", stub);
    build::PackOptions options;
    options.source_folder = src.path().string();
    options.output = (out / "setup.exe").string();
    options.stub = (out / "stub.exe").string();
    EXPECT_THROW(build::Pack(options), BuildError);
    EXPECT_FALSE(fs::exists(out / "setup.exe"));
    EXPECT_EQ(ReadWholeFile(out / "stub.exe"), stub);
  }
}

}  // namespace
}  // namespace vek
