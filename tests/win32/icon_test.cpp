// The icon of an executable packed with the built stub and a publisher's icon, as
// Windows finds it: the icon resource the window loads (MAINICON), the first icon
// of the file (Explorer's), each image made into an icon.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport.h"
#include "vekbuild.h"

namespace vek {
namespace {

std::string ResourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type) {
  HRSRC found = FindResourceW(module, name, type);
  if (!found) return "";
  HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  return bytes ? std::string(static_cast<const char*>(bytes), SizeofResource(module, found)) : "";
}

TEST(Icon, WindowsFindsThePublishersImages) {
  testing::ScratchFolder out;
  std::vector<std::string> images;
  testing::WriteWholeFile(out / "acme.ico", testing::TestIcon({16, 32}, false, &images));
  testing::WriteWholeFile(out / "setup.cfg", "caption = Acme Setup\nicon = " + (out / "acme.ico").string() + "\n");
  build::PackOptions options;
  options.source_folder = VEK_EXAMPLES_DIR;
  options.output = (out / "setup.exe").string();
  options.stub = VEK_STUB_FILE;
  options.config = (out / "setup.cfg").string();
  build::Pack(options);

  const std::wstring path(options.output.begin(), options.output.end());
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << GetLastError();
  const std::string group = ResourceBytes(module, L"MAINICON", MAKEINTRESOURCEW(14));
  ASSERT_EQ(group.size(), 6 + 14 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    const auto* entry = reinterpret_cast<const unsigned char*>(group.data()) + 6 + 14 * i;
    const std::string image = ResourceBytes(module, MAKEINTRESOURCEW(LoadU16(entry + 12)), MAKEINTRESOURCEW(3));
    EXPECT_TRUE(image == images[i]) << i;
    // The size the window asks for finds its image, and it makes an icon.
    const int size = i == 0 ? 16 : 32;
    const int chosen = LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(const_cast<char*>(group.data())), TRUE, size,
                                                   size, LR_DEFAULTCOLOR);
    EXPECT_EQ(chosen, LoadU16(entry + 12)) << size;
    HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(const_cast<char*>(image.data())),
                                          static_cast<DWORD>(image.size()), TRUE, 0x00030000, size, size, 0);
    EXPECT_NE(icon, nullptr) << size;
    if (icon) DestroyIcon(icon);
  }
  FreeLibrary(module);
  // Explorer's: the file's first icon, its only one.
  EXPECT_EQ(ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0), 1u);
  HICON large = nullptr;
  EXPECT_EQ(ExtractIconExW(path.c_str(), 0, &large, nullptr, 1), 1u);
  if (large) DestroyIcon(large);
}

}  // namespace
}  // namespace vek
