// What an archive's signature says about it: whether it is ours and in which layout
// its header and table lie. Every reader of a signature asks here.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "layout.h"

namespace vek {

enum class SignatureKind : uint8_t {
  kPlain,        // "RN-VEK" 00 01: the layout every release reads
  kMarked,       // "RN-VEK" 00 02: UTF-8 names, deflated files or a deflated table, which the
                 // extension block says (kSignatureTailExtended); no reader of the plain layout
                 // takes it for an archive
  kUnknownTail,  // "RN-VEK" with a tail this release does not know
  // Another magic before the marked tail: no archive of ours as it stands, but most
  // likely a marked one whose magic was damaged, so it is read in the marked layout
  // for its damage to be reported.
  kMarkedTailOnly,
  kForeign,  // neither the magic nor the marked tail
};

namespace signature_detail {
// A byte loop rather than memcmp: the stub calls no library function for it.
inline bool Same(const unsigned char* bytes, const unsigned char* expected, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] != expected[i]) return false;
  }
  return true;
}
}  // namespace signature_detail

// Judges the ArchiveSignature::kSize bytes at signature.
inline SignatureKind ClassifySignature(const unsigned char* signature) {
  using signature_detail::Same;
  const bool magic = Same(signature + ArchiveSignature::kMagicOffset,
                          reinterpret_cast<const unsigned char*>(kArchiveMagic), ArchiveSignature::kMagicSize);
  const unsigned char* tail = signature + ArchiveSignature::kTailOffset;
  if (Same(tail, kSignatureTailExtended, ArchiveSignature::kTailSize)) {
    return magic ? SignatureKind::kMarked : SignatureKind::kMarkedTailOnly;
  }
  if (!magic) return SignatureKind::kForeign;
  return Same(tail, kSignatureTail, ArchiveSignature::kTailSize) ? SignatureKind::kPlain : SignatureKind::kUnknownTail;
}

// An archive this release reads: the plain layout or the marked one.
inline bool IsOurSignature(SignatureKind kind) {
  return kind == SignatureKind::kPlain || kind == SignatureKind::kMarked;
}

// Whether the header and table are read in the marked layout (the table may be a
// stream, the names UTF-8 without an extension block).
inline bool InMarkedLayout(SignatureKind kind) {
  return kind == SignatureKind::kMarked || kind == SignatureKind::kMarkedTailOnly;
}

}  // namespace vek
