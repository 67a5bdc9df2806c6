// The sample periodical packed by the builder and extracted through the Win32 edge:
// bytes, last-write times (the stored DOS time as local time) and attributes as the
// Windows API reads them back.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    ASSERT_TRUE(ExtractEntry(loaded.reader, PlatformFileEdge(), static_cast<int32_t>(id), dest).ok()) << id;
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

// A path in UTF-8 as the wide functions take it, in the long form.
std::wstring LongWide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return L"\\\\?\\" + wide;
}

std::string ReadWide(const std::string& utf8) {
  HANDLE h = CreateFileW(LongWide(utf8).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "(missing)";
  char buffer[256];
  DWORD got = 0;
  std::string text;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(h);
  return text;
}

// Names in their own code page whatever the system's (a Windows-1250 archive), in any
// script (a UTF-8 archive), and paths of 300 and 1,000 characters: each written
// under its name; a path over Windows' limit refused before anything is written.
TEST(Win32Extract, NamesInAnyScriptAndPathsBeyondMaxPath) {
  struct Case {
    const char* what;
    bool utf8;
    std::vector<std::string> folders;  // a chain, outermost first
    std::string file;                  // stored bytes of the name
    std::string on_disk;               // the file's name on disk, UTF-8
    bool fits;
  };
  const std::string l232(232, 'l');
  std::vector<std::string> chain300(2, std::string(150, 'd')), chain1000(5, std::string(200, 'd')), over;
  for (int i = 0; i < 142; ++i) over.push_back(l232);  // 142 x 233 units: beyond 32,760
  const Case cases[] = {
      {"Windows-1250",
       false,
       {"\xA3\xF3"
        "d\x9F"},
       "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9.htm",
       "Łódź\\Zażółć gęślą.htm",
       true},
      {"UTF-8", true, {"Ελληνικά", "日本語"}, "Русский photos-📷.txt", "Ελληνικά\\日本語\\Русский photos-📷.txt", true},
      {"300", true, chain300, "f.txt", chain300[0] + "\\" + chain300[1] + "\\f.txt", true},
      {"1000", true, chain1000, "f.txt", "", true},
      {"over the limit", true, over, "f.txt", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    build::ArchiveBuilder b;
    if (c.utf8) b.StoreNamesInUtf8();
    uint16_t parent = 0;
    for (const std::string& folder : c.folders) parent = b.AddDirectory(parent, folder);
    const uint16_t file = b.AddFile(parent, c.file, c.what, testing::DosStamp(2001, 2, 3, 4, 5, 6));
    testing::ScratchFolder out;
    testing::LoadedArchive loaded(b.Serialize());
    ASSERT_TRUE(loaded.load_error.ok());
    AnsiString dest(out.destination().c_str());
    // The folders first, as the installer makes them (not those of a path too long:
    // under Wine the Unix limit of 4,096 bytes ends them long before Windows' own).
    for (uint16_t id = 1; c.fits && id < file; ++id)
      ASSERT_TRUE(ExtractEntry(loaded.reader, PlatformFileEdge(), id, dest).ok()) << id;
    const Error e = ExtractEntry(loaded.reader, PlatformFileEdge(), file, dest);
    std::string path = out.destination() + loaded.reader.GetEntryPath(file).c_str();
    if (!c.fits) {
      EXPECT_EQ(e, InOutError(kIoInvalidFilename));
      EXPECT_TRUE(fs::is_empty(out.path())) << "nothing written";
      continue;
    }
    ASSERT_TRUE(e.ok());
    EXPECT_EQ(ReadWide(path), c.what) << path.size();
    if (!c.on_disk.empty()) {
      EXPECT_EQ(ReadWide(out.destination() + "\\" + c.on_disk), c.what);
    }
  }
}

// The short name (8.3 alias) Windows gives a long name: Wine makes "LONGF~XY" of a
// hash, Windows "LONGFO~1". Learnt from a folder and a file made in a folder of
// their own; empty when the volume makes none.
std::wstring ShortNameOf(const fs::path& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetShortPathNameW(path.wstring().c_str(), buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return L"";
  std::wstring name = fs::path(std::wstring(buffer, n)).filename().wstring();
  return name == path.filename().wstring() ? L"" : name;
}

// An entry named as the short name of another entry's folder or file, written
// before it: Windows would open the other's, so the second file would overwrite the
// first. It is refused; the first stays as written.
TEST(Win32Extract, AShortNameOfAnotherEntrysFolderOrFileIsRefused) {
  testing::ScratchFolder probe;
  fs::create_directories(probe / "LongFolderName");
  testing::WriteWholeFile(probe / "LongFileName.txt", "");
  const std::string folder_alias = fs::path(ShortNameOf(probe / "LongFolderName")).string();
  const std::string file_alias = fs::path(ShortNameOf(probe / "LongFileName.txt")).string();
  if (folder_alias.empty() || file_alias.empty()) GTEST_SKIP() << "no short names on this volume";
  struct Case {
    const char* what;
    bool folder;  // the alias names a folder (the file is config.txt in it), else the file
  } cases[] = {{"a folder's short name", true}, {"a file's short name", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what + std::string(": ") + (c.folder ? folder_alias : file_alias));
    build::ArchiveBuilder b;
    const uint32_t stamp = testing::DosStamp(2001, 2, 3, 4, 5, 6);
    if (c.folder) {
      b.AddFile(b.AddDirectory(0, "LongFolderName"), "config.txt", "first", stamp);
      b.AddFile(b.AddDirectory(0, folder_alias), "config.txt", "second", stamp);
    } else {
      b.AddFile(0, "LongFileName.txt", "first", stamp);
      b.AddFile(0, file_alias, "second", stamp);
    }
    testing::ScratchFolder out;
    testing::LoadedArchive loaded(b.Serialize());
    ASSERT_TRUE(loaded.load_error.ok());
    AnsiString dest(out.destination().c_str());
    const uint32_t n = loaded.reader.GetEntryCount();
    for (uint32_t id = 1; id <= n / 2; ++id)
      ASSERT_TRUE(ExtractEntry(loaded.reader, PlatformFileEdge(), id, dest).ok()) << id;
    // The alias itself is refused: the folder entry, or the file.
    EXPECT_EQ(ExtractEntry(loaded.reader, PlatformFileEdge(), n / 2 + 1, dest), GeneralError(kNameLeadsElsewhere));
    if (c.folder) {
      EXPECT_EQ(ExtractEntry(loaded.reader, PlatformFileEdge(), n, dest), GeneralError(kNameLeadsElsewhere));
    }
    EXPECT_EQ(testing::ReadWholeFile(c.folder ? out / "LongFolderName/config.txt" : out / "LongFileName.txt"), "first");
    size_t files = 0;
    for (auto& e : fs::recursive_directory_iterator(out.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1u) << "nothing else written";
  }
}

}  // namespace
}  // namespace vek
