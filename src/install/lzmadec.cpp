#include "lzmadec.h"

#include <stdlib.h>
#include <string.h>

// The decoder is our own, written for the stub's size: each probability bit, bit
// tree and length goes through one small function, where the LZMA SDK (Debian's
// lzma-dev: the tools' encoder, and the decoder the tests hold it against) expands
// its macros at every use, some 4 KB of code more. Its model (the probabilities'
// layout, the range coder's normalisation before each bit and after each symbol) is
// the SDK's, so that both read every stream to the same bytes and the same verdict.

namespace vek {
namespace {

Error Bad() { return GeneralError(kBadCompressedData); }

constexpr uint32_t kTopValue = 1u << 24;
constexpr unsigned kModelBits = 11;
constexpr unsigned kModelTotal = 1u << kModelBits;
constexpr unsigned kMoveBits = 5;
constexpr unsigned kInitSize = 5;      // the range coder's first bytes: a zero and the code
constexpr unsigned kSymbolInput = 20;  // the most bytes a symbol reads (22 modelled bits, 26 direct)
constexpr unsigned kStates = 12;
constexpr unsigned kLiteralStates = 7;
constexpr unsigned kMatchMinLen = 2;
constexpr unsigned kEnded = kMatchMinLen + 8 + 8 + 256;  // remain once the end marker is read
constexpr uint32_t kMinDictionary = 1 << 12;             // what smaller ones are taken as
constexpr unsigned kMaxPropsByte = 9 * 5 * 5;

// Where each model's probabilities start.
constexpr unsigned kIsMatch = 0;
constexpr unsigned kIsRep = kIsMatch + (kStates << 4);
constexpr unsigned kIsRepG0 = kIsRep + kStates;
constexpr unsigned kIsRepG1 = kIsRepG0 + kStates;
constexpr unsigned kIsRepG2 = kIsRepG1 + kStates;
constexpr unsigned kIsRep0Long = kIsRepG2 + kStates;
constexpr unsigned kPosSlot = kIsRep0Long + (kStates << 4);
constexpr unsigned kSpecPos = kPosSlot + (4 << 6);
constexpr unsigned kAlign = kSpecPos + 128 - 14;
constexpr unsigned kLenCoder = kAlign + 16;
constexpr unsigned kLenProbs = 2 + (16 << 3) + (16 << 3) + 256;  // choice, choice 2, low, mid, high
constexpr unsigned kRepLenCoder = kLenCoder + kLenProbs;
constexpr unsigned kLiteral = kRepLenCoder + kLenProbs;  // 1,846
constexpr unsigned kLiteralProbs = 0x300;

uint32_t ProbsFor(unsigned lc, unsigned lp) { return kLiteral + (kLiteralProbs << (lc + lp)); }

uint32_t DictionaryOf(const unsigned char* props) {
  return props[1] | uint32_t{props[2]} << 8 | uint32_t{props[3]} << 16 | uint32_t{props[4]} << 24;
}

}  // namespace

// The state of one stream, in one allocation with its probabilities after it.
struct LzmaState {
  unsigned lc, lp, pb;
  uint32_t dictionary;  // at least kMinDictionary
  unsigned char* dic;   // the decoded bytes: a window of room bytes, and one spare
  size_t room;
  size_t pos;  // where the next byte goes in dic
  const unsigned char* buf;
  uint32_t range, code;
  uint32_t processed;  // bytes decoded, modulo 2^32
  uint32_t check;      // 0 until dictionary bytes are decoded, then dictionary
  unsigned state;
  uint32_t rep[4];
  unsigned remain;  // what is left of a match cut at a limit; kEnded after the end marker
  bool need_init;   // the range coder's first bytes are still to come
  unsigned temp_size;
  unsigned char temp[kSymbolInput];
  uint16_t* probs;  // ProbsFor(lc, lp) of them, after the state

