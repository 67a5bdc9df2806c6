#include "extension.h"

#include <string.h>

#include "crc32.h"

namespace vek {

uint32_t ExtensionBlockCrc(const unsigned char* block, size_t size) {
  const uint32_t head = Crc32(0, block, ExtensionHeader::kBlockCrcOffset);
  return Crc32(head, block + ExtensionHeader::kSize, size - ExtensionHeader::kSize);
}

ExtensionState JudgeExtensionBlock(const unsigned char* block, size_t size, uint32_t entry_count,
                                   SignatureKind signature) {
  if (size < ExtensionHeader::kSize ||
      memcmp(block + ExtensionHeader::kMagicOffset, kExtensionMagic, ExtensionHeader::kMagicSize) != 0 ||
      LoadU32(block + ExtensionHeader::kBlockSizeOffset) != size ||
      size != ExtensionBlockSize(LoadU32(block + ExtensionHeader::kEntryCountOffset)) ||
      LoadU32(block + ExtensionHeader::kBlockCrcOffset) != ExtensionBlockCrc(block, size)) {
    return ExtensionState::kDamaged;
  }
  // A sound block for another count: the header's count is what is damaged.
  if (LoadU32(block + ExtensionHeader::kEntryCountOffset) != entry_count) return ExtensionState::kPrologueDamaged;
  const uint32_t flags = ExtensionFlags(block);
  if (flags & ~kExtensionKnownFlags) return ExtensionState::kNewer;
  // The tail says whether a reader of the plain layout may read the archive.
  if (InMarkedLayout(signature) != (flags != 0)) return ExtensionState::kPrologueDamaged;
  return ExtensionState::kSound;
}

ExtensionPlace StubExtensionPlace(uint32_t start, uint32_t config, uint32_t extension, uint64_t image_end) {
  ExtensionPlace place;
  if (extension == 0) return place;
  const uint32_t end = config ? config : start;
  const bool there = extension >= image_end && extension < end;
  place.offset = there ? extension : kNowhere - 1;  // a block that cannot lie there is damaged
  place.end = there ? end : kNowhere;
  return place;
}

uint32_t ReadExtensionFooter(const unsigned char* footer) {
  if (memcmp(footer + ExtensionFooter::kMagicOffset, kExtensionFooterMagic, ExtensionFooter::kMagicSize) != 0) return 0;
  return LoadU32(footer + ExtensionFooter::kBlockSizeOffset);
}

void PutExtensionHeader(unsigned char* block, uint32_t flags, uint32_t entry_count, uint32_t prologue_crc) {
  memcpy(block + ExtensionHeader::kMagicOffset, kExtensionMagic, ExtensionHeader::kMagicSize);
  StoreU32(block + ExtensionHeader::kBlockSizeOffset, ExtensionBlockSize(entry_count));
  StoreU32(block + ExtensionHeader::kFlagsOffset, flags);
  StoreU32(block + ExtensionHeader::kEntryCountOffset, entry_count);
  StoreU32(block + ExtensionHeader::kPrologueCrcOffset, prologue_crc);
  StoreU32(block + ExtensionHeader::kBlockCrcOffset, 0);
}

void PutExtensionRecord(unsigned char* record, uint32_t crc, uint32_t original_size, uint8_t method, uint32_t block) {
  StoreU32(record + ExtensionRecord::kCrcOffset, crc);
  StoreU32(record + ExtensionRecord::kOriginalSizeOffset, original_size);
  record[ExtensionRecord::kMethodOffset] = method;
  unsigned char* index = record + ExtensionRecord::kBlockIndexOffset;
  index[0] = static_cast<unsigned char>(block);
  index[1] = static_cast<unsigned char>(block >> 8);
  index[2] = static_cast<unsigned char>(block >> 16);
}

void SealExtensionBlock(unsigned char* block, size_t size) {
  StoreU32(block + ExtensionHeader::kBlockCrcOffset, ExtensionBlockCrc(block, size));
}

void PutExtensionFooter(unsigned char* footer, uint32_t block_size) {
  StoreU32(footer + ExtensionFooter::kBlockSizeOffset, block_size);
  memcpy(footer + ExtensionFooter::kMagicOffset, kExtensionFooterMagic, ExtensionFooter::kMagicSize);
}

}  // namespace vek
