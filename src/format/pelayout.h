// The parts of a Windows executable (a PE image) that this program reads or writes,
// as offsets and sizes, defined once for the stub, vek and vekpack.
//
// The DOS header names where the PE signature "PE\0\0" lies; the file header follows
// it, then the optional header (its fields at these offsets in PE32 and PE32+ alike,
// up to the data directories), then the section table. The resource table is a tree
// of directories: a header with the counts of named and numbered entries, then the
// entries (an id or a name's offset, then what the entry leads to); names are a length
// and UTF-16 units, leaves are data entries.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek::pe {

struct DosHeader {
  static constexpr size_t kNewHeaderOffset = 0x3C;  // where the PE signature lies
  static constexpr size_t kSize = 0x40;
};
inline constexpr char kDosMagic[] = "MZ";
inline constexpr char kSignature[] = "PE\0";  // with its terminating zero: 4 bytes
inline constexpr size_t kSignatureSize = 4;

struct FileHeader {
  static constexpr size_t kSectionCountOffset = 2;
  static constexpr size_t kOptionalHeaderSizeOffset = 16;
  static constexpr size_t kSize = 20;
};

struct OptionalHeader {
  static constexpr size_t kMagicOffset = 0;
  static constexpr size_t kInitializedDataOffset = 8;
  static constexpr size_t kSectionAlignmentOffset = 32;
  static constexpr size_t kFileAlignmentOffset = 36;
  static constexpr size_t kImageSizeOffset = 56;
  static constexpr size_t kHeadersSizeOffset = 60;
  static constexpr size_t kChecksumOffset = 64;
  // The data directories, after their count, begin here in PE32 and in PE32+.
  static constexpr size_t kPe32DirectoriesOffset = 96;
  static constexpr size_t kPe32PlusDirectoriesOffset = 112;
};
inline constexpr uint16_t kPe32Magic = 0x10B;
inline constexpr uint16_t kPe32PlusMagic = 0x20B;

struct DataDirectory {
  static constexpr size_t kAddressOffset = 0;
  static constexpr size_t kSizeOffset = 4;
  static constexpr size_t kSize = 8;
};
inline constexpr uint32_t kResourceDirectory = 2;
inline constexpr uint32_t kSecurityDirectory = 4;  // the signature's certificates

struct SectionHeader {
  static constexpr size_t kNameOffset = 0;
  static constexpr size_t kNameSize = 8;
  static constexpr size_t kVirtualSizeOffset = 8;
  static constexpr size_t kAddressOffset = 12;
  static constexpr size_t kRawSizeOffset = 16;
  static constexpr size_t kRawPointerOffset = 20;
  static constexpr size_t kFlagsOffset = 36;
  static constexpr size_t kSize = 40;
};
inline constexpr uint32_t kInitializedReadableData = 0x40000040;  // section flags

struct ResourceDirectoryHeader {
  static constexpr size_t kNamedCountOffset = 12;
  static constexpr size_t kIdCountOffset = 14;
  static constexpr size_t kSize = 16;
};
struct ResourceEntry {
  static constexpr size_t kIdOffset = 0;
  static constexpr size_t kTargetOffset = 4;
  static constexpr size_t kSize = 8;
};
// In an entry's id: a name's offset, not a number; in its target: a directory's
// offset, not a leaf's.
inline constexpr uint32_t kResourceHighBit = 0x80000000u;
struct ResourceDataEntry {
  static constexpr size_t kAddressOffset = 0;
  static constexpr size_t kSizeOffset = 4;
  static constexpr size_t kCodePageOffset = 8;
  static constexpr size_t kSize = 16;
};
inline constexpr size_t kResourceLevels = 3;  // type, name, language

}  // namespace vek::pe