  void Normalize() {
    if (range < kTopValue) {
      range <<= 8;
      code = code << 8 | *buf++;
    }
  }
  unsigned Bit(uint16_t* p);
  unsigned Tree(uint16_t* p, unsigned bits);
  unsigned Reverse(uint16_t* p, unsigned bits);
  unsigned Length(uint16_t* p, unsigned pos_state);
  bool Symbol(size_t limit);
  void WriteRemain(size_t limit);
  bool DecodeSymbols(size_t limit, const unsigned char* buf_limit);
  unsigned char At(uint32_t distance) const { return dic[pos - distance + (pos < distance ? room : 0)]; }
};

namespace {

enum class Status { kNotSpecified, kNeedsMoreInput, kMaybeFinished, kNotFinished, kFinishedWithMark };

}  // namespace

unsigned LzmaState::Bit(uint16_t* p) {
  const unsigned probability = *p;
  Normalize();
  const uint32_t bound = (range >> kModelBits) * probability;
  if (code < bound) {
    range = bound;
    *p = static_cast<uint16_t>(probability + ((kModelTotal - probability) >> kMoveBits));
    return 0;
  }
  range -= bound;
  code -= bound;
  *p = static_cast<uint16_t>(probability - (probability >> kMoveBits));
  return 1;
}

unsigned LzmaState::Tree(uint16_t* p, unsigned bits) {
  unsigned i = 1;
  do i = i + i + Bit(p + i);
  while (i < (1u << bits));
  return i - (1u << bits);
}

unsigned LzmaState::Reverse(uint16_t* p, unsigned bits) {
  unsigned i = 1, value = 0;
  for (unsigned k = 0; k < bits; ++k) {
    const unsigned bit = Bit(p + i);
    i = i + i + bit;
    value |= bit << k;
  }
  return value;
}

// Lengths 0-7 (low), 8-15 (mid), each by position, and 16-271 (high).
unsigned LzmaState::Length(uint16_t* p, unsigned pos_state) {
  unsigned base = 0, bits = 3;
  uint16_t* tree = p + 2 + (pos_state << 3);
  if (Bit(p)) {
    if (!Bit(p + 1)) {
      base = 8;
      tree += 16 << 3;
    } else {
      base = 16;
      bits = 8;
      tree = p + 2 + (32 << 3);
    }
  }
  return base + Tree(tree, bits);
}

// One symbol, written up to limit (the rest of a longer match kept in remain), and
// the range coder normalised after it. False for a stream that cannot be right.
bool LzmaState::Symbol(size_t limit) {
  const unsigned pos_state = processed & ((1u << pb) - 1);
  if (!Bit(probs + kIsMatch + (state << 4) + pos_state)) {
    uint16_t* p = probs + kLiteral;
    if (check != 0 || processed != 0) {
      p += kLiteralProbs * (((processed & ((1u << lp) - 1)) << lc) + (dic[(pos == 0 ? room : pos) - 1] >> (8 - lc)));
    }
    unsigned symbol = 1;
    if (state < kLiteralStates) {
      state -= state < 4 ? state : 3;
      symbol = Tree(p, 8);
    } else {
      unsigned match = At(rep[0]), offset = 0x100;
      state -= state < 10 ? 3 : 6;
      do {
        match <<= 1;
        const unsigned bit = match & offset;
        const unsigned got = Bit(p + offset + bit + symbol);
        symbol = symbol + symbol + got;
        offset &= got ? bit : ~bit;
      } while (symbol < 0x100);
    }
    dic[pos++] = static_cast<unsigned char>(symbol);
    ++processed;
    Normalize();
    return true;
  }
  uint16_t* lengths;
  if (!Bit(probs + kIsRep + state)) {
    state += kStates;  // a new distance follows the length
    lengths = probs + kLenCoder;
  } else {
    if (check == 0 && processed == 0) return false;
    if (!Bit(probs + kIsRepG0 + state)) {
      if (!Bit(probs + kIsRep0Long + (state << 4) + pos_state)) {
        dic[pos] = At(rep[0]);
        ++pos;
        ++processed;
        state = state < kLiteralStates ? 9 : 11;
        Normalize();
        return true;
      }
    } else {
      uint32_t distance;
      if (!Bit(probs + kIsRepG1 + state)) {
        distance = rep[1];
      } else {
        if (!Bit(probs + kIsRepG2 + state)) {
          distance = rep[2];
        } else {
          distance = rep[3];
          rep[3] = rep[2];
        }
        rep[2] = rep[1];
      }
      rep[1] = rep[0];
      rep[0] = distance;
    }
    state = state < kLiteralStates ? 8 : 11;
    lengths = probs + kRepLenCoder;
  }
  unsigned len = Length(lengths, pos_state);
  if (state >= kStates) {
    uint32_t distance = Tree(probs + kPosSlot + ((len < 4 ? len : 3) << 6), 6);
    if (distance >= 4) {
      const unsigned slot = distance;
      unsigned direct = (slot >> 1) - 1;
      distance = 2 | (slot & 1);
      if (slot < 14) {
        distance <<= direct;
        distance |= Reverse(probs + kSpecPos + distance - slot - 1, direct);
      } else {
        for (direct -= 4; direct > 0; --direct) {
          Normalize();
          range >>= 1;
          code -= range;
          const uint32_t t = 0 - (code >> 31);  // all ones when the bit is 0
          distance = (distance << 1) + (t + 1);
          code += range & t;
        }
        distance = distance << 4 | Reverse(probs + kAlign, 4);
        if (distance == 0xFFFFFFFF) {
          remain = kEnded;
          state -= kStates;
          Normalize();
          return true;
        }
      }
    }
    rep[3] = rep[2];
    rep[2] = rep[1];
    rep[1] = rep[0];
    rep[0] = distance + 1;
    if (distance >= (check == 0 ? processed : check)) return false;
    state = state < kStates + kLiteralStates ? kLiteralStates : kLiteralStates + 3;
  }
  len += kMatchMinLen;
  if (limit == pos) return false;
  const size_t space = limit - pos;
  const unsigned now = space < len ? static_cast<unsigned>(space) : len;
  processed += now;
  remain = len - now;
  size_t from = pos - rep[0] + (pos < rep[0] ? room : 0);
  for (unsigned n = now; n > 0; --n) {
    dic[pos++] = dic[from];
    if (++from == room) from = 0;
  }
  Normalize();
  return true;
}

// The rest of a match cut at the last limit, as far as this one.
void LzmaState::WriteRemain(size_t limit) {
  if (remain == 0 || remain >= kEnded) return;
  unsigned len = remain;
  if (limit - pos < len) len = static_cast<unsigned>(limit - pos);
  if (check == 0 && dictionary - processed <= len) check = dictionary;
  processed += len;
  remain -= len;
  for (; len > 0; --len) {
    dic[pos] = At(rep[0]);
    ++pos;
  }
}

// Symbols up to limit while buf is before buf_limit, the first always; distances are
// checked against what was decoded until a dictionary's worth is there.
bool LzmaState::DecodeSymbols(size_t limit, const unsigned char* buf_limit) {
  do {
    size_t until = limit;
    if (check == 0) {
      const uint32_t rest = dictionary - processed;
      if (limit - pos > rest) until = pos + rest;
    }
    if (!Symbol(until)) return false;
    if (processed >= dictionary) check = dictionary;
    WriteRemain(limit);
  } while (pos < limit && buf < buf_limit && remain < kEnded);
  return true;
}

namespace {

// The stream's next symbols into dic up to dic_limit from src[0, *src_length): told
// whether src holds the rest of the stream. A symbol takes at most kSymbolInput
// bytes: with that many at hand it is decoded, with fewer they wait in temp for the
// next piece, and after the last piece they are decoded followed by zeros, a symbol
// that reads into the zeros being a stream cut short. At the decoded size (at_end) a
// symbol that is not the end marker is an error; a literal there writes one byte past
// the limit, for which the dictionary has room.
bool DecodeToDic(LzmaState* p, size_t dic_limit, const unsigned char* src, size_t* src_length, bool at_end, bool last,
                 Status* status) {
  size_t in_size = *src_length;
  *src_length = 0;
  p->WriteRemain(dic_limit);
  *status = Status::kNotSpecified;
  while (p->remain != kEnded) {
    if (p->need_init) {
      for (; in_size > 0 && p->temp_size < kInitSize; ++*src_length, --in_size) p->temp[p->temp_size++] = *src++;
      if (p->temp_size < kInitSize) {
        *status = Status::kNeedsMoreInput;
        return true;
      }
      if (p->temp[0] != 0) return false;
      p->code = uint32_t{p->temp[1]} << 24 | uint32_t{p->temp[2]} << 16 | uint32_t{p->temp[3]} << 8 | p->temp[4];
      p->range = 0xFFFFFFFF;
      p->need_init = false;
      p->temp_size = 0;
    }
    bool check_end_now = false;
    if (p->pos >= dic_limit) {
      if (p->remain == 0 && p->code == 0) {
        *status = Status::kMaybeFinished;
        return true;
      }
      if (!at_end) {
        *status = Status::kNotFinished;
        return true;
      }
      if (p->remain != 0) {
        *status = Status::kNotFinished;
        return false;
      }
      check_end_now = true;
    }
    const size_t before = p->pos;  // where a symbol refused below began
    if (p->temp_size == 0 && in_size >= kSymbolInput) {
      // One symbol at the decoded size, else as many as the bytes surely hold.
      p->buf = src;
      if (!p->DecodeSymbols(dic_limit, check_end_now ? src : src + in_size - kSymbolInput)) return false;
      const size_t processed = static_cast<size_t>(p->buf - src);
      *src_length += processed;
      src += processed;
      in_size -= processed;
    } else {
      // The bytes of one symbol, those kept from the last piece first.
      const unsigned kept = p->temp_size;
      unsigned rem = kept, look_ahead = 0;
      while (rem < kSymbolInput && look_ahead < in_size) p->temp[rem++] = src[look_ahead++];
      p->temp_size = rem;
      if (rem < kSymbolInput) {
        if (!last) {
          *src_length += look_ahead;
          *status = Status::kNeedsMoreInput;
          return true;
        }
        memset(p->temp + rem, 0, kSymbolInput - rem);
      }
      p->buf = p->temp;
      if (!p->DecodeSymbols(dic_limit, p->buf)) return false;
      const unsigned used = static_cast<unsigned>(p->buf - p->temp);
      if (used > rem) {
        // The symbol needs bytes the stream lacks: what it wrote goes, and the
        // decoder is spent.
        p->pos = before;
        *src_length += look_ahead;
        *status = Status::kNeedsMoreInput;
        return true;
      }
      if (used < kept) {
        // It took fewer than were kept: the rest stay for the next, and src is untouched.
        memmove(p->temp, p->temp + used, kept - used);
        p->temp_size = kept - used;
      } else {
        *src_length += used - kept;
        src += used - kept;
        in_size -= used - kept;
        p->temp_size = 0;
      }
    }
    if (check_end_now && p->remain != kEnded) {
      p->pos = before;
      return false;
    }
  }
  if (p->code == 0) *status = Status::kFinishedWithMark;
  return p->code == 0;
}

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
  const uint64_t dictionary = props.dictionary < kMinDictionary ? kMinDictionary : props.dictionary;
  return dictionary + uint64_t{ProbsFor(props.lc, props.lp)} * sizeof(uint16_t) + sizeof(LzmaState);
}

LzmaBlockDecoder::LzmaBlockDecoder() = default;

LzmaBlockDecoder::~LzmaBlockDecoder() { Release(); }

void LzmaBlockDecoder::Release() {
  if (!state_) return;
  free(state_->dic);
  free(state_);
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
  const uint32_t probs = ProbsFor(parsed.lc, parsed.lp);
  LzmaState* p = static_cast<LzmaState*>(malloc(sizeof(LzmaState) + probs * sizeof(uint16_t)));
  if (!p) return OutOfMemoryError();
  memset(p, 0, sizeof(LzmaState));
  state_ = p;
  p->probs = reinterpret_cast<uint16_t*>(p + 1);
  p->lc = parsed.lc;
  p->lp = parsed.lp;
  p->pb = parsed.pb;
  p->dictionary = parsed.dictionary < kMinDictionary ? kMinDictionary : parsed.dictionary;
  // A block shorter than the dictionary never wraps around it: the distances are
  // checked against what was decoded, so room for the block is enough.
  size_t room = p->dictionary;
  if (decoded_size < room) room = static_cast<size_t>(decoded_size);
  p->dic = static_cast<unsigned char*>(malloc(room + 1));  // one byte for DecodeToDic's end check
  if (!p->dic) return OutOfMemoryError();
  p->room = room;
  p->need_init = true;
  for (uint32_t i = 0; i < probs; ++i) p->probs[i] = kModelTotal >> 1;
  p->rep[0] = p->rep[1] = p->rep[2] = p->rep[3] = 1;
  failed_ = false;
  return NoError();
}

Error LzmaBlockDecoder::Feed(const unsigned char* data, size_t size, bool last, DecodeSink& sink) {
  if (failed_) return Bad();
  failed_ = true;
  LzmaState* p = state_;
  for (;;) {
    if (finished_) {
      if (size > 0) return Bad();  // stored bytes after the stream's end
      break;
    }
    const uint64_t left = decoded_size_ - produced_;
    // Also without input: the decoder may still hold the rest of a match that reached
    // past the last piece of output. At the decoded size only an end marker may
    // follow, which at_end looks for: without input it at least refuses a match that
    // runs on past the size.
    if (p->pos == p->room && left > 0) p->pos = 0;
    const size_t start = p->pos;
    size_t limit = p->room - start;
    if (limit > kLzmaPieceSize) limit = kLzmaPieceSize;
    if (limit > left) limit = static_cast<size_t>(left);
    size_t used = size;
    Status status;
    if (!DecodeToDic(p, start + limit, data, &used, left == 0, last, &status)) return Bad();
    data += used;
    size -= used;
    const size_t made = p->pos - start;
    if (made > 0) {
      produced_ += made;
      VEK_TRY(sink.Put(p->dic + start, made));
    }
    if (status == Status::kFinishedWithMark) {
      if (produced_ != decoded_size_) return Bad();  // an end marker before the decoded size
      finished_ = true;
    } else if (status == Status::kMaybeFinished && produced_ == decoded_size_) {
      finished_ = true;
    } else if (status == Status::kNeedsMoreInput || (used == 0 && made == 0)) {
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
