// The extension block (layout.h): reading it for the reader, and writing it for the
// writer. The block carries, beside the plain layout, a CRC-32 of the signature,
// header and table, one of every file's stored bytes, each file's method and
// original size, and the names' encoding.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "layout.h"
#include "selfcrc.h"
#include "signature.h"

namespace vek {

// Where an archive's extension block lies in its file: [offset, end); an empty span
// is none.
struct ExtensionPlace {
  uint32_t offset = 0;
  uint32_t end = 0;
  bool present() const { return end > offset; }
  // In an installer whose stub checks its own bytes (kStubFeatureSelfCheck): their
  // checksum (selfcrc.h) over the file up to offset, and the bytes it leaves out.
  bool self_check = false;
  uint32_t self_crc = 0;
  SelfCrcExclusions self_excluded;
};

// The place [offset, end), with nothing for the stub's self-check.
inline ExtensionPlace ExtensionSpan(uint32_t offset, uint32_t end) {
  ExtensionPlace place;
  place.offset = offset;
  place.end = end;
  return place;
}

// Where the stub's constants place the block (layout.h): from its offset to the
// configuration block, or to the archive's start without one. An offset that cannot
// be right (inside the stub's image, at or past the end) gives a place past any file's
// end, which the reader finds damaged; offset 0 gives none.
inline constexpr uint32_t kNowhere = 0xFFFFFFFFu;
ExtensionPlace StubExtensionPlace(uint32_t start, uint32_t config, uint32_t extension, uint64_t image_end);

// What a reader made of the block.
enum class ExtensionState : uint8_t {
  kAbsent,           // none: the plain layout, read as always, nothing to check against
  kSound,            // read and sound; its records answer for each slot
  kDamaged,          // unreadable, or its own check, magic, size or count do not hold
  kNewer,            // sound, with flags this release does not know
  kPrologueDamaged,  // sound, but the signature, header or table do not match it
  kIndexDamaged,     // sound and matched, but the solid index's blocks cannot be so
};

// The failure that a damaged installer or archive reports: the bytes are not those
// that were packed.
inline constexpr char kArchiveDamaged[] = "The archive is damaged";

// The block's own check: the CRC-32 of its bytes without the check's field.
uint32_t ExtensionBlockCrc(const unsigned char* block, size_t size);

// Judges size bytes read as the block of an archive of entry_count entries whose
// signature is of that kind (its tail must say whether flags are set).
ExtensionState JudgeExtensionBlock(const unsigned char* block, size_t size, uint32_t entry_count,
                                   SignatureKind signature);

inline uint32_t ExtensionFlags(const unsigned char* block) { return LoadU32(block + ExtensionHeader::kFlagsOffset); }
// The record of a table slot (1-based).
inline const unsigned char* ExtensionRecordAt(const unsigned char* block, uint32_t slot) {
  return block + ExtensionHeader::kSize + static_cast<size_t>(slot - 1) * ExtensionRecord::kSize;
}
inline unsigned char* ExtensionRecordAt(unsigned char* block, uint32_t slot) {
  return block + ExtensionHeader::kSize + static_cast<size_t>(slot - 1) * ExtensionRecord::kSize;
}

// The block index of a record of kMethodLzmaSolid (24 bits).
inline uint32_t ExtensionRecordBlock(const unsigned char* record) {
  const unsigned char* p = record + ExtensionRecord::kBlockIndexOffset;
  return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}

// A bare archive's footer, the file's last kSize bytes: the block's size when they are
// a footer, else 0.
uint32_t ReadExtensionFooter(const unsigned char* footer);

// ---- Writing ---------------------------------------------------------------------------

// Fills the block's header (its own check last, by SealExtensionBlock).
void PutExtensionHeader(unsigned char* block, uint32_t flags, uint32_t entry_count, uint32_t prologue_crc);
void PutExtensionRecord(unsigned char* record, uint32_t crc, uint32_t original_size, uint8_t method,
                        uint32_t block = 0);
// Writes the block's own check, once everything else in it is in place.
void SealExtensionBlock(unsigned char* block, size_t size);
void PutExtensionFooter(unsigned char* footer, uint32_t block_size);

}  // namespace vek
