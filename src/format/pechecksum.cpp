#include "pechecksum.h"

#include "layout.h"
#include "pelayout.h"

namespace vek {
namespace {

constexpr size_t kChecksumSize = 4;

uint32_t Fold(uint32_t sum) { return (sum & 0xFFFF) + (sum >> 16); }

}  // namespace

void PeChecksum::Add(const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  static const unsigned char zeros[kChecksumSize] = {};
  while (size > 0) {
    // Up to the field, the field's bytes as zeros, the rest.
    size_t n = size;
    const unsigned char* from = p;
    if (length_ >= field_ && length_ - field_ < kChecksumSize) {
      n = static_cast<size_t>(field_ + kChecksumSize - length_);
      if (n > size) n = size;
      from = zeros;
    } else if (length_ < field_ && field_ - length_ < size) {
      n = static_cast<size_t>(field_ - length_);
    }
    AddBytes(from, n);
    p += n;
    size -= n;
  }
}

void PeChecksum::AddBytes(const unsigned char* p, size_t size) {
  length_ += size;
  if (size > 0 && pending_ >= 0) {
    sum_ = Fold(sum_ + (unsigned{*p} << 8 | static_cast<unsigned>(pending_)));
    pending_ = -1;
    ++p;
    --size;
  }
  // The words summed wide and folded once: the same as folding after each.
  uint64_t wide = sum_;
  for (; size >= 2; p += 2, size -= 2) wide += LoadU16(p);
  while (wide >> 16) wide = (wide & 0xFFFF) + (wide >> 16);
  sum_ = static_cast<uint32_t>(wide);
  if (size > 0) pending_ = *p;
}

uint32_t PeChecksum::Finish() const {
  uint32_t sum = pending_ < 0 ? sum_ : Fold(sum_ + static_cast<unsigned>(pending_));
  return Fold(sum) + static_cast<uint32_t>(length_);
}

uint64_t PeChecksumField(const unsigned char* image, size_t size) {
  if (size < pe::DosHeader::kSize || image[0] != pe::kDosMagic[0] || image[1] != pe::kDosMagic[1]) return 0;
  const uint64_t at = LoadU32(image + pe::DosHeader::kNewHeaderOffset);
  const uint64_t optional = at + pe::kSignatureSize + pe::FileHeader::kSize;
  if (optional + pe::OptionalHeader::kChecksumOffset + kChecksumSize > size) return 0;
  for (size_t i = 0; i < pe::kSignatureSize; ++i) {
    if (image[at + i] != static_cast<unsigned char>(pe::kSignature[i])) return 0;
  }
  const uint16_t optional_size = LoadU16(image + at + pe::kSignatureSize + pe::FileHeader::kOptionalHeaderSizeOffset);
  if (optional_size < pe::OptionalHeader::kChecksumOffset + kChecksumSize) return 0;
  return optional + pe::OptionalHeader::kChecksumOffset;
}

}  // namespace vek
