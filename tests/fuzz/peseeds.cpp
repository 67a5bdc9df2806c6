#include "peseeds.h"

#include <stdlib.h>

#include <vector>

#include "layout.h"
#include "pefile.h"
#include "pelayout.h"

namespace {

void Put16(std::string& s, size_t at, uint16_t v) { vek::StoreU16(reinterpret_cast<unsigned char*>(&s[at]), v); }
void Put32(std::string& s, size_t at, uint32_t v) { vek::StoreU32(reinterpret_cast<unsigned char*>(&s[at]), v); }

// A block of a version resource (value_length: UTF-16 units of a text, else bytes).
std::string Block(const std::u16string& key, const std::string& value, bool text, const std::string& children = "") {
  std::string b(6, '\0');
  for (char16_t c : key + u'\0') b += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  b.resize((b.size() + 3) & ~size_t{3}, '\0');
  b += value;
  b.resize((b.size() + 3) & ~size_t{3}, '\0');
  b += children;
  Put16(b, 0, static_cast<uint16_t>(b.size()));
  Put16(b, 2, static_cast<uint16_t>(text ? value.size() / 2 : value.size()));
  Put16(b, 4, text ? 1 : 0);
  return b;
}

std::string Utf16Slot(const char* text, size_t units) {
  std::string s(2 * units, '\0');
  for (size_t i = 0; text[i] && i + 1 < units; ++i) s[2 * i] = text[i];
  return s;
}

}  // namespace

std::string SeedVersionResource() {
  std::string fixed(52, '\0');
  Put32(fixed, 0, 0xFEEF04BD);
  Put32(fixed, 8, 0x00010002);
  std::string company = Block(u"CompanyName", Utf16Slot("Vek", 32), true);
  Put16(company, 2, 4);  // the text and its zero; the rest of the slot is room
  const std::string table =
      Block(u"040904B0", "", true,
            company + Block(u"ProductName", Utf16Slot("Seed", 16), true) + Block(u"Comments", "binary", false));
  return Block(u"VS_VERSION_INFO", fixed, false, Block(u"StringFileInfo", "", true, table));
}

std::string SeedIcon() {
  std::string bitmap(40 + 16 * 16 * 4 + 16 * 4, '\x11');
  Put32(bitmap, 0, 40);
  Put32(bitmap, 4, 16);
  Put32(bitmap, 8, 32);
  const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + "png";
  std::string file(6 + 2 * 16, '\0');
  Put16(file, 2, 1);
  Put16(file, 4, 2);
  Put32(file, 6 + 8, static_cast<uint32_t>(bitmap.size()));
  Put32(file, 6 + 12, static_cast<uint32_t>(file.size()));
  Put32(file, 6 + 16 + 8, static_cast<uint32_t>(png.size()));
  Put32(file, 6 + 16 + 12, static_cast<uint32_t>(file.size() + bitmap.size()));
  return file + bitmap + png;
}

std::string SeedPeImage() {
  // PE32+ headers up to 0x400, one section of an empty resource table at 0x1000.
  constexpr size_t kPe = 0x40, kOptional = kPe + 24, kSections = kOptional + 240;
  std::string image(0x600, '\0');
  image.replace(0, 2, "MZ");
  Put32(image, vek::pe::DosHeader::kNewHeaderOffset, kPe);
  image.replace(kPe, 4, std::string("PE\0\0", 4));
  Put16(image, kPe + 4 + vek::pe::FileHeader::kSectionCountOffset, 1);
  Put16(image, kPe + 4 + vek::pe::FileHeader::kOptionalHeaderSizeOffset, kSections - kOptional);
  Put16(image, kOptional, vek::pe::kPe32PlusMagic);
  Put32(image, kOptional + vek::pe::OptionalHeader::kSectionAlignmentOffset, 0x1000);
  Put32(image, kOptional + vek::pe::OptionalHeader::kFileAlignmentOffset, 0x200);
  Put32(image, kOptional + vek::pe::OptionalHeader::kHeadersSizeOffset, 0x400);
  Put32(image, kOptional + vek::pe::OptionalHeader::kPe32PlusDirectoriesOffset - 4, 16);
  image.replace(kSections, 5, ".rsrc");
  Put32(image, kSections + vek::pe::SectionHeader::kVirtualSizeOffset, 0x200);
  Put32(image, kSections + vek::pe::SectionHeader::kAddressOffset, 0x1000);
  Put32(image, kSections + vek::pe::SectionHeader::kRawSizeOffset, 0x200);
  Put32(image, kSections + vek::pe::SectionHeader::kRawPointerOffset, 0x400);
  const size_t directory = kOptional + vek::pe::OptionalHeader::kPe32PlusDirectoriesOffset +
                           vek::pe::kResourceDirectory * vek::pe::DataDirectory::kSize;
  Put32(image, directory, 0x1000);
  Put32(image, directory + 4, 0x10);

  std::vector<vek::tools::Resource> resources(4);
  std::string group(6 + 14, '\0');  // one image: icon 1
  Put16(group, 2, 1);
  Put16(group, 4, 1);
  Put16(group, 6 + 12, 1);
  resources[0].type.number = vek::tools::kIconGroupType;
  resources[0].name.name = u"MAINICON";
  resources[0].data = group;
  resources[1].type.number = vek::tools::kIconType;
  resources[1].name.number = 1;
  resources[1].data = SeedIcon().substr(6 + 2 * 16, 40 + 16 * 16 * 4 + 16 * 4);
  resources[2].type.number = vek::tools::kVersionType;
  resources[2].name.number = 1;
  resources[2].data = SeedVersionResource();
  resources[3].type.number = vek::tools::kManifestType;
  resources[3].name.number = 1;
  resources[3].data = "<assembly/>";
  for (vek::tools::Resource& r : resources) r.language = 0x409;
  if (!vek::tools::ReplaceResources(&image, resources).empty()) abort();
  return image;
}
