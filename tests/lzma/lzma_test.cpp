#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "lzmabackends.h"
#include "lzmadec.h"
#include "lzmaenc.h"

#if VEK_HAVE_LIBLZMA
#include <lzma.h>
#endif
// The SDK's decoder, compiled here: the one ours is held against.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <LzmaDec.c>
#pragma GCC diagnostic pop

namespace vek {
namespace {

using build::LzmaEncodeBlock;
using build::LzmaOptions;
using Bytes = std::vector<unsigned char>;

Bytes Text(size_t size) {
  static const char* const kWords[] = {"the ",   "archive ", "holds ",    "files ", "and ",     "folders ", "<p>",
                                       "</p>\n", "setup ",   "extracts ", "them ",  "quickly ", "into ",    "place. "};
  std::mt19937 random(7);
  Bytes out;
  while (out.size() < size) {
    const char* word = kWords[random() % (sizeof kWords / sizeof *kWords)];
    out.insert(out.end(), word, word + strlen(word));
  }
  out.resize(size);
  return out;
}

Bytes Random(size_t size) {
  std::mt19937 random(11);
  Bytes out(size);
  for (auto& b : out) b = static_cast<unsigned char>(random());
  return out;
}

Bytes Repetitive(size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>("0123456789abcdef"[i % 16] ^ (i >> 16));
  return out;
}

// Keeps what it is given, and the largest piece.
class Collect final : public DecodeSink {
 public:
  Error Put(const unsigned char* data, size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    if (size > largest) largest = size;
    return fail_after && bytes.size() >= fail_after ? InOutError(kIoDiskFull) : NoError();
  }
  Bytes bytes;
  size_t largest = 0;
  size_t fail_after = 0;  // fail the Put that brings the total to this; 0: never
};

struct Decoded {
  Error feed;  // the first failing Feed, or none
  Error finish;
  Collect sink;
};

// Opens a decoder for decoded_size and feeds it the stream in pieces of step bytes
// (0: all at once), then finishes.
void Decode(const unsigned char* props, const Bytes& stream, uint64_t decoded_size, size_t step, Decoded* out) {
  LzmaBlockDecoder decoder;
  ASSERT_EQ(decoder.Open(props, decoded_size), NoError());
  out->feed = NoError();
  size_t at = 0;
  do {
    const size_t n = step == 0 ? stream.size() : std::min(step, stream.size() - at);
    out->feed = decoder.Feed(stream.data() + at, n, at + n == stream.size(), out->sink);
    at += n;
  } while (!out->feed && at < stream.size());
  out->finish = decoder.Finish();
  EXPECT_EQ(decoder.Produced(), out->sink.bytes.size());
}

enum class Encoder { kDefault, kSdk };

Bytes Encode(Encoder encoder, const Bytes& data, const LzmaOptions& options, unsigned char props[kLzmaPropsSize]) {
  if (encoder == Encoder::kDefault) return LzmaEncodeBlock(data.data(), data.size(), options, props);
  const build::LzmaSettings settings = build::ResolveLzmaSettings(options, data.size());
  build::WriteLzmaProps(settings, props);
  return build::LzmaEncodeWithSdk(data.data(), data.size(), settings);
}

const Error kBad = GeneralError(kBadCompressedData);

TEST(LzmaTest, RoundTrips) {
  LzmaOptions fast;
  fast.level = 4;
  fast.extreme = false;
  LzmaOptions literal_heavy;  // the settings an executable tree might get
  literal_heavy.level = 6;
  literal_heavy.lc = 0;
  literal_heavy.lp = 2;
  const LzmaOptions best;
  const struct {
    const char* name;
    Bytes data;
    LzmaOptions options;
  } cases[] = {
      {"empty", {}, best},
      {"one byte", {'x'}, best},
      {"text", Text(200000), best},
      {"text, fast", Text(200000), fast},
      {"text, lc0 lp2", Text(100000), literal_heavy},
      {"random", Random(150000), fast},
      {"repetitive 1 MiB", Repetitive(1 << 20), best},
      // Its last match reaches past a piece of output after the last input byte.
      {"one byte, a piece and 102 more", Bytes(kLzmaPieceSize + 102, 'x'), best},
  };
  for (const auto& c : cases) {
    for (Encoder encoder : {Encoder::kDefault, Encoder::kSdk}) {
      SCOPED_TRACE(std::string(c.name) + (encoder == Encoder::kSdk ? ", SDK encoder" : ", default encoder"));
      unsigned char props[kLzmaPropsSize];
      const Bytes stream = Encode(encoder, c.data, c.options, props);
      unsigned char again_props[kLzmaPropsSize];
      EXPECT_EQ(Encode(encoder, c.data, c.options, again_props), stream) << "not deterministic";
      EXPECT_EQ(memcmp(props, again_props, kLzmaPropsSize), 0);
      LzmaProps parsed;
      ASSERT_TRUE(ParseLzmaProps(props, &parsed));
      EXPECT_EQ(parsed.dictionary, build::LzmaDictionaryFor(c.options, c.data.size()));
      for (size_t step : {size_t{0}, size_t{1}, size_t{4093}}) {
        if (step == 1 && c.data.size() > 200000) continue;  // a byte at a time is slow under Wine
        SCOPED_TRACE("pieces of " + std::to_string(step));
        Decoded d;
        Decode(props, stream, c.data.size(), step, &d);
        EXPECT_EQ(d.feed, NoError());
        EXPECT_EQ(d.finish, NoError());
        EXPECT_TRUE(d.sink.bytes == c.data);
        EXPECT_LE(d.sink.largest, kLzmaPieceSize);
      }
    }
  }
}

TEST(LzmaTest, RefusesPropsBeforeAllocating) {
  const struct {
    const char* name;
    unsigned char props[kLzmaPropsSize];
    bool good;
  } cases[] = {
      {"lc3 lp0 pb2, 64 MiB", {0x5D, 0, 0, 0, 4}, true},
      {"lc4 lp0 pb4", {4 * 5 * 9 + 4, 0, 0, 1, 0}, true},
      {"lc0 lp4 pb0", {4 * 9, 0, 0, 1, 0}, true},
      {"lc3 lp2: more than 4", {2 * 9 + 3, 0, 0, 1, 0}, false},
      {"lc8", {8, 0, 0, 1, 0}, false},
      {"first byte 9*5*5", {225, 0, 0, 1, 0}, false},
      {"first byte 255", {255, 0, 0, 1, 0}, false},
      {"64 MiB + 1", {0x5D, 1, 0, 0, 4}, false},
      {"4 GiB - 1", {0x5D, 0xFF, 0xFF, 0xFF, 0xFF}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LzmaProps parsed;
    EXPECT_EQ(ParseLzmaProps(c.props, &parsed), c.good);
    LzmaBlockDecoder decoder;
    // A huge decoded size: a dictionary larger than the limit would be allocated in
    // full, and fail as out of memory rather than as bad data.
    EXPECT_EQ(decoder.Open(c.props, uint64_t{1} << 40), c.good ? NoError() : kBad);
    if (!c.good) {
      Collect sink;
      EXPECT_EQ(decoder.Feed(c.props, 1, true, sink), kBad) << "fed after a refused Open";
    }
  }
  LzmaProps props;
  ASSERT_TRUE(ParseLzmaProps((const unsigned char[]){0x5D, 0, 0, 0, 4}, &props));
  EXPECT_EQ(props.lc, 3);
  EXPECT_EQ(props.lp, 0);
  EXPECT_EQ(props.pb, 2);
  EXPECT_EQ(props.dictionary, kLzmaMaxDictionary);
  EXPECT_GE(LzmaDecoderMemory(props), uint64_t{kLzmaMaxDictionary});
  EXPECT_LT(LzmaDecoderMemory(props), uint64_t{kLzmaMaxDictionary} + (64 << 10));
}

TEST(LzmaTest, RefusesDamagedStreams) {
  const Bytes data = Text(300000);
  unsigned char props[kLzmaPropsSize];
  LzmaOptions options;
  options.level = 5;
  const Bytes stream = LzmaEncodeBlock(data.data(), data.size(), options, props);
  const auto cut = [&](size_t keep) { return Bytes(stream.begin(), stream.begin() + keep); };
  Bytes garbage = stream;
  garbage.push_back(0);
  Bytes first_byte = stream;
  first_byte[0] = 1;  // the range coder's first byte is always 0
  const struct {
    const char* name;
    Bytes stream;
    uint64_t decoded_size;
    bool feed_fails;  // else Feed succeeds and Finish fails
  } cases[] = {
      {"cut by one byte", cut(stream.size() - 1), data.size(), false},
      {"cut in half", cut(stream.size() / 2), data.size(), false},
      {"cut inside the first 5 bytes", cut(3), data.size(), false},
      {"nothing", {}, data.size(), false},
      {"more decoded size than the stream holds", stream, data.size() + 1, false},
      {"less decoded size than the stream holds", stream, data.size() - 1, true},
      {"far less", stream, 1000, true},
      {"a byte after the stream", garbage, data.size(), true},
      {"first byte not 0", first_byte, data.size(), true},
  };
  for (const auto& c : cases) {
    for (size_t step : {size_t{0}, size_t{1}}) {
      SCOPED_TRACE(std::string(c.name) + (step ? ", a byte at a time" : ", at once"));
      Decoded d;
      Decode(props, c.stream, c.decoded_size, step, &d);
      EXPECT_EQ(d.feed, c.feed_fails ? kBad : NoError());
      EXPECT_EQ(d.finish, kBad);
      EXPECT_LE(d.sink.bytes.size(), c.decoded_size);
      EXPECT_EQ(memcmp(d.sink.bytes.data(), data.data(), std::min(d.sink.bytes.size(), data.size())), 0);
    }
  }
}

void* SdkAllocate(void*, size_t size) { return malloc(size); }
void SdkRelease(void*, void* address) { free(address); }
ISzAlloc sdk_allocator = {SdkAllocate, SdkRelease};

// The block decoder, which decodes a stream's last bytes without the SDK's trial
// decoding, against the SDK's one-call decoder on damaged streams: the same verdict
// and, where both take the stream, the same bytes.
TEST(LzmaTest, JudgesDamagedStreamsAsTheSdkDoes) {
  const Bytes data = Text(20000);
  unsigned char props[kLzmaPropsSize];
  const Bytes stream = LzmaEncodeBlock(data.data(), data.size(), LzmaOptions{}, props);
  std::mt19937 random(11);
  int taken = 0;
  for (int trial = 0; trial < 600; ++trial) {
    Bytes damaged = stream;
    uint64_t size = data.size();
    switch (trial % 5) {  // 4: the stream as it is
      case 0: damaged[random() % damaged.size()] ^= static_cast<unsigned char>(1 + random() % 255); break;
      case 1: damaged.resize(random() % damaged.size()); break;
      case 2: damaged.resize(damaged.size() - 1 - random() % 24); break;  // within the last symbols
      case 3: size = random() % (data.size() + 8); break;
    }
    SCOPED_TRACE("trial " + std::to_string(trial));
    Bytes sdk(size + 1);
    SizeT sdk_size = size, sdk_used = damaged.size();
    ELzmaStatus status;
    const SRes result = LzmaDecode(sdk.data(), &sdk_size, damaged.data(), &sdk_used, props, kLzmaPropsSize,
                                   LZMA_FINISH_END, &status, &sdk_allocator);
    const bool sdk_takes = result == SZ_OK && sdk_size == size && sdk_used == damaged.size() &&
                           (status == LZMA_STATUS_FINISHED_WITH_MARK || status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK);
    sdk.resize(sdk_size);
    for (size_t step : {size_t{0}, size_t{7}}) {
      Decoded d;
      Decode(props, damaged, size, step, &d);
      const bool takes = d.feed.ok() && d.finish.ok();
      EXPECT_EQ(takes, sdk_takes) << "pieces of " << step;
      if (takes && sdk_takes) EXPECT_TRUE(d.sink.bytes == sdk);
      taken += takes;
    }
  }
  EXPECT_EQ(taken, 2 * 600 / 5);  // the streams left as they are, and no damaged one
}

TEST(LzmaTest, PassesOnTheSinksFailure) {
  const Bytes data = Text(300000);
  unsigned char props[kLzmaPropsSize];
  const Bytes stream = LzmaEncodeBlock(data.data(), data.size(), LzmaOptions{}, props);
  LzmaBlockDecoder decoder;
  ASSERT_EQ(decoder.Open(props, data.size()), NoError());
  Collect sink;
  sink.fail_after = 100000;
  EXPECT_EQ(decoder.Feed(stream.data(), stream.size(), true, sink), InOutError(kIoDiskFull));
  EXPECT_EQ(decoder.Feed(stream.data(), 0, true, sink), kBad);
  EXPECT_EQ(decoder.Finish(), kBad);
  // Opened again, the same decoder decodes the block.
  Collect again;
  ASSERT_EQ(decoder.Open(props, data.size()), NoError());
  EXPECT_EQ(decoder.Feed(stream.data(), stream.size(), true, again), NoError());
  EXPECT_EQ(decoder.Finish(), NoError());
  EXPECT_TRUE(again.bytes == data);
}

TEST(LzmaTest, DictionaryFollowsTheBlock) {
  LzmaOptions level1;
  level1.level = 1;
  LzmaOptions explicit_dictionary;
  explicit_dictionary.dictionary = 5 << 20;
  const struct {
    const char* name;
    LzmaOptions options;
    uint64_t block;
    uint32_t dictionary;
  } cases[] = {
      {"empty block", LzmaOptions{}, 0, 4096},
      {"1000 bytes", LzmaOptions{}, 1000, 4096},
      {"5000 bytes", LzmaOptions{}, 5000, 6144},
      {"1 MiB + 1", LzmaOptions{}, (1 << 20) + 1, 3 << 19},
      {"1 GiB", LzmaOptions{}, uint64_t{1} << 30, kLzmaMaxDictionary},
      {"level 1, 1 GiB", level1, uint64_t{1} << 30, 1 << 20},
      {"5 MiB asked, 1 GiB", explicit_dictionary, uint64_t{1} << 30, 5 << 20},
      {"5 MiB asked, 100 KiB", explicit_dictionary, 100 << 10, 128 << 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(build::LzmaDictionaryFor(c.options, c.block), c.dictionary);
  }
}

TEST(LzmaTest, RefusesOptionsOutOfRange) {
  const auto with = [](auto change) {
    LzmaOptions options;
    change(options);
    return options;
  };
  const LzmaOptions cases[] = {
      with([](LzmaOptions& o) { o.level = 0; }),
      with([](LzmaOptions& o) { o.level = 10; }),
      with([](LzmaOptions& o) { o.lc = 4, o.lp = 1; }),
      with([](LzmaOptions& o) { o.pb = 5; }),
      with([](LzmaOptions& o) { o.lc = -1; }),
      with([](LzmaOptions& o) { o.nice_len = 4; }),
      with([](LzmaOptions& o) { o.nice_len = 274; }),
      with([](LzmaOptions& o) { o.dictionary = 4095; }),
      with([](LzmaOptions& o) { o.dictionary = kLzmaMaxDictionary + 1; }),
  };
  const unsigned char byte = 0;
  for (const auto& options : cases) {
    unsigned char props[kLzmaPropsSize];
    EXPECT_THROW(LzmaEncodeBlock(&byte, 1, options, props), std::runtime_error);
  }
}

#if VEK_HAVE_LIBLZMA
// liblzma's raw decoder on a stream of ours, told the decoded size.
Bytes LiblzmaDecode(const unsigned char* props, const Bytes& stream, uint64_t decoded_size, lzma_ret* ret) {
  lzma_options_lzma options{};
  lzma_filter filter = {LZMA_FILTER_LZMA1, nullptr};  // the same props as LZMA1EXT's
  EXPECT_EQ(lzma_properties_decode(&filter, nullptr, props, kLzmaPropsSize), LZMA_OK);
  lzma_options_lzma* decoded = static_cast<lzma_options_lzma*>(filter.options);
  options = *decoded;
  free(decoded);
  options.ext_flags = 0;  // left unset for LZMA1: no end marker allowed
  lzma_set_ext_size(options, decoded_size);
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out(decoded_size + 16);
  size_t in_at = 0, out_at = 0;
  *ret =
      lzma_raw_buffer_decode(filters, nullptr, stream.data(), &in_at, stream.size(), out.data(), &out_at, out.size());
  EXPECT_EQ(in_at, stream.size());
  out.resize(out_at);
  return out;
}

TEST(LzmaTest, LiblzmaAgrees) {
  LzmaOptions fast;
  fast.level = 3;
  fast.extreme = false;
  LzmaOptions literal_heavy;
  literal_heavy.lc = 1;
  literal_heavy.lp = 2;
  const struct {
    const char* name;
    Bytes data;
    LzmaOptions options;
  } cases[] = {
      {"empty", {}, LzmaOptions{}},
      {"text", Text(300000), LzmaOptions{}},
      {"text, fast", Text(300000), fast},
      {"random, lc1 lp2", Random(100000), literal_heavy},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned char props[kLzmaPropsSize];
    const Bytes stream = Encode(Encoder::kSdk, c.data, c.options, props);
    lzma_ret ret;
    EXPECT_TRUE(LiblzmaDecode(props, stream, c.data.size(), &ret) == c.data);
    EXPECT_EQ(ret, LZMA_OK);
  }
}

// A stream with an end marker right after the decoded size is accepted; one anywhere
// earlier is not.
TEST(LzmaTest, TakesAnEndMarkerAtTheDecodedSize) {
  const Bytes data = Text(100000);
  lzma_options_lzma options;
  ASSERT_FALSE(lzma_lzma_preset(&options, 6));
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;  // the encoder then writes the marker
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes stream(data.size() + 1000);
  size_t size = 0;
  ASSERT_EQ(lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), stream.data(), &size, stream.size()),
            LZMA_OK);
  stream.resize(size);
  unsigned char props[kLzmaPropsSize];
  const build::LzmaSettings settings{options.dict_size, 3, 0, 2, true, true, 64, 0};
  build::WriteLzmaProps(settings, props);
  for (size_t step : {size_t{0}, size_t{1}}) {
    SCOPED_TRACE(step ? "a byte at a time" : "at once");
    Decoded whole;
    Decode(props, stream, data.size(), step, &whole);
    EXPECT_EQ(whole.feed, NoError());
    EXPECT_EQ(whole.finish, NoError());
    EXPECT_TRUE(whole.sink.bytes == data);
    Decoded more;
    Decode(props, stream, data.size() + 1, step, &more);
    EXPECT_NE(more.feed.ok() && more.finish.ok(), true);
    EXPECT_EQ(more.sink.bytes.size(), data.size());
  }
}
#endif

}  // namespace
}  // namespace vek
