// The bytes of a VEK archive and of the stub's constants, defined once for the stub,
// vek and vekpack.
//
// An archive is an 8-byte signature, a 48-byte header, a table of 256-byte entry
// records and the file data, all little-endian. Beside it, an extension block may
// carry what the table has no room for: checksums, each file's method and original
// size, the names' encoding. A solid archive keeps most files in LZMA blocks, listed
// in a solid index after the data. Every field is an offset and a size; the static_asserts
// below check that the fields of each record follow one another without gap or overlap
// and fill the record exactly.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

// ---- The signature -----------------------------------------------------------------

struct ArchiveSignature {
  static constexpr size_t kMagicOffset = 0;
  static constexpr size_t kMagicSize = 6;
  static constexpr size_t kTailOffset = 6;
  static constexpr size_t kTailSize = 2;
  static constexpr size_t kSize = 8;
};
inline constexpr char kArchiveMagic[ArchiveSignature::kMagicSize + 1] = "RN-VEK";
inline constexpr unsigned char kSignatureTail[ArchiveSignature::kTailSize] = {0x00, 0x01};
// The tail of an archive that a reader of the plain layout must not take for one: its
// names are UTF-8, or some of its files are compressed (its extension block says which:
// kExtensionNamesUtf8, kExtensionDeflated, kExtensionSolid; without a block the names
// are UTF-8).
inline constexpr unsigned char kSignatureTailExtended[ArchiveSignature::kTailSize] = {0x00, 0x02};

// ---- The header --------------------------------------------------------------------

struct ArchiveHeader {
  static constexpr size_t kEntryCountOffset = 0;
  static constexpr size_t kEntryCountSize = 2;
  static constexpr size_t kReservedOffset = 2;
  static constexpr size_t kReservedSize = 13;
  static constexpr size_t kNoticeOffset = 15;
  static constexpr size_t kNoticeSize = 33;  // a length byte, then up to 32 characters
  static constexpr size_t kSize = 48;

  static constexpr size_t kNoticeMaxLength = kNoticeSize - 1;
  // The reserved bytes as the builder writes them: this one is 1, the others 0.
  static constexpr size_t kReservedOneOffset = 4;
  // Except in a marked archive (signature tail 00 02) whose table is a zlib stream
  // (kExtensionTableDeflated): its stored size, and where it lies from the start of the
  // data area, which then begins right after the header. A size of 0: the table is
  // stored after the header, as in the plain layout - unless the place is not 0: then
  // the archive is solid (kExtensionSolid), the data area begins right after the
  // header, and the place is that of the solid index, which holds the table. A reader
  // of the previous release, which knows only the size, then finds the block too new
  // before it could take the index for a zlib stream.
  static constexpr size_t kTableStreamSizeOffset = 6;
  static constexpr size_t kTableStreamAtOffset = 10;
  static constexpr size_t kSolidIndexAtOffset = kTableStreamAtOffset;
};

// ---- The entry record ----------------------------------------------------------------

struct EntryRecord {
  static constexpr size_t kIdOffset = 0;
  static constexpr size_t kIdSize = 2;
  static constexpr size_t kParentIdOffset = 2;  // 0: the entry lies at the top
  static constexpr size_t kParentIdSize = 2;
  static constexpr size_t kKindOffset = 4;
  static constexpr size_t kKindSize = 1;
  static constexpr size_t kReservedOffset = 5;
  static constexpr size_t kReservedSize = 1;
  static constexpr size_t kNameOffset = 6;
  static constexpr size_t kNameSize = 233;  // a length byte, then the characters
  static constexpr size_t kFillerOffset = 239;
  static constexpr size_t kFillerSize = 1;
  static constexpr size_t kAttributesOffset = 240;
  static constexpr size_t kAttributesSize = 4;
  static constexpr size_t kTimeStampOffset = 244;  // MS-DOS date and time, local time
  static constexpr size_t kTimeStampSize = 4;
  static constexpr size_t kSizeOffset = 248;  // the file's size in bytes, signed
  static constexpr size_t kSizeSize = 4;
  static constexpr size_t kDataOffsetOffset = 252;  // from the start of the data area
  static constexpr size_t kDataOffsetSize = 4;
  static constexpr size_t kSize = 256;

  static constexpr size_t kNameMaxLength = kNameSize - 1;
};

