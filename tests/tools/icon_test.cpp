// The publisher's icon: icons vekpack refuses, and the resources of executables packed
// with the built stubs, read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check.h"
#include "open.h"
#include "pefile.h"
#include "testsupport.h"
#include "vekbuild.h"
#include "versioninfo.h"

namespace vek {
namespace {

using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::WriteWholeFile;

// Packs a small tree behind `stub` with a configuration (in cfg/) that names the icon
// cfg/acme.ico, relative to it.
build::PackOptions PackWithIcon(ScratchFolder& out, const std::string& stub, const std::string& config) {
  std::filesystem::create_directories(out / "src");
  std::filesystem::create_directories(out / "cfg");
  WriteWholeFile(out / "src" / "index.htm", "<html></html>");
  WriteWholeFile(out / "cfg" / "setup.cfg", config);
  build::PackOptions options;
  options.source_folder = (out / "src").string();
  options.output = (out / "setup.exe").string();
  options.stub = stub;
  options.config = (out / "cfg" / "setup.cfg").string();
  build::Pack(options);
  return options;
}

TEST(Icon, RefusedNamingTheFileAndWhatIsTaken) {
  const std::string good = testing::TestIcon({16, 32}, true);
  std::string other_type = good, none = good, many = good, beyond = good, square = testing::TestIcon({16}, false);
  testing::PatchU16(other_type, 2, 2);  // a cursor
  testing::PatchU16(none, 4, 0);
  testing::PatchU16(many, 4, 65);
  testing::PatchU32(beyond, 6 + 16 + 12, static_cast<uint32_t>(good.size()));  // image 2 begins at the end
  testing::PatchU32(square, 6 + 16 + 8, 16);                                   // its bitmap as high as wide: no mask
  std::string empty = good, shared = good, overlapping = good, in_directory = good;
  testing::PatchU32(empty, 6 + 16 + 8, 0);
  shared.replace(6 + 16 + 8, 8, good.substr(6 + 8, 8));  // image 2 is image 1
  testing::PatchU32(overlapping, 6 + 16 + 12,
                    LoadU32(reinterpret_cast<const unsigned char*>(good.data()) + 6 + 16 + 12) - 4);
  testing::PatchU32(in_directory, 6 + 12, 6 + 16);
  const std::string taken =
      "; it takes a Windows .ico file of 1 to 64 images, each a bitmap or a PNG, of at most 1048576 bytes";
  const struct {
    std::string bytes;  // "/": a folder
    std::string message;
  } cases[] = {
      {"", "not an icon vekpack can use (it does not begin as an icon does)" + taken},
      {other_type, "not an icon vekpack can use (it does not begin as an icon does)" + taken},
      {none, "(it holds 0 images)" + taken},
      {many, "(it holds 65 images)" + taken},
      {good.substr(0, 6 + 16), "(its directory is cut short)" + taken},
      {beyond, "(image 2 lies beyond the end of the file)" + taken},
      {good.substr(0, good.size() - 1), "(image 3 lies beyond the end of the file)" + taken},
      {square, "(image 1 is neither a bitmap of an icon nor a PNG)" + taken},
      {empty, "(image 2 is empty)" + taken},
      {shared, "(image 2 overlaps image 1)" + taken},
      {overlapping, "(image 2 overlaps image 1)" + taken},
      {in_directory, "(image 1 lies in the directory)" + taken},
      {good + std::string(build::kIconSizeLimit, 'x'), "the icon is larger than 1048576 bytes"},
      {"/", "cannot open the icon: it is a folder"},
  };
  for (const auto& c : cases) {
    ScratchFolder out;
    std::filesystem::create_directories(out / "cfg");
    if (c.bytes == "/") {
      std::filesystem::create_directories(out / "cfg" / "acme.ico");
    } else {
      WriteWholeFile(out / "cfg" / "acme.ico", c.bytes);
    }
    try {
      PackWithIcon(out, (out / "no-stub.exe").string(), "icon = acme.ico\n");
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const build::BuildError& e) {
      EXPECT_NE(std::string(e.what()).find((out / "cfg" / "acme.ico").string() + ": "), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(out / "setup.exe"));
  }
  // A good icon, and a stub without an icon of its own to replace.
  ScratchFolder out;
  std::filesystem::create_directories(out / "cfg");
  WriteWholeFile(out / "cfg" / "acme.ico", good);
  std::string stub = testing::FakeStub(".vekofs", 0x600);
  testing::PatchU32(stub, 0x44 + 20 + 40 + 8, 16);  // the constants' section: room for every offset
  WriteWholeFile(out / "stub.exe", stub);
  try {
    PackWithIcon(out, (out / "stub.exe").string(), "icon = acme.ico\n");
    ADD_FAILURE() << "accepted a stub without an icon";
  } catch (const build::BuildError& e) {
    EXPECT_NE(std::string(e.what()).find("stub.exe: this stub cannot carry an icon ("), std::string::npos) << e.what();
  }
}

// The built stubs (VEK_TEST_STUBS: paths separated by "|"), when the build has them.
std::vector<std::string> BuiltStubs() {
  std::vector<std::string> stubs;
#ifdef VEK_TEST_STUBS
  const std::string all = VEK_TEST_STUBS;
  for (size_t begin = 0; begin < all.size();) {
    const size_t end = std::min(all.find('|', begin), all.size());
    if (end > begin) stubs.push_back(all.substr(begin, end - begin));
    begin = end + 1;
  }
#endif
  return stubs;
}

const tools::Resource* Find(const std::vector<tools::Resource>& resources, uint16_t type,
                            const tools::ResourceId& name) {
  for (const tools::Resource& r : resources) {
    if (r.type.number == type && r.type.name.empty() && r.name == name) return &r;
  }
  return nullptr;
}

TEST(Icon, PackedExecutablesCarryThePublishersImagesBesideTheStubsResources) {
  const std::vector<std::string> stubs = BuiltStubs();
  if (stubs.empty()) GTEST_SKIP() << "no built stub";
  for (const std::string& stub_path : stubs) {
    SCOPED_TRACE(stub_path);
    const std::string stub = ReadWholeFile(stub_path);
    std::vector<tools::Resource> own;
    ASSERT_TRUE(tools::ReadResources(reinterpret_cast<const unsigned char*>(stub.data()), stub.size(), &own));
    const tools::ResourceId main_icon{0, u"MAINICON"};
    ASSERT_NE(Find(own, tools::kIconGroupType, main_icon), nullptr);

    ScratchFolder out;
    std::vector<std::string> images;
    std::filesystem::create_directories(out / "cfg");
    WriteWholeFile(out / "cfg" / "acme.ico", testing::TestIcon({16, 32, 48}, true, &images));
    const build::PackOptions options = PackWithIcon(out, stub_path, "publisher = Acme Ltd.\nicon = acme.ico\n");
    const std::string exe = ReadWholeFile(options.output);
    std::vector<tools::Resource> read;
    ASSERT_TRUE(tools::ReadResources(reinterpret_cast<const unsigned char*>(exe.data()), exe.size(), &read));

    // The icon: a group of the publisher's images, byte for byte, in the stub's language.
    const tools::Resource* group = Find(read, tools::kIconGroupType, main_icon);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->language, Find(own, tools::kIconGroupType, main_icon)->language);
    const auto* directory = reinterpret_cast<const unsigned char*>(group->data.data());
    ASSERT_EQ(group->data.size(), 6 + 14 * images.size());
    EXPECT_EQ(LoadU16(directory + 4), images.size());
    size_t icons = 0;
    for (const tools::Resource& r : read) icons += r.type.number == tools::kIconType;
    EXPECT_EQ(icons, images.size()) << "the stub's own images stay";
    for (size_t i = 0; i < images.size(); ++i) {
      const unsigned char* entry = directory + 6 + 14 * i;
      EXPECT_EQ(LoadU32(entry + 8), images[i].size()) << i;
      const tools::Resource* image = Find(read, tools::kIconType, tools::ResourceId{LoadU16(entry + 12), {}});
      ASSERT_NE(image, nullptr) << i;
      EXPECT_TRUE(image->data == images[i]) << i;
      EXPECT_EQ(exe.substr(image->file_offset, image->data.size()), images[i]) << i;
    }
    // The manifest as it was; the version information with the publisher set.
    const tools::Resource* manifest = Find(read, tools::kManifestType, tools::ResourceId{1, {}});
    ASSERT_NE(manifest, nullptr);
    EXPECT_EQ(manifest->data, Find(own, tools::kManifestType, tools::ResourceId{1, {}})->data);
    const auto version = tools::FindVersionResource(reinterpret_cast<const unsigned char*>(exe.data()), exe.size());
    ASSERT_TRUE(version);
    tools::VersionInfo info;
    ASSERT_TRUE(tools::ReadVersionInfo(reinterpret_cast<const unsigned char*>(exe.data()) + version->file_offset,
                                       version->size, &info));
    EXPECT_EQ(info.strings.at(0), (std::pair<std::string, std::string>("CompanyName", "Acme Ltd.")));

    // The stub's constants count the grown stub: the archive is where they say, sound.
    std::string error;
    const auto start = tools::LocateArchive(options.output, &error);
    ASSERT_TRUE(start) << error;
    EXPECT_GT(start->offset, stub.size());
    EXPECT_EQ(exe.substr(start->offset, 6), "RN-VEK");
    tools::OpenedArchive archive;
    ASSERT_TRUE(tools::OpenArchive(options.output, &archive, &error)) << error;
    EXPECT_TRUE(tools::CheckArchive(archive).empty());
    tools::CloseArchive(&archive);
  }
}

}  // namespace
}  // namespace vek
