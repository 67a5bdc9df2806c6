// Seed inputs made by the builder, so the corpus needs no opaque archives: sound
// archives and the damaged forms that found faults before (named regressions).
#include <string>
#include <vector>

#include "crc32.h"
#include "extension.h"
#include "layout.h"
#include "peseeds.h"
#include "vekbuild.h"

namespace {

vek::build::ArchiveBuilder SampleTree() {
  vek::build::ArchiveBuilder b;
  b.AddFile(0, "index.htm", "<html>", 0x26A9636Eu);
  uint16_t d = b.AddDirectory(0, "numery");
  uint16_t e = b.AddDirectory(d, "1999");
  b.AddFile(e, "a.htm", std::string(40000, 'a'), 0x26A9636Eu);
  b.AddFile(e, "b.gif", "GIF89a", 0x26A9636Eu);
  return b;
}
std::string Sample() { return SampleTree().Serialize(); }

void Put16(std::string& a, size_t at, uint16_t v) { vek::StoreU16(reinterpret_cast<unsigned char*>(&a[at]), v); }
size_t Record(int slot) { return vek::kArchivePrologueSize + vek::EntryRecord::kSize * (slot - 1); }

}  // namespace

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds;
  std::string sound = Sample();
  seeds.push_back(sound);
  std::string checked = SampleTree().Serialize(vek::build::ArchiveOptions{});  // with checksums
  seeds.push_back(checked);
  checked[vek::kArchivePrologueSize + 5 * vek::EntryRecord::kSize + 100] ^= 1;  // a.htm's data damaged
  seeds.push_back(checked);
  // Solid: the three files in one block, the table in the solid index after it.
  vek::build::ArchiveOptions compress;
  compress.compress_level = vek::build::kDefaultCompressLevel;
  compress.threads = 1;
  std::string compressed = SampleTree().Serialize(compress);
  seeds.push_back(compressed);
  const auto* header = reinterpret_cast<const unsigned char*>(&compressed[vek::ArchiveSignature::kSize]);
  const size_t index = vek::kArchivePrologueSize + vek::LoadU32(header + vek::ArchiveHeader::kSolidIndexAtOffset);
  const size_t record = index + vek::SolidIndexHeader::kSize;
  // The table's stream damaged.
  std::string table = compressed;
  table[record + vek::SolidBlockRecord::kSize + 20] ^= 0x10;
  seeds.push_back(table);
  // The block's stream damaged, its checksum and the index's made to match (a hostile
  // packer). The data area follows the header: the block alone.
  const size_t stream = vek::kArchivePrologueSize + 4;
  compressed[stream] ^= 0x55;
  const uint32_t stored = vek::LoadU32(reinterpret_cast<const unsigned char*>(&compressed[record]) +
                                       vek::SolidBlockRecord::kStoredSizeOffset);
  vek::StoreU32(reinterpret_cast<unsigned char*>(&compressed[record + vek::SolidBlockRecord::kCrcOffset]),
                vek::Crc32(0, &compressed[vek::kArchivePrologueSize], stored));
  const size_t block = compressed.size() - vek::ExtensionFooter::kSize - vek::ExtensionBlockSize(5);
  auto* b = reinterpret_cast<unsigned char*>(&compressed[block]);
  vek::StoreU32(
      b + vek::ExtensionHeader::kPrologueCrcOffset,
      vek::Crc32(vek::Crc32(0, compressed.data(), vek::kArchivePrologueSize), &compressed[index], block - index));
  vek::SealExtensionBlock(b, vek::ExtensionBlockSize(5));
  seeds.push_back(compressed);
  seeds.push_back(sound.substr(0, 100));  // cut inside the table
  std::string cycle = sound;              // a directory that is its own parent
  Put16(cycle, Record(2) + vek::EntryRecord::kParentIdOffset, 2);
  seeds.push_back(cycle);
  std::string dotdot = sound;  // "..": climbs out of the destination
  dotdot[Record(2) + vek::EntryRecord::kNameOffset] = 2;
  dotdot[Record(2) + vek::EntryRecord::kNameOffset + 1] = '.';
  dotdot[Record(2) + vek::EntryRecord::kNameOffset + 2] = '.';
  seeds.push_back(dotdot);
  std::string count = sound;  // more records claimed than present
  Put16(count, vek::ArchiveSignature::kSize + vek::ArchiveHeader::kEntryCountOffset, 65535);
  seeds.push_back(count);
  // For the resource target: a stub's resources (its version resource's last String
  // binary), the version resource alone and with that String as text, an icon, and
  // two icon entries naming one image.
  const std::string image = SeedPeImage();
  seeds.push_back(image);
  seeds.push_back(SeedVersionResource());
  std::string text = SeedVersionResource();
  Put16(text, text.rfind(std::string("C\0o\0m\0m\0e\0n\0t\0s\0", 16)) - 2, 1);
  seeds.push_back(text);
  const std::string icon = SeedIcon();
  seeds.push_back(icon);
  std::string shared = icon;
  shared.replace(6 + 16 + 8, 8, icon.substr(6 + 8, 8));
  seeds.push_back(shared);
  // For the round-trip target: a short tree description.
  seeds.push_back(
      std::string("\x00\x01\x05name\x01\x00\x03\x10"
                  "file",
                  13));
  return seeds;
}
