#include "lzmadec.h"

#include <stdlib.h>

// The SDK's decoder, compiled here with the unit's options (for the stub: for size,
// with link-time optimisation). Its include folder is searched after every other, so
// that its Types.h shadows nothing.
//
// _LZMA_SIZE_OPT decodes the 6-bit trees in a loop rather than unrolled: 496 bytes
// less in the x86_64 stub (480 in the i686 one) for a decoding speed the same within
// the noise (105-113 MB/s either way on 64 MiB of HTML, at the stub's options).
#define _LZMA_SIZE_OPT
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <LzmaDec.c>
#pragma GCC diagnostic pop

namespace vek {
namespace {

Error Bad() { return GeneralError(kBadCompressedData); }

void* Allocate(void*, size_t size) { return malloc(size); }
void Release(void*, void* address) { free(address); }
ISzAlloc allocator = {Allocate, Release};

uint32_t DictionaryOf(const unsigned char* props) {
  return props[1] | uint32_t{props[2]} << 8 | uint32_t{props[3]} << 16 | uint32_t{props[4]} << 24;
}

constexpr unsigned kMaxPropsByte = 9 * 5 * 5;
constexpr uint32_t kMinDictionary = 1 << 12;  // what the SDK makes of smaller ones

}  // namespace

bool ParseLzmaProps(const unsigned char* props, LzmaProps* out) {
  unsigned d = props[0];
  if (d >= kMaxPropsByte) return false;
  const uint8_t lc = d % 9;
  d /= 9;
  const uint8_t lp = d % 5;
  const uint8_t pb = d / 5;
  const uint32_t dictionary = DictionaryOf(props);
  if (lc + lp > 4 || dictionary > kLzmaMaxDictionary) return false;
  *out = {lc, lp, pb, dictionary};
  return true;
}

uint64_t LzmaDecoderMemory(const LzmaProps& props) {
  CLzmaProps sdk = {props.lc, props.lp, props.pb, props.dictionary};
  const uint64_t dictionary = props.dictionary < kMinDictionary ? kMinDictionary : props.dictionary;
  return dictionary + uint64_t{LzmaProps_GetNumProbs(&sdk)} * sizeof(CLzmaProb) + sizeof(CLzmaDec);
}

LzmaBlockDecoder::LzmaBlockDecoder() = default;

LzmaBlockDecoder::~LzmaBlockDecoder() { Release(); }

void LzmaBlockDecoder::Release() {
  if (!state_) return;
  CLzmaDec* dec = static_cast<CLzmaDec*>(state_);
  LzmaDec_Free(dec, &allocator);
  free(dec);
  state_ = nullptr;
}

Error LzmaBlockDecoder::Open(const unsigned char* props, uint64_t decoded_size) {
  Release();
  produced_ = 0;
  decoded_size_ = decoded_size;
  finished_ = false;
  failed_ = true;  // until everything is in place
  LzmaProps parsed;
  if (!ParseLzmaProps(props, &parsed)) return Bad();

  CLzmaDec* dec = static_cast<CLzmaDec*>(malloc(sizeof(CLzmaDec)));
  if (!dec) return OutOfMemoryError();
  LzmaDec_Construct(dec);
  state_ = dec;
  if (LzmaDec_AllocateProbs(dec, props, kLzmaPropsSize, &allocator) != SZ_OK) return OutOfMemoryError();
  // A block shorter than the dictionary never wraps around it: the decoder checks the
  // distances against what it has decoded, so room for the block is enough.
  SizeT room = dec->prop.dicSize;
  if (decoded_size < room) room = static_cast<SizeT>(decoded_size);
  dec->dic = static_cast<Byte*>(malloc(room ? room : 1));
  if (!dec->dic) return OutOfMemoryError();
  dec->dicBufSize = room;
  LzmaDec_Init(dec);
  failed_ = false;
  return NoError();
}

Error LzmaBlockDecoder::Feed(const unsigned char* data, size_t size, DecodeSink& sink) {
  if (failed_) return Bad();
  failed_ = true;
  CLzmaDec* dec = static_cast<CLzmaDec*>(state_);
  for (;;) {
    if (finished_) {
      if (size > 0) return Bad();  // stored bytes after the stream's end
      break;
    }
    const uint64_t left = decoded_size_ - produced_;
    // Also without input: the decoder may still hold the rest of a match that reached
    // past the last piece of output. At the decoded size only an end marker may
    // follow, which LZMA_FINISH_END looks for: without input it at least refuses a
    // match that runs on past the size.
    if (dec->dicPos == dec->dicBufSize && left > 0) dec->dicPos = 0;
    const SizeT start = dec->dicPos;
    SizeT limit = dec->dicBufSize - start;
    if (limit > kLzmaPieceSize) limit = kLzmaPieceSize;
    if (limit > left) limit = static_cast<SizeT>(left);
    SizeT used = size;
    ELzmaStatus status;
    const SRes result =
        LzmaDec_DecodeToDic(dec, start + limit, data, &used, left == 0 ? LZMA_FINISH_END : LZMA_FINISH_ANY, &status);
    if (result != SZ_OK) return Bad();
    data += used;
    size -= used;
    const SizeT made = dec->dicPos - start;
    if (made > 0) {
      produced_ += made;
      VEK_TRY(sink.Put(dec->dic + start, made));
    }
    if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
      if (produced_ != decoded_size_) return Bad();  // an end marker before the decoded size
      finished_ = true;
    } else if (status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK && produced_ == decoded_size_) {
      finished_ = true;
    } else if (status == LZMA_STATUS_NEEDS_MORE_INPUT || (used == 0 && made == 0)) {
      break;  // it took all of this piece (or, at the decoded size, waits for an end marker)
    }
  }
  failed_ = false;
  return NoError();
}

Error LzmaBlockDecoder::Finish() {
  if (failed_ || !finished_) return Bad();
  return NoError();
}

}  // namespace vek