// A record's name: its bytes, and its length byte cut to the field's room.
inline const char* RecordName(const unsigned char* record) {
  return reinterpret_cast<const char*>(record + EntryRecord::kNameOffset + 1);
}
inline size_t RecordNameLength(const unsigned char* record) {
  const size_t length = record[EntryRecord::kNameOffset];
  return length > EntryRecord::kNameMaxLength ? EntryRecord::kNameMaxLength : length;
}

inline constexpr uint8_t kEntryKindDirectory = 0;
inline constexpr uint8_t kEntryKindFile = 255;
// A file whose data is compressed (its extension record says how): a reader of the
// plain layout makes nothing for a kind it does not know, instead of the compressed
// bytes.
inline constexpr uint8_t kEntryKindCompressed = 254;
// What a lookup answers for an identifier that no record carries; no record holds it.
inline constexpr uint8_t kEntryKindNotFound = 128;

// Identifiers are 16 bits and 0 names no entry.
inline constexpr uint32_t kMaxEntryCount = 65535;

// Bytes from the archive's start to the first entry record.
inline constexpr uint32_t kArchivePrologueSize = static_cast<uint32_t>(ArchiveSignature::kSize + ArchiveHeader::kSize);

// ---- The extension block ---------------------------------------------------------------
//
// One block beside the archive, the same bytes wherever it lies: in an executable
// between the stub and the configuration block (or the archive), found through the
// stub's constants; after a bare archive, followed by the footer at the very end of
// the file. Then one record per table slot, in table order. Checksums are zlib's
// CRC-32 (polynomial 0xEDB88320).

struct ExtensionHeader {
  static constexpr size_t kMagicOffset = 0;
  static constexpr size_t kMagicSize = 8;
  static constexpr size_t kBlockSizeOffset = 8;  // the whole block, records included
  static constexpr size_t kBlockSizeSize = 4;
  static constexpr size_t kFlagsOffset = 12;
  static constexpr size_t kFlagsSize = 4;
  static constexpr size_t kEntryCountOffset = 16;  // equals the header's EntryCount
  static constexpr size_t kEntryCountSize = 4;
  static constexpr size_t kPrologueCrcOffset = 20;  // signature, header and table
  static constexpr size_t kPrologueCrcSize = 4;
  static constexpr size_t kBlockCrcOffset = 24;  // the block without this field
  static constexpr size_t kBlockCrcSize = 4;
  static constexpr size_t kSize = 28;
};
inline constexpr char kExtensionMagic[ExtensionHeader::kMagicSize + 1] = "VEK-EXT1";

inline constexpr uint32_t kExtensionNamesUtf8 = 1u << 0;      // names are UTF-8, not Windows-1250
inline constexpr uint32_t kExtensionDeflated = 1u << 1;       // some entries are deflated
inline constexpr uint32_t kExtensionTableDeflated = 1u << 2;  // the table is a zlib stream
inline constexpr uint32_t kExtensionSolid = 1u << 3;          // LZMA blocks and the solid index
// The flags this release reads. A block with another comes from a newer vekpack and is
// refused as such.
inline constexpr uint32_t kExtensionKnownFlags =
    kExtensionNamesUtf8 | kExtensionDeflated | kExtensionTableDeflated | kExtensionSolid;

// The most bytes a deflated table of entry_count records may take: deflate stores what
// it cannot shrink in blocks of 5 bytes' overhead per 16 KiB or more, far below one
// byte per 256-byte record. A larger stream is damage, refused before it is read.
inline constexpr uint32_t TableStreamLimit(uint32_t entry_count) { return 257 * entry_count + 64; }

struct ExtensionRecord {
  // Of the stored bytes (of the decoded ones for kMethodLzmaSolid); 0 for other kinds.
  static constexpr size_t kCrcOffset = 0;
  static constexpr size_t kCrcSize = 4;
  static constexpr size_t kOriginalSizeOffset = 4;  // once extracted; below 2^31
  static constexpr size_t kOriginalSizeSize = 4;
  static constexpr size_t kMethodOffset = 8;
  static constexpr size_t kMethodSize = 1;
  static constexpr size_t kReservedOffset = 9;  // zero; for kMethodLzmaSolid its block's index
  static constexpr size_t kReservedSize = 3;
  static constexpr size_t kSize = 12;
  static constexpr size_t kBlockIndexOffset = kReservedOffset;
};
// A file's original size stays below 2 GiB, as its stored size does.
inline constexpr uint32_t kOriginalSizeLimit = uint32_t{1} << 31;
inline constexpr uint8_t kMethodStored = 0;
inline constexpr uint8_t kMethodDeflate = 8;  // a zlib stream (RFC 1950): the previous release's
// The file lies in a block of the solid index: its record's size is its own, its data
// offset is where it begins in the block's decoded bytes.
inline constexpr uint8_t kMethodLzmaSolid = 14;

