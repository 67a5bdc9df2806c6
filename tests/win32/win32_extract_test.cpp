// The sample periodical packed by the builder and extracted through the Win32 edge:
// bytes, last-write times (the stored DOS time as local time) and attributes as the
// Windows API reads them back.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "extractor.h"
#include "rnvek100.h"
#include "testsupport.h"
#include "vekbuild.h"

namespace vek {
namespace {

namespace fs = std::filesystem;

// The last-write time of a file as a DOS time stamp in local time.
bool ReadBackStamp(const std::string& path, uint32_t* stamp) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME utc, local;
  WORD date, time;
  bool ok = GetFileTime(h, nullptr, nullptr, &utc) && FileTimeToLocalFileTime(&utc, &local) &&
            FileTimeToDosDateTime(&local, &date, &time);
  CloseHandle(h);
  *stamp = (static_cast<uint32_t>(date) << 16) | time;
  return ok;
}

TEST(Win32Extract, TheSampleComesBackWithBytesTimesAndAttributes) {
  build::ArchiveBuilder b;
  build::ScanFolder(VEK_EXAMPLES_DIR, b, nullptr);
  ASSERT_GT(b.entries().size(), 10u);
  // Stored times in summer and winter, and attribute combinations the sample lacks.
  b.AddFile(0, "summer-readonly.txt", "ro", testing::DosStamp(1999, 7, 15, 14, 30, 10), 0x21);
  b.AddFile(0, "winter-hidden.txt", "h", testing::DosStamp(1999, 1, 15, 9, 5, 0), 0x22);
  b.AddFile(0, "system.txt", "s", testing::DosStamp(2024, 2, 29, 23, 59, 58), 0x24);

  testing::ScratchFolder out;
  testing::LoadedArchive loaded(b.Serialize());
  ASSERT_TRUE(loaded.load_error.ok());
  AnsiString dest(out.destination().c_str());
  uint32_t n = loaded.reader.GetEntryCount();
  ASSERT_TRUE(ForceDirectoryChain(dest, PlatformFileEdge()).ok());
  for (uint32_t id = 1; id <= n; ++id) {
    ASSERT_TRUE(ExtractEntry(loaded.reader, static_cast<int32_t>(id), dest).ok()) << id;
  }
  int files = 0;
  for (const build::Entry& e : b.entries()) {
    std::string path = out.destination() + loaded.reader.GetEntryPath(e.id).c_str();
    DWORD attributes = GetFileAttributesA(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << path;
    if (e.kind == kEntryKindDirectory) {
      EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY) << path;
      continue;
    }
    ++files;
    std::string expected = e.source.empty() ? e.data : testing::ReadWholeFile(fs::path(e.source));
    EXPECT_EQ(testing::ReadWholeFile(fs::path(path)), expected) << path;
    uint32_t stamp = 0;
    ASSERT_TRUE(ReadBackStamp(path, &stamp)) << path;
    EXPECT_EQ(stamp, e.time_stamp) << path;
    EXPECT_EQ(attributes, e.attributes) << path;
  }
  EXPECT_GT(files, 10);
}

}  // namespace
}  // namespace vek
