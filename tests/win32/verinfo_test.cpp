// The version information of executables packed with the built stub, as Windows reads
// it (GetFileVersionInfoW, VerQueryValueW) and as vek list reads it.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "cp1250.h"
#include "list.h"
#include "open.h"
#include "testsupport.h"
#include "vekbuild.h"
#include "versioninfo.h"

namespace vek {
namespace {

struct WindowsVersion {
  std::wstring strings[6];  // in the order of kKeys
  DWORD file_ms = 0, file_ls = 0, product_ms = 0, product_ls = 0;
};
const wchar_t* const kKeys[] = {L"CompanyName",    L"FileDescription", L"FileVersion",
                                L"LegalCopyright", L"ProductName",     L"ProductVersion"};

bool ReadWithWindows(const std::string& path, WindowsVersion* out) {
  std::wstring wide(path.begin(), path.end());
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &handle);
  if (size == 0) return false;
  std::string data(size, '\0');
  if (!GetFileVersionInfoW(wide.c_str(), 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) return false;
  out->file_ms = fixed->dwFileVersionMS;
  out->file_ls = fixed->dwFileVersionLS;
  out->product_ms = fixed->dwProductVersionMS;
  out->product_ls = fixed->dwProductVersionLS;
  for (int i = 0; i < 6; ++i) {
    wchar_t* text = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + kKeys[i];
    if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) return false;
    out->strings[i].assign(text, length > 0 ? length - 1 : 0);  // the length counts the zero
  }
  return true;
}

std::wstring Wide(const char* utf8) {
  uint16_t units[256];
  const size_t n = Utf8ToUtf16(utf8, units, 256);
  return std::wstring(units, units + n);
}

std::string Pack(testing::ScratchFolder& out, const std::string& config) {
  build::PackOptions options;
  options.source_folder = VEK_EXAMPLES_DIR;
  options.output = (out / "setup.exe").string();
  options.stub = VEK_STUB_FILE;
  if (!config.empty()) {
    testing::WriteWholeFile(out / "setup.cfg", config);
    options.config = (out / "setup.cfg").string();
  }
  build::Pack(options);
  return options.output;
}

TEST(VersionInfo, WindowsAndVekReadWhatTheConfigurationSet) {
  // At its limit: 60 characters, four of them beyond U+FFFF (two UTF-16 units each).
  const std::string book = "\xF0\x9F\x93\x96";
  const std::string long_name = std::string(56, 'p') + book + book + book + book;
  const std::string greek =
      "\xC2\xA9 2026 Acme \xE2\x80\x94 \xCE\x95\xCE\xBA\xCE\xB4\xCF\x8C\xCF\x83\xCE\xB5\xCE\xB9\xCF\x82";
  const struct {
    std::string config;
    std::string strings[6];  // in the order of kKeys
    DWORD ms, ls;
  } cases[] = {
      // The stub's own, with the project's version.
      {"", {"", "Self-extracting VEK archive", "1.0.0", "", "VEK self-extractor", "1.0.0"}, 0x10000, 0},
      // The caption names the product and describes the file.
      {"caption = Acme Reader Setup\n",
       {"", "Acme Reader Setup", "1.0.0", "", "Acme Reader Setup", "1.0.0"},
       0x10000,
       0},
      {"caption = Acme Reader 2.1 Setup\nproduct = Acme Reader\npublisher = Acme Sp. z o.o.\nversion = 2.1.65535.7\n"
       "copyright = " +
           greek + "\n",
       {"Acme Sp. z o.o.", "Acme Reader 2.1 Setup", "2.1.65535.7", greek, "Acme Reader", "2.1.65535.7"},
       0x20001,
       0xFFFF0007},
      // Without a caption the product describes the file.
      {"product = " + long_name + "\nversion = 3\n", {"", long_name, "3", "", long_name, "3"}, 0x30000, 0},
  };
  for (const auto& c : cases) {
    testing::ScratchFolder out;
    const std::string exe = Pack(out, c.config);
    WindowsVersion read;
    ASSERT_TRUE(ReadWithWindows(exe, &read)) << c.config;
    EXPECT_EQ(read.file_ms, c.ms) << c.config;
    EXPECT_EQ(read.file_ls, c.ls) << c.config;
    EXPECT_EQ(read.product_ms, c.ms) << c.config;
    EXPECT_EQ(read.product_ls, c.ls) << c.config;
    const std::string image = testing::ReadWholeFile(exe);
    const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
    const auto place = tools::FindVersionResource(bytes, image.size());
    ASSERT_TRUE(place) << c.config;
    tools::VersionInfo info;
    ASSERT_TRUE(tools::ReadVersionInfo(bytes + place->file_offset, place->size, &info)) << c.config;
    ASSERT_EQ(info.strings.size(), 6u);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(read.strings[i], Wide(c.strings[i].c_str())) << c.config << ": " << i;
      EXPECT_EQ(info.strings[i].first, std::string(kKeys[i], kKeys[i] + wcslen(kKeys[i])));
      EXPECT_EQ(info.strings[i].second, c.strings[i]) << c.config << ": " << i;
    }
    // vek list prints it.
    tools::OpenedArchive archive;
    std::string error;
    ASSERT_TRUE(tools::OpenArchive(exe, &archive, &error)) << error;
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    tools::ListArchive(archive, f);
    tools::CloseArchive(&archive);
    rewind(f);
    std::string shown(1 << 16, '\0');
    shown.resize(fread(shown.data(), 1, shown.size(), f));
    fclose(f);
    EXPECT_NE(shown.find("Version information:\n  (file)           " + std::to_string(c.ms >> 16) + "." +
                         std::to_string(c.ms & 0xFFFF) + "." + std::to_string(c.ls >> 16) + "." +
                         std::to_string(c.ls & 0xFFFF) + "\n"),
              std::string::npos)
        << shown.substr(0, 600);
    EXPECT_NE(shown.find("\n  ProductName      " + c.strings[4] + "\n"), std::string::npos) << shown.substr(0, 600);
  }
}

}  // namespace
}  // namespace vek
