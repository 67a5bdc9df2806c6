// Archives of the previous release, each file deflated on its own and the table a zlib
// stream (tests/data, made by its vekpack -z): vek still lists, tests and extracts them.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "check.h"
#include "crc32.h"
#include "extract.h"
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
    {"index.htm", 6000, 0x509D9932, false},      {"style.css", 920, 0xD91B95B2, false},
    {"empty.txt", 0, 0, false},                  {"data/noise.bin", 2048, 0x4A42F198, false},  // stored
    {"data/notes.txt", 3000, 0xA9D9C85A, true},  {"data/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", 1500, 0xCF887706, false},
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

}  // namespace
}  // namespace vek