// ---- The solid index ---------------------------------------------------------------------
//
// In a solid archive, at the header's kSolidIndexAtOffset from the start of the data
// area (after every file's and block's data): the block count, the table stream's
// size, one record per block, then the table stream: 5 LZMA property bytes and a raw
// LZMA stream that gives exactly EntryCount records. The extension block's prologue
// checksum covers the signature, the header and the whole index.

struct SolidIndexHeader {
  static constexpr size_t kBlockCountOffset = 0;  // at most EntryCount
  static constexpr size_t kBlockCountSize = 4;
  static constexpr size_t kTableStreamSizeOffset = 4;
  static constexpr size_t kTableStreamSizeSize = 4;
  static constexpr size_t kSize = 8;
};

struct SolidBlockRecord {
  static constexpr size_t kStoredOffsetOffset = 0;  // from the start of the data area
  static constexpr size_t kStoredOffsetSize = 4;
  static constexpr size_t kStoredSizeOffset = 4;
  static constexpr size_t kStoredSizeSize = 4;
  static constexpr size_t kDecodedSizeOffset = 8;  // below 2^31
  static constexpr size_t kDecodedSizeSize = 4;
  static constexpr size_t kCrcOffset = 12;  // of the stored bytes
  static constexpr size_t kCrcSize = 4;
  static constexpr size_t kPropsOffset = 16;  // the LZMA stream's 5 property bytes
  static constexpr size_t kPropsSize = 5;
  static constexpr size_t kReservedOffset = 21;  // zero
  static constexpr size_t kReservedSize = 3;
  static constexpr size_t kSize = 24;
};

// The most bytes the table's LZMA stream may take for entry_count records, its
// property bytes included: LZMA grows what it cannot shrink by far less than deflate's
// allowance. A larger one is damage, refused before it is read.
inline constexpr uint32_t SolidTableStreamLimit(uint32_t entry_count) { return TableStreamLimit(entry_count) + 5; }

// After a bare archive's extension block, the last bytes of the file.
struct ExtensionFooter {
  static constexpr size_t kBlockSizeOffset = 0;
  static constexpr size_t kBlockSizeSize = 4;
  static constexpr size_t kMagicOffset = 4;
  static constexpr size_t kMagicSize = 8;
  static constexpr size_t kSize = 12;
};
inline constexpr char kExtensionFooterMagic[ExtensionFooter::kMagicSize + 1] = "VEK-TAIL";

inline constexpr uint32_t ExtensionBlockSize(uint32_t entry_count) {
  return static_cast<uint32_t>(ExtensionHeader::kSize + ExtensionRecord::kSize * entry_count);
}

// ---- The stub's constants ------------------------------------------------------------
//
// A self-extracting executable's stub keeps its constants in a PE section of its own,
// which vekpack fills in: where the archive starts in the executable, where the
// configuration block lies and where the extension block lies (0: none). The file
// holds [stub][extension block][configuration block][archive]: the extension block
// ends where the configuration block begins, or the archive when there is none. A
// stub whose section holds fewer constants cannot carry the blocks it has no room for.

#define VEK_STUB_SECTION ".vekofs"  // for the compiler's section attribute
inline constexpr char kStartOffsetSection[] = VEK_STUB_SECTION;
inline constexpr size_t kSectionNameMaxLength = 8;

