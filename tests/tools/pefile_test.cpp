// The PE reader: the section of the stub's constants, and resource tables read and
// written, with images broken as a hostile or damaged file would be.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pechecksum.h"
#include "pefile.h"
#include "pelayout.h"
#include "testsupport.h"
#include "versioninfo.h"

namespace vek {
namespace {

using testing::PatchU16;
using testing::PatchU32;

// A PE32+ image: headers up to 0x400, then one section ".rsrc" at the address 0x1000
// of rsrc_size bytes, which the resource directory names (when rsrc_size > 0).
constexpr size_t kPeAt = 0x40, kOptionalAt = kPeAt + 24, kSectionsAt = kOptionalAt + 240, kRsrcAt = 0x400;
std::string Pe32PlusImage(size_t rsrc_size) {
  std::string image(kRsrcAt + rsrc_size, '\0');
  image.replace(0, 2, "MZ");
  PatchU32(image, pe::DosHeader::kNewHeaderOffset, kPeAt);
  image.replace(kPeAt, 4, std::string("PE\0\0", 4));
  PatchU16(image, kPeAt + 4 + pe::FileHeader::kSectionCountOffset, rsrc_size ? 1 : 0);
  PatchU16(image, kPeAt + 4 + pe::FileHeader::kOptionalHeaderSizeOffset, kSectionsAt - kOptionalAt);
  PatchU16(image, kOptionalAt, pe::kPe32PlusMagic);
  PatchU32(image, kOptionalAt + pe::OptionalHeader::kSectionAlignmentOffset, 0x1000);
  PatchU32(image, kOptionalAt + pe::OptionalHeader::kFileAlignmentOffset, 0x200);
  PatchU32(image, kOptionalAt + pe::OptionalHeader::kHeadersSizeOffset, kRsrcAt);
  PatchU32(image, kOptionalAt + pe::OptionalHeader::kPe32PlusDirectoriesOffset - 4, 16);
  if (rsrc_size) {
    image.replace(kSectionsAt, 5, ".rsrc");
    PatchU32(image, kSectionsAt + pe::SectionHeader::kVirtualSizeOffset, rsrc_size);
    PatchU32(image, kSectionsAt + pe::SectionHeader::kAddressOffset, 0x1000);
    PatchU32(image, kSectionsAt + pe::SectionHeader::kRawSizeOffset, rsrc_size);
    PatchU32(image, kSectionsAt + pe::SectionHeader::kRawPointerOffset, kRsrcAt);
    const size_t directory = kOptionalAt + pe::OptionalHeader::kPe32PlusDirectoriesOffset +
                             pe::kResourceDirectory * pe::DataDirectory::kSize;
    PatchU32(image, directory, 0x1000);
    PatchU32(image, directory + 4, rsrc_size);
  }
  return image;
}

// Writes a resource directory at `at` (from the table's start) of numbered entries,
// each leading to its target (kResourceHighBit | offset: a directory; else a leaf).
void PutDirectory(std::string& image, size_t at, const std::vector<uint32_t>& targets) {
  PatchU16(image, kRsrcAt + at + pe::ResourceDirectoryHeader::kIdCountOffset, static_cast<uint16_t>(targets.size()));
  for (size_t i = 0; i < targets.size(); ++i) {
    const size_t entry = kRsrcAt + at + pe::ResourceDirectoryHeader::kSize + i * pe::ResourceEntry::kSize;
    PatchU32(image, entry, static_cast<uint32_t>(i + 1));
    PatchU32(image, entry + pe::ResourceEntry::kTargetOffset, targets[i]);
  }
}
void PutLeaf(std::string& image, size_t at, uint32_t rva, uint32_t size) {
  PatchU32(image, kRsrcAt + at + pe::ResourceDataEntry::kAddressOffset, rva);
  PatchU32(image, kRsrcAt + at + pe::ResourceDataEntry::kSizeOffset, size);
}

// One type, one name, one language: the root at 0, the type's directory at 0x20, the
// name's at 0x40, the leaf at 0x60, its 4 bytes of data at 0x80.
std::string OneResourceImage() {
  std::string image = Pe32PlusImage(0x200);
  constexpr uint32_t kDir = pe::kResourceHighBit;
  PutDirectory(image, 0, {kDir | 0x20});
  PutDirectory(image, 0x20, {kDir | 0x40});
  PutDirectory(image, 0x40, {0x60});
  PutLeaf(image, 0x60, 0x1080, 4);
  image.replace(kRsrcAt + 0x80, 4, "data");
  return image;
}

TEST(PeResources, WrittenTablesReadBackInTheirOrder) {
  std::vector<tools::Resource> resources(3);
  resources[0].type.number = tools::kVersionType;
  resources[0].name.number = 1;
  resources[0].language = 0x409;
  resources[0].data = "version";
  resources[1].type.number = tools::kIconGroupType;
  resources[1].name.name = u"MAINICON";
  resources[1].code_page = 1252;
  resources[1].data = "icon";
  resources[2] = resources[0];
  resources[2].language = 0x415;
  // Empty data last: at the very end of the new section.
  resources.emplace_back().type.number = 0x7FFF;
  std::string image = OneResourceImage();
  ASSERT_EQ(tools::ReplaceResources(&image, resources), "");
  EXPECT_EQ(image.substr(kSectionsAt, 8), std::string(".rsrc0\0\0", 8));  // the old table's section
  std::vector<tools::Resource> read;
  ASSERT_TRUE(tools::ReadResources(reinterpret_cast<const unsigned char*>(image.data()), image.size(), &read));
  // The table's order: types by number, names before numbers, languages by number.
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(read[3].data, "");
  EXPECT_EQ(read[0].type.number, tools::kIconGroupType);
  EXPECT_EQ(read[0].name.name, u"MAINICON");
  EXPECT_EQ(read[0].code_page, 1252u);
  EXPECT_EQ(read[1].language, 0x409);
  EXPECT_EQ(read[2].language, 0x415);
  for (const tools::Resource& r : read) EXPECT_EQ(image.substr(r.file_offset, r.data.size()), r.data);
}

// Every offset in a table is checked before it is followed, and a table that would
// take long or much memory to read is refused: directories reached twice, more
// entries than any executable has, leaves that share their data.
TEST(PeResources, BrokenTablesAreRefused) {
  constexpr uint32_t kDir = pe::kResourceHighBit;
  const auto patched = [](size_t at, uint32_t value) {
    std::string image = OneResourceImage();
    PatchU32(image, kRsrcAt + at, value);
    return image;
  };
  std::string fan_out = Pe32PlusImage(0x1000);  // 128 × 128 × 2 leaves
  PutDirectory(fan_out, 0, std::vector<uint32_t>(128, kDir | 0x800));
  PutDirectory(fan_out, 0x800, std::vector<uint32_t>(128, kDir | 0xC20));
  PutDirectory(fan_out, 0xC20, {0xC40, 0xC40});
  PutLeaf(fan_out, 0xC40, 0x1000, 4);
  // 16,000 types leading to one name's directory of 16,000: read whole, 2.56e8
  // languages.
  std::string quadratic = Pe32PlusImage(0x40000);
  PutDirectory(quadratic, 0, std::vector<uint32_t>(16000, kDir | 0x20000));
  PutDirectory(quadratic, 0x20000, std::vector<uint32_t>(16000, kDir | 0x3F800));
  // 2,000 leaves naming one block of 3 KiB: 6 MB copied from 21 KiB.
  std::string shared = Pe32PlusImage(0x5000);
  PutDirectory(shared, 0, {kDir | 0x20});
  PutDirectory(shared, 0x20, {kDir | 0x40});
  PutDirectory(shared, 0x40, std::vector<uint32_t>(2000, 0x4000));
  PutLeaf(shared, 0x4000, 0x1000 + 0x4100, 0xC00);
  std::string empty_at_end = OneResourceImage(), empty_beyond = OneResourceImage();
  PutLeaf(empty_at_end, 0x60, 0x1200, 0);  // no data, where the section ends
  PutLeaf(empty_beyond, 0x60, 0x1201, 0);
  std::string no_optional_header = OneResourceImage();
  PatchU16(no_optional_header, kOptionalAt, 0);
  std::string table_beyond_section = OneResourceImage();
  PatchU32(table_beyond_section, kOptionalAt + pe::OptionalHeader::kPe32PlusDirectoriesOffset + 16, 0x1200);
  const struct {
    const char* what;
    std::string image;
    bool read;
  } cases[] = {
      {"sound", OneResourceImage(), true},
      {"a type leading back to the root", patched(0x10 + 4, kDir | 0), false},
      {"a language leading to a directory", patched(0x40 + 0x10 + 4, kDir | 0x40), false},
      {"a name where a language must be", patched(0x40 + 0x10, kDir | 0x90), false},
      {"a name beyond the table", patched(0x20 + 0x10, kDir | 0x5000), false},
      {"a directory beyond the table", patched(0x10 + 4, kDir | 0x7FFFFFF0), false},
      {"a leaf beyond the table", patched(0x40 + 0x10 + 4, 0x1F8), false},
      {"data outside every section", patched(0x60, 0x3000), false},
      {"data running past its section", patched(0x60 + 4, 0x181), false},
      {"more entries than the table holds", patched(0x0C, 0xFFFF0000), false},
      {"more leaves than any executable has", fan_out, false},
      {"directories reached again and again", quadratic, false},
      {"leaves sharing their data", shared, false},
      {"empty data at the end of its section", empty_at_end, true},
      {"empty data beyond its section", empty_beyond, false},
      {"no optional header of a known kind", no_optional_header, false},
      {"the table outside every section", table_beyond_section, false},
  };
  for (const auto& c : cases) {
    std::vector<tools::Resource> read;
    EXPECT_EQ(tools::ReadResources(reinterpret_cast<const unsigned char*>(c.image.data()), c.image.size(), &read),
              c.read)
        << c.what;
  }
  std::vector<tools::Resource> none;
  const std::string bare = Pe32PlusImage(0);
  EXPECT_TRUE(tools::ReadResources(reinterpret_cast<const unsigned char*>(bare.data()), bare.size(), &none));
  EXPECT_TRUE(none.empty());
}

TEST(PeResources, AnImageWithoutRoomIsLeftAsItWas) {
  std::string full = Pe32PlusImage(0x200);
  PatchU32(full, kOptionalAt + pe::OptionalHeader::kHeadersSizeOffset, kSectionsAt + pe::SectionHeader::kSize);
  const auto patched = [](size_t at, uint32_t value) {
    std::string image = Pe32PlusImage(0x200);
    PatchU32(image, at, value);
    return image;
  };
  constexpr size_t kFileAlignment = kOptionalAt + pe::OptionalHeader::kFileAlignmentOffset;
  constexpr size_t kSectionAlignment = kOptionalAt + pe::OptionalHeader::kSectionAlignmentOffset;
  const struct {
    std::string image;
    const char* problem;
  } cases[] = {
      {full, "its headers have no room for another section"},
      {patched(kFileAlignment, 0x300), "its file alignment 768 is not a power of two from 512 to 65536"},
      {patched(kFileAlignment, 0x10000000), "its file alignment 268435456 is not a power of two from 512 to 65536"},
      {patched(kFileAlignment, 0x100), "its file alignment 256 is not a power of two from 512 to 65536"},
      {patched(kSectionAlignment, 0x100),
       "its section alignment 256 is not a power of two at least its file alignment"},
      {patched(kSectionsAt + pe::SectionHeader::kVirtualSizeOffset, 0xFFFFF001),
       "its section 1 ends beyond what 32 bits address"},
      {patched(kSectionsAt + pe::SectionHeader::kRawPointerOffset, 0xFFFFFF00),
       "its section 1 ends beyond what 32 bits address"},
      {testing::FakeStub(".vekofs", 0x600), "it is no PE image with a resource table"},
  };
  for (const auto& c : cases) {
    std::string image = c.image;
    EXPECT_EQ(tools::ReplaceResources(&image, {}), c.problem);
    EXPECT_EQ(image, c.image);
  }
}

// The constants' section must be a section of its own, in the file, past the headers.
TEST(PeStartOffsetSection, IsFoundOnlyAsASectionOfItsOwn) {
  constexpr size_t kSecond = 0x44 + 20 + 40;  // FakeStub's second section header
  const std::string stub = testing::FakeStub(".vekofs", 0x600);
  const auto patched = [&](size_t at, uint32_t value) {
    std::string image = stub;
    PatchU32(image, at, value);
    return image;
  };
  std::string with_headers_size = stub;  // an optional header whose SizeOfHeaders is 0x400
  PatchU16(with_headers_size, 0x44 + pe::FileHeader::kOptionalHeaderSizeOffset, 64);
  with_headers_size.replace(0x44 + 20 + 64, 80, stub.substr(0x44 + 20, 80));
  PatchU32(with_headers_size, 0x44 + 20 + pe::OptionalHeader::kHeadersSizeOffset, 0x400);
  const struct {
    const char* what;
    std::string image;
    uint32_t offset;  // 0: none found
    const char* problem;
  } cases[] = {
      {"sound", stub, 0x200, ""},
      {"another name", testing::FakeStub(".data", 0x600), 0, ""},
      {"no executable", "not an executable at all", 0, ""},
      {"the PE header beyond the bytes", patched(0x3C, 0x5FF), 0, ""},
      {"a section table beyond the bytes", patched(0x44 + 2, 0xFFFF), 0, ""},
      {"in the headers", patched(kSecond + 20, 0x40), 0, "lies in the PE headers"},
      {"in the headers by SizeOfHeaders", with_headers_size, 0, "lies in the PE headers"},
      {"in another section", patched(kSecond + 20, 0x100), 0, "overlaps the data of another section"},
      {"too small", patched(kSecond + 16, 2), 0, "holds fewer than 4 bytes"},
      {"beyond the file", patched(kSecond + 20, 0x800), 0, "lies beyond the end of the file"},
  };
  for (const auto& c : cases) {
    std::string problem = "stale";
    const auto span =
        tools::FindStartOffsetSection(reinterpret_cast<const unsigned char*>(c.image.data()), c.image.size(), &problem);
    EXPECT_EQ(span ? span->file_offset : 0, c.offset) << c.what;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
    if (!*c.problem) {
      EXPECT_EQ(problem, "") << c.what;
    }
    if (span) {
      EXPECT_EQ(span->image_end, 0x400u) << c.what;
    }
  }
}

// A block of a version resource: key, value (value_length counting UTF-16 units of a
// text, bytes of anything else) and children.
std::string VersionBlock(const std::u16string& key, const std::string& value, bool text,
                         const std::string& children = "") {
  std::string b(6, '\0');
  for (char16_t c : key + u'\0') b += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  b.resize((b.size() + 3) & ~size_t{3}, '\0');
  b += value;
  b.resize((b.size() + 3) & ~size_t{3}, '\0');
  b += children;
  PatchU16(b, 0, static_cast<uint16_t>(b.size()));
  PatchU16(b, 2, static_cast<uint16_t>(text ? value.size() / 2 : value.size()));
  PatchU16(b, 4, text ? 1 : 0);
  return b;
}

// Strings are read within their blocks: a binary one, last in the resource, is read
// as its bytes (not as that many UTF-16 units, past the resource's end).
TEST(VersionInfo, StringsAreReadWithinTheirBlocks) {
  std::string fixed(52, '\0');
  PatchU32(fixed, 0, 0xFEEF04BD);
  const auto resource = [&](const std::string& last) {
    const std::string table =
        VersionBlock(u"040904B0", "", true, VersionBlock(u"CompanyName", std::string("A\0\0\0", 4), true) + last);
    return VersionBlock(u"VS_VERSION_INFO", fixed, false, VersionBlock(u"StringFileInfo", "", true, table));
  };
  std::string text_too_long = VersionBlock(u"Comments", "AB", true);
  PatchU16(text_too_long, 2, 40);
  const struct {
    const char* what;
    std::string last;
    bool read;
    std::string value;  // the last string's
  } cases[] = {
      {"text", VersionBlock(u"Comments", std::string("A\0B\0", 4), true), true, "AB"},
      {"binary", VersionBlock(u"Comments", "ABCD", false), true, "\xE4\x89\x81\xE4\x91\x83"},  // U+4241 U+4443
      {"binary of an odd length", VersionBlock(u"Comments", "ABC", false), true, "\xE4\x89\x81"},
      {"a value past its block", text_too_long, false, ""},
  };
  for (const auto& c : cases) {
    // Bytes that are no zeros after the resource: a reader past its end would show them.
    const std::string bytes = resource(c.last) + "xxxx";
    tools::VersionInfo info;
    ASSERT_EQ(tools::ReadVersionInfo(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size() - 4, &info),
              c.read)
        << c.what;
    if (!c.read) continue;
    ASSERT_EQ(info.strings.size(), 2u) << c.what;
    EXPECT_EQ(info.strings[0].second, "A") << c.what;
    EXPECT_EQ(info.strings[1].second, c.value) << c.what;
  }
}

// A text longer than its slot is not set in place; the resource made anew holds it,
// in a block of its own size, beside the strings that fitted and the one it lacked.
TEST(VersionInfo, ATextBeyondItsSlotGetsABlockThatFitsIt) {
  std::string fixed(52, '\0');
  PatchU32(fixed, 0, 0xFEEF04BD);
  const std::string table = VersionBlock(u"040904B0", "", true,
                                         VersionBlock(u"CompanyName", std::string("A\0\0\0", 4), true) +
                                             VersionBlock(u"ProductName", std::string("B\0\0\0", 4), true));
  std::string bytes = VersionBlock(u"VS_VERSION_INFO", fixed, false, VersionBlock(u"StringFileInfo", "", true, table));
  const std::vector<std::pair<std::string, std::string>> strings = {
      {"CompanyName", "Acme Ltd."}, {"ProductName", "C"}, {"Comments", "new"}};
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  std::string in_place = bytes;
  EXPECT_FALSE(
      tools::SetVersionInfo(reinterpret_cast<unsigned char*>(in_place.data()), in_place.size(), nullptr, {strings[0]})
          .empty());
  auto grown = tools::AddVersionStrings(data, bytes.size(), strings);
  ASSERT_TRUE(grown);
  auto* made = reinterpret_cast<unsigned char*>(grown->data());
  ASSERT_EQ(tools::SetVersionInfo(made, grown->size(), nullptr, strings), "");
  tools::VersionInfo info;
  ASSERT_TRUE(tools::ReadVersionInfo(made, grown->size(), &info));
  EXPECT_EQ(info.strings, strings);
}

// The PE checksum: words summed with their carries folded back, the field as zeros,
// the length added; the same in any pieces.
TEST(PeChecksum, SumsWordsFoldsCarriesAndAddsTheLength) {
  const struct {
    std::string bytes;
    uint64_t field;
    uint32_t checksum;
  } cases[] = {
      {"", 100, 0},
      {std::string("\x01\x02\x03"), 100, 0x0201 + 0x0003 + 3},
      {std::string("\xFF\xFF\xFF\xFF"), 100, 0xFFFF + 4},
      {std::string("\xFF\xFF\xFF\xFF\x01\x00", 6), 100, 1 + 6},
      {std::string("\x01\x00\xAA\xBB\xCC\xDD\x02\x00", 8), 2, 1 + 2 + 8},
      {std::string("\x01\xAA\xBB\xCC\xDD\x02", 6), 1, 0x0001 + 0x0200 + 6},
  };
  for (const auto& c : cases) {
    PeChecksum sum(c.field);
    sum.Add(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(sum.Finish(), c.checksum) << c.bytes.size() << " bytes, field " << c.field;
  }
  std::string bytes(4099, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 >> 3);
  PeChecksum whole(0x99);
  whole.Add(bytes.data(), bytes.size());
  for (size_t cut = 0; cut <= bytes.size(); cut += 97) {
    PeChecksum pieces(0x99);
    pieces.Add(bytes.data(), cut / 3);
    pieces.Add(bytes.data() + cut / 3, cut - cut / 3);
    pieces.Add(bytes.data() + cut, bytes.size() - cut);
    EXPECT_EQ(pieces.Finish(), whole.Finish()) << cut;
  }
  // The field of a PE32+ image: after the signature, the file header and 64 bytes.
  const std::string image = Pe32PlusImage(0);
  EXPECT_EQ(PeChecksumField(reinterpret_cast<const unsigned char*>(image.data()), image.size()), kOptionalAt + 64);
  EXPECT_EQ(PeChecksumField(reinterpret_cast<const unsigned char*>(image.data()), 0x40), 0u);
}

}  // namespace
}  // namespace vek
