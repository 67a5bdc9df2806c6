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

// The SDK's LzmaDec_DecodeToDic, told whether src holds the rest of the stream. A
// symbol takes at most LZMA_REQUIRED_INPUT_MAX bytes: with that many at hand it is
// decoded, with fewer they wait in tempBuf for the next piece, and after the last
// piece they are decoded followed by zeros, a symbol that reads into the zeros being
// a stream cut short. So the SDK's trial decoding (LzmaDec_TryDummy, some 1.4 KB of
// code) is never needed. At the decoded size (finishMode LZMA_FINISH_END) a symbol
// that is not the end marker is an error; a literal there writes one byte past the
// limit, for which the dictionary has room.
SRes DecodeToDic(CLzmaDec* p, SizeT dicLimit, const Byte* src, SizeT* srcLen, ELzmaFinishMode finishMode, bool last,
                 ELzmaStatus* status) {
  SizeT inSize = *srcLen;
  *srcLen = 0;
  LzmaDec_WriteRem(p, dicLimit);
  *status = LZMA_STATUS_NOT_SPECIFIED;
  while (p->remainLen != kMatchSpecLenStart) {
    if (p->needFlush != 0) {
      for (; inSize > 0 && p->tempBufSize < RC_INIT_SIZE; (*srcLen)++, inSize--) p->tempBuf[p->tempBufSize++] = *src++;
      if (p->tempBufSize < RC_INIT_SIZE) {
        *status = LZMA_STATUS_NEEDS_MORE_INPUT;
        return SZ_OK;
      }
      if (p->tempBuf[0] != 0) return SZ_ERROR_DATA;
      LzmaDec_InitRc(p, p->tempBuf);
      p->tempBufSize = 0;
    }
    bool checkEndMarkNow = false;
    if (p->dicPos >= dicLimit) {
      if (p->remainLen == 0 && p->code == 0) {
        *status = LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK;
        return SZ_OK;
      }
      if (finishMode == LZMA_FINISH_ANY) {
        *status = LZMA_STATUS_NOT_FINISHED;
        return SZ_OK;
      }
      if (p->remainLen != 0) {
        *status = LZMA_STATUS_NOT_FINISHED;
        return SZ_ERROR_DATA;
      }
      checkEndMarkNow = true;
    }
    if (p->needInitState) LzmaDec_InitStateReal(p);
    const SizeT before = p->dicPos;  // where a symbol refused below began
    if (p->tempBufSize == 0 && inSize >= LZMA_REQUIRED_INPUT_MAX) {
      // One symbol at the decoded size, else as many as the bytes surely hold.
      const Byte* bufLimit = checkEndMarkNow ? src : src + inSize - LZMA_REQUIRED_INPUT_MAX;
      p->buf = src;
      if (LzmaDec_DecodeReal2(p, dicLimit, bufLimit) != 0) return SZ_ERROR_DATA;
      const SizeT processed = static_cast<SizeT>(p->buf - src);
      *srcLen += processed;
      src += processed;
      inSize -= processed;
    } else {
      // The bytes of one symbol, those kept from the last piece first.
      const unsigned kept = p->tempBufSize;
      unsigned rem = kept, lookAhead = 0;
      while (rem < LZMA_REQUIRED_INPUT_MAX && lookAhead < inSize) p->tempBuf[rem++] = src[lookAhead++];
      p->tempBufSize = rem;
      if (rem < LZMA_REQUIRED_INPUT_MAX) {
        if (!last) {
          *srcLen += lookAhead;
          *status = LZMA_STATUS_NEEDS_MORE_INPUT;
          return SZ_OK;
        }
        memset(p->tempBuf + rem, 0, LZMA_REQUIRED_INPUT_MAX - rem);
      }
      p->buf = p->tempBuf;
      if (LzmaDec_DecodeReal2(p, dicLimit, p->buf) != 0) return SZ_ERROR_DATA;
      const unsigned used = static_cast<unsigned>(p->buf - p->tempBuf);
      if (used > rem) {
        // The symbol needs bytes the stream lacks, as the SDK's trial would have
        // found; what it wrote goes, and the decoder is spent.
        p->dicPos = before;
        *srcLen += lookAhead;
        *status = LZMA_STATUS_NEEDS_MORE_INPUT;
        return SZ_OK;
      }
      if (used < kept) {
        // It took fewer than were kept: the rest stay for the next, and src is untouched.
        memmove(p->tempBuf, p->tempBuf + used, kept - used);
        p->tempBufSize = kept - used;
      } else {
        *srcLen += used - kept;
        src += used - kept;
        inSize -= used - kept;
        p->tempBufSize = 0;
      }
    }
    if (checkEndMarkNow && p->remainLen != kMatchSpecLenStart) {
      p->dicPos = before;
      return SZ_ERROR_DATA;
    }
  }
  if (p->code == 0) *status = LZMA_STATUS_FINISHED_WITH_MARK;
  return p->code == 0 ? SZ_OK : SZ_ERROR_DATA;
}

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
  dec->dic = static_cast<Byte*>(malloc(room + 1));  // one byte for DecodeToDic's end check
  if (!dec->dic) return OutOfMemoryError();
  dec->dicBufSize = room;
  LzmaDec_Init(dec);
  failed_ = false;
  return NoError();
}

Error LzmaBlockDecoder::Feed(const unsigned char* data, size_t size, bool last, DecodeSink& sink) {
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
        DecodeToDic(dec, start + limit, data, &used, left == 0 ? LZMA_FINISH_END : LZMA_FINISH_ANY, last, &status);
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
      // It took all of this piece (or, at the decoded size, waits for an end marker);
      // after the last, the stream is short, and Finish says so.
      if (last) return NoError();
      break;
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