struct StubConstants {
  static constexpr size_t kStartOffsetOffset = 0;
  static constexpr size_t kStartOffsetSize = 4;
  static constexpr size_t kConfigOffsetOffset = 4;
  static constexpr size_t kConfigOffsetSize = 4;
  static constexpr size_t kExtensionOffsetOffset = 8;
  static constexpr size_t kExtensionOffsetSize = 4;
  // What the stub can extract beyond stored files: kStubFeaturesMagic, then the
  // kStubFeature* bits, set in the stub's own image (vekpack leaves them as they are).
  // Earlier stubs have their writable data here, hence the magic.
  static constexpr size_t kFeaturesMagicOffset = 12;
  static constexpr size_t kFeaturesMagicSize = 4;
  static constexpr size_t kFeaturesOffset = 16;
  static constexpr size_t kFeaturesSize = 4;
  // With kStubFeatureSelfCheck: the CRC-32 of the stub's own bytes (selfcrc.h), which
  // vekpack writes.
  static constexpr size_t kSelfCrcOffset = 20;
  static constexpr size_t kSelfCrcSize = 4;
  // What a stub that predates the extension block holds, one that predates the
  // features, and one that predates its own checksum.
  static constexpr size_t kSizeWithoutExtension = kExtensionOffsetOffset;
  static constexpr size_t kSizeWithoutFeatures = kFeaturesMagicOffset;
  static constexpr size_t kSizeWithoutSelfCrc = kSelfCrcOffset;
  static constexpr size_t kSizeWithSelfCrc = kSelfCrcOffset + kSelfCrcSize;
  // The block as the Windows stub's image holds it.
  static constexpr size_t kSize = kSizeWithSelfCrc;
};

// "VEKF", and the stub decodes solid LZMA archives.
inline constexpr uint32_t kStubFeaturesMagic = 0x464B4556;
inline constexpr uint32_t kStubFeatureSolidLzma = 1u << 0;
// The stub's constants hold the checksum of its own bytes, and the stub checks it.
inline constexpr uint32_t kStubFeatureSelfCheck = 1u << 1;

// ---- The layout checks ---------------------------------------------------------------

struct FieldSpan {
  size_t offset;
  size_t size;
};

// True when the fields, in order, start at 0, each where the one before it ends, and
// the last ends at total.
template <size_t N>
constexpr bool FieldsChain(const FieldSpan (&fields)[N], size_t total) {
  size_t at = 0;
  for (size_t i = 0; i < N; ++i) {
    if (fields[i].offset != at) return false;
    at += fields[i].size;
  }
  return at == total;
}

static_assert(FieldsChain({{ArchiveSignature::kMagicOffset, ArchiveSignature::kMagicSize},
                           {ArchiveSignature::kTailOffset, ArchiveSignature::kTailSize}},
                          ArchiveSignature::kSize),
              "the signature's fields must fill it");
static_assert(FieldsChain({{ArchiveHeader::kEntryCountOffset, ArchiveHeader::kEntryCountSize},
                           {ArchiveHeader::kReservedOffset, ArchiveHeader::kReservedSize},
                           {ArchiveHeader::kNoticeOffset, ArchiveHeader::kNoticeSize}},
                          ArchiveHeader::kSize),
              "the header's fields must fill it");
static_assert(ArchiveHeader::kReservedOneOffset >= ArchiveHeader::kReservedOffset &&
                  ArchiveHeader::kReservedOneOffset < ArchiveHeader::kReservedOffset + ArchiveHeader::kReservedSize,
              "the reserved byte set to 1 lies among the reserved bytes");
static_assert(ArchiveHeader::kTableStreamSizeOffset > ArchiveHeader::kReservedOneOffset &&
                  ArchiveHeader::kTableStreamAtOffset == ArchiveHeader::kTableStreamSizeOffset + 4 &&
                  ArchiveHeader::kTableStreamAtOffset + 4 <=
                      ArchiveHeader::kReservedOffset + ArchiveHeader::kReservedSize,
              "the table stream's size and place lie among the reserved bytes, after the one set to 1");
static_assert(FieldsChain({{EntryRecord::kIdOffset, EntryRecord::kIdSize},
                           {EntryRecord::kParentIdOffset, EntryRecord::kParentIdSize},
                           {EntryRecord::kKindOffset, EntryRecord::kKindSize},
                           {EntryRecord::kReservedOffset, EntryRecord::kReservedSize},
                           {EntryRecord::kNameOffset, EntryRecord::kNameSize},
                           {EntryRecord::kFillerOffset, EntryRecord::kFillerSize},
                           {EntryRecord::kAttributesOffset, EntryRecord::kAttributesSize},
                           {EntryRecord::kTimeStampOffset, EntryRecord::kTimeStampSize},
                           {EntryRecord::kSizeOffset, EntryRecord::kSizeSize},
                           {EntryRecord::kDataOffsetOffset, EntryRecord::kDataOffsetSize}},
                          EntryRecord::kSize),
              "the entry record's fields must fill it");
