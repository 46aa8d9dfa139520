// Our encoder against the installer's decoder: every body decodes back exactly, the
// stream ends on its last code, and forced literals are honoured.
#include <gtest/gtest.h>

#include "engine/lzhuf_decoder.h"
#include "pack/lzhuf_encoder.h"
#include "pack/memory_streams.h"
#include "tests/test_files.h"

namespace {

using testfiles::Bytes;

Bytes Repeat(const std::string& text, size_t size) {
  Bytes bytes;
  while (bytes.size() < size) bytes.push_back((uint8_t)text[bytes.size() % text.size()]);
  return bytes;
}

struct RoundTrip {
  const char* name;
  Bytes data;
};

std::vector<RoundTrip> RoundTrips() {
  Bytes x86 = testfiles::Vector("x86_300k.bin");
  Bytes text = testfiles::Vector("text300k.bin");
  return {
      {"one byte", {0x41}},
      {"one space", {' '}},
      {"run of 200", Bytes(200, 'a')},
      {"long run of zeros", Bytes(100000, 0)},
      {"spaces, then text", testfiles::Vector("leading_spaces.bin")},
      {"text", text},
      {"ini with CR LF", testfiles::Vector("crlf_ini.bin")},
      {"random bytes", testfiles::Random(70000, 7)},  // > 32454 symbols: the tree rebuilds
      {"x86 code", x86},
      {"period of 4095",
       Repeat(std::string((const char*)testfiles::Random(4095, 3).data(), 4095), 20000)},
      {"period of 4096",
       Repeat(std::string((const char*)testfiles::Random(4096, 4).data(), 4096), 20000)},
      {"period of 4097",
       Repeat(std::string((const char*)testfiles::Random(4097, 5).data(), 4097), 20000)},
      // The decoder writes its ring out when the write position wraps: the first wrap comes
      // after 60 bytes, then every 4096.
      {"ends as the ring wraps", Bytes(text.begin(), text.begin() + 60)},
      {"ends at the second wrap", Bytes(x86.begin(), x86.begin() + 60 + 4096)},
      {"one past the second wrap", Bytes(x86.begin(), x86.begin() + 60 + 4096 + 1)},
      // Around the per-file bar's redraw step for common bar widths.
      {"299 bytes", Bytes(text.begin(), text.begin() + 299)},
      {"300 bytes", Bytes(text.begin(), text.begin() + 300)},
      {"301 bytes", Bytes(text.begin(), text.begin() + 301)},
  };
}

TEST(EncoderRoundTrip, DecoderRestoresEveryInputAndReadsOneBytePastTheEnd) {
  for (vexa::Parse parse : {vexa::Parse::Greedy, vexa::Parse::Optimal}) {
    for (const RoundTrip& c : RoundTrips()) {
      SCOPED_TRACE(std::string(c.name) + (parse == vexa::Parse::Greedy ? ", greedy" : ", optimal"));
      vexa::EncodeOptions options;
      options.parse = parse;
      vexa::EncodedSegment encoded = vexa::EncodeSegment(c.data, options);
      vexa::DecodedBody decoded = vexa::DecodeBody(encoded.body);
      EXPECT_TRUE(decoded.ok);
      EXPECT_TRUE(decoded.output == c.data);
      // The stream ends in its last code: no byte beyond it, so the decoder's read-ahead
      // finds exactly one missing byte, and without the last byte decoding fails.
      EXPECT_EQ(Decoder.pastEndReads, 1u);
      Bytes shorter(encoded.body.begin(), encoded.body.end() - 1);
      EXPECT_FALSE(vexa::DecodeBody(shorter).ok);
    }
  }
}

TEST(EncoderRoundTrip, SizeFieldIsLittleEndian) {
  Bytes data(0x010203, 'x');
  vexa::EncodedSegment encoded = vexa::EncodeSegment(data);
  EXPECT_EQ(Bytes(encoded.body.begin(), encoded.body.begin() + 4), (Bytes{0x03, 0x02, 0x01, 0x00}));
}

TEST(EncoderRoundTrip, RefusesEmptyInput) {
  EXPECT_THROW(vexa::EncodeSegment(Bytes{}), std::invalid_argument);
}

TEST(EncoderParse, OptimalIsSmallerThanGreedyOnTextAndCode) {
  for (const char* name : {"text300k.bin", "x86_300k.bin"}) {
    Bytes data = testfiles::Vector(name);
    vexa::EncodeOptions greedy;
    greedy.parse = vexa::Parse::Greedy;
    EXPECT_LT(vexa::EncodeSegment(data).body.size(), vexa::EncodeSegment(data, greedy).body.size())
        << name;
  }
}

// The longest match at position p: sources up to RING_SIZE bytes back, the ring's spaces
// before the data, at most MAX_MATCH bytes and not past the end.
size_t LongestMatch(const Bytes& data, size_t p) {
  auto at = [&](ptrdiff_t i) { return i < 0 ? (uint8_t)' ' : data[(size_t)i]; };
  size_t limit = std::min<size_t>(MAX_MATCH, data.size() - p), best = 0;
  for (ptrdiff_t d = 1; d <= RING_SIZE; d++) {
    size_t n = 0;
    while (n < limit && at((ptrdiff_t)(p + n) - d) == data[p + n]) n++;
    best = std::max(best, n);
  }
  return best;
}

TEST(EncoderParse, GreedyTakesTheLongestMatchWhereverItStops) {
  // Code with a stretch repeated from 2000 bytes back, so 60-byte matches follow each other
  // and the parse also stops at positions just after the start of one.
  Bytes x86 = testfiles::Vector("x86_300k.bin");
  ASSERT_GE(x86.size(), 9000u);
  Bytes data(x86.begin(), x86.begin() + 6000);
  data.insert(data.end(), x86.begin() + 4000, x86.begin() + 5000);
  data.insert(data.end(), x86.begin() + 6000, x86.begin() + 9000);
  vexa::EncodeOptions greedy;
  greedy.parse = vexa::Parse::Greedy;
  vexa::EncodedSegment encoded = vexa::EncodeSegment(data, greedy);
  ASSERT_TRUE(vexa::DecodeBody(encoded.body).output == data);
  for (size_t k = 0; k < encoded.symbols.size(); k++) {
    size_t p = encoded.symbols[k].inputPosition;
    size_t end =
        k + 1 < encoded.symbols.size() ? encoded.symbols[k + 1].inputPosition : data.size();
    size_t longest = LongestMatch(data, p);
    if (encoded.symbols[k].isMatch) {
      ASSERT_EQ(end - p, longest) << "match at " << p;
    } else {
      ASSERT_LT(longest, 3u) << "literal at " << p;
    }
  }
}

TEST(EncoderParse, NoMatchStartsAtAForcedLiteralPosition) {
  Bytes data = Bytes(5000, 'z');
  vexa::EncodeOptions options;
  options.literalOnlyAt = {1, 2, 3, 61, 200};
  vexa::EncodedSegment encoded = vexa::EncodeSegment(data, options);
  for (const vexa::CodedSymbol& symbol : encoded.symbols) {
    bool forced = std::binary_search(options.literalOnlyAt.begin(), options.literalOnlyAt.end(),
                                     symbol.inputPosition);
    EXPECT_FALSE(forced && symbol.isMatch) << "match at " << symbol.inputPosition;
  }
  EXPECT_TRUE(vexa::DecodeBody(encoded.body).output == data);
}

TEST(EncoderOffsets, PrefixCodesMatchTheDecoderTables) {
  // Codes are canonical from all zero bits: 000, 0010, 0011, 0100, 01010, ...
  const struct {
    unsigned high;
    uint8_t code, length;
  } cases[] = {{0, 0b000, 3},      {1, 0b0010, 4},      {3, 0b0100, 4},
               {4, 0b01010, 5},    {11, 0b10001, 5},    {12, 0b100100, 6},
               {24, 0b1100000, 7}, {48, 0b11110000, 8}, {63, 0b11111111, 8}};
  for (const auto& c : cases) {
    vexa::OffsetCode code = vexa::OffsetHighCode(c.high);
    EXPECT_EQ(code.code, c.code) << c.high;
    EXPECT_EQ(code.length, c.length) << c.high;
  }
}

}  // namespace