static_assert(EntryRecord::kNameMaxLength <= 0xFF, "a name's length fits its length byte");
static_assert(FieldsChain({{ExtensionHeader::kMagicOffset, ExtensionHeader::kMagicSize},
                           {ExtensionHeader::kBlockSizeOffset, ExtensionHeader::kBlockSizeSize},
                           {ExtensionHeader::kFlagsOffset, ExtensionHeader::kFlagsSize},
                           {ExtensionHeader::kEntryCountOffset, ExtensionHeader::kEntryCountSize},
                           {ExtensionHeader::kPrologueCrcOffset, ExtensionHeader::kPrologueCrcSize},
                           {ExtensionHeader::kBlockCrcOffset, ExtensionHeader::kBlockCrcSize}},
                          ExtensionHeader::kSize),
              "the extension block's header fields must fill it");
static_assert(FieldsChain({{ExtensionRecord::kCrcOffset, ExtensionRecord::kCrcSize},
                           {ExtensionRecord::kOriginalSizeOffset, ExtensionRecord::kOriginalSizeSize},
                           {ExtensionRecord::kMethodOffset, ExtensionRecord::kMethodSize},
                           {ExtensionRecord::kReservedOffset, ExtensionRecord::kReservedSize}},
                          ExtensionRecord::kSize),
              "the extension record's fields must fill it");
static_assert(FieldsChain({{ExtensionFooter::kBlockSizeOffset, ExtensionFooter::kBlockSizeSize},
                           {ExtensionFooter::kMagicOffset, ExtensionFooter::kMagicSize}},
                          ExtensionFooter::kSize),
              "the footer's fields must fill it");
static_assert(FieldsChain({{SolidIndexHeader::kBlockCountOffset, SolidIndexHeader::kBlockCountSize},
                           {SolidIndexHeader::kTableStreamSizeOffset, SolidIndexHeader::kTableStreamSizeSize}},
                          SolidIndexHeader::kSize),
              "the solid index's header fields must fill it");
static_assert(FieldsChain({{SolidBlockRecord::kStoredOffsetOffset, SolidBlockRecord::kStoredOffsetSize},
                           {SolidBlockRecord::kStoredSizeOffset, SolidBlockRecord::kStoredSizeSize},
                           {SolidBlockRecord::kDecodedSizeOffset, SolidBlockRecord::kDecodedSizeSize},
                           {SolidBlockRecord::kCrcOffset, SolidBlockRecord::kCrcSize},
                           {SolidBlockRecord::kPropsOffset, SolidBlockRecord::kPropsSize},
                           {SolidBlockRecord::kReservedOffset, SolidBlockRecord::kReservedSize}},
                          SolidBlockRecord::kSize),
              "the block record's fields must fill it");
static_assert(ExtensionHeader::kBlockCrcOffset + ExtensionHeader::kBlockCrcSize == ExtensionHeader::kSize,
              "the block's own check is its header's last field: the records follow it");
static_assert(FieldsChain({{StubConstants::kStartOffsetOffset, StubConstants::kStartOffsetSize},
                           {StubConstants::kConfigOffsetOffset, StubConstants::kConfigOffsetSize},
                           {StubConstants::kExtensionOffsetOffset, StubConstants::kExtensionOffsetSize},
                           {StubConstants::kFeaturesMagicOffset, StubConstants::kFeaturesMagicSize},
                           {StubConstants::kFeaturesOffset, StubConstants::kFeaturesSize},
                           {StubConstants::kSelfCrcOffset, StubConstants::kSelfCrcSize}},
                          StubConstants::kSizeWithSelfCrc),
              "the stub's constants must fill their block");
static_assert(sizeof(kStartOffsetSection) - 1 <= kSectionNameMaxLength, "a PE section name has at most 8 bytes");

// ---- Little-endian fields ------------------------------------------------------------

inline uint16_t LoadU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline void StoreU16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void StoreU32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace vek
