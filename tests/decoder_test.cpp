// The decoder against the published reference encoder's output, its damaged-input rules,
// its progress rule and the tree's tie-breaks.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/lzhuf_decoder.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A reference encoding or its decoded data; a missing file fails the test with its path.
Bytes VectorFile(const std::string& name) {
  std::string path = std::string(VECTOR_DIR) + "/" + name;
  Bytes bytes = ReadFile(path);
  if (bytes.empty()) ADD_FAILURE() << "missing test data " << path;
  return bytes;
}

// Per process: the test runner may run several of these programs at once.
std::string TempPath(const std::string& name) {
  std::string file = "vexa_decoder_test_" + std::to_string(getpid()) + "_" + name;
  return (std::filesystem::temp_directory_path() / file).string();
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

struct DecodeResult {
  int ok;
  Bytes output;
  uint32_t pastEndReads;
};

DecodeResult Decode(const Bytes& segment, const LzhufProgress* progress = nullptr) {
  std::string in = TempPath("in"), out = TempPath("out");
  WriteFile(in, segment);
  FILE* input = fopen(in.c_str(), "rb");
  FILE* output = fopen(out.c_str(), "wb");
  int ok = LzhufDecode(input, output, progress);
  fclose(output);
  fclose(input);
  DecodeResult result = {ok, ReadFile(out), Decoder.pastEndReads};
  remove(in.c_str());
  remove(out.c_str());
  return result;
}

const char* const kVectors[] = {"one_byte",       "three_bytes", "run200",   "short_text",
                                "leading_spaces", "random64k",   "text300k", "x86_300k",
                                "crlf_ini",       "aligned_end"};

class ReferenceVector : public testing::TestWithParam<const char*> {};

TEST_P(ReferenceVector, DecodesByteExactlyReadingOneBytePastTheEnd) {
  std::string base = GetParam();
  Bytes encoded = VectorFile(base + ".lzh"), expected = VectorFile(base + ".bin");
  ASSERT_FALSE(encoded.empty() || expected.empty());
  DecodeResult result = Decode(encoded);
  EXPECT_EQ(result.ok, 1);
  EXPECT_EQ(result.output, expected);
  EXPECT_EQ(result.pastEndReads, 1u);
}

TEST_P(ReferenceVector, FailsWhenTheLastCompressedByteIsMissing) {
  Bytes encoded = VectorFile(std::string(GetParam()) + ".lzh");
  ASSERT_GT(encoded.size(), 4u);
  encoded.pop_back();
  EXPECT_EQ(Decode(encoded).ok, 0);
}

INSTANTIATE_TEST_SUITE_P(Vectors, ReferenceVector, testing::ValuesIn(kVectors));

TEST(DecoderHeader, UnusableHeadersFailWithoutWriting) {
  const struct {
    const char* name;
    Bytes segment;
  } cases[] = {
      {"empty file", {}},
      {"three header bytes", {0x01, 0x00, 0x00}},
      {"size zero", {0x00, 0x00, 0x00, 0x00, 0xE6, 0x80}},
  };
  for (const auto& c : cases) {
    DecodeResult result = Decode(c.segment);
    EXPECT_EQ(result.ok, 0) << c.name;
    EXPECT_TRUE(result.output.empty()) << c.name;
  }
}

TEST(DecoderInput, DamagedSizeFieldStopsSoonInsteadOfWritingGarbage) {
  // one_byte.lzh claims a gigabyte: the stream runs out after a handful of symbols.
  Bytes encoded = VectorFile("one_byte.lzh");
  ASSERT_GE(encoded.size(), 4u);
  encoded[3] = 0x40;
  DecodeResult result = Decode(encoded);
  EXPECT_EQ(result.ok, 0);
  EXPECT_LT(result.output.size(), 64u);
}

TEST(DecoderOutput, WriteFailureReturnsFalse) {
  std::string in = TempPath("in"), out = TempPath("readonly");
  Bytes encoded = VectorFile("text300k.lzh");
  ASSERT_FALSE(encoded.empty());
  WriteFile(in, encoded);
  WriteFile(out, {});
  FILE* input = fopen(in.c_str(), "rb");
  FILE* output = fopen(out.c_str(), "rb");  // writes to a read-only stream fail
  EXPECT_EQ(LzhufDecode(input, output, nullptr), 0);
  fclose(output);
  fclose(input);
  remove(in.c_str());
  remove(out.c_str());
}

std::vector<uint32_t> drawn;
int finished;
void RecordDraw(uint32_t written, uint32_t size) {
  drawn.push_back(written);
  EXPECT_EQ(size, 200u);
}
void RecordFinish() { finished++; }

TEST(DecoderProgress, RedrawsOnlyWhenWrittenLandsOnAMultipleOfStep) {
  // run200: a literal, then matches of 60, 60, 60 and 19: written is 1, 61, 121, 181, 200.
  const struct {
    unsigned width;
    std::vector<uint32_t> draws;
  } cases[] = {
      {400, {1, 61, 121, 181, 200}},  // smaller than the bar: step 1, every symbol
      {0, {1, 61, 121, 181, 200}},    // no width: step 1
      {20, {200}},                    // step 10: only the end lands on a multiple
      {3, {}},                        // step 66: every multiple is stepped over
      {100, {200}},                   // step 2: 1, 61, 121, 181 are odd; 200 is even
  };
  Bytes encoded = VectorFile("run200.lzh");
  ASSERT_FALSE(encoded.empty());
  for (const auto& c : cases) {
    drawn.clear();
    finished = 0;
    LzhufProgress progress = {c.width, RecordDraw, RecordFinish};
    DecodeResult result = Decode(encoded, &progress);
    EXPECT_EQ(result.ok, 1);
    EXPECT_EQ(drawn, c.draws) << "width " << c.width;
    EXPECT_EQ(finished, 1);
  }
}

TEST(DecoderTree, GrownLeafMovesBehindTheLastNodeOfItsOldWeight) {
  InitTree(&Decoder.tree);
  CountSymbol(&Decoder.tree, 0);
  // Leaves 0..313 all weigh 1, so symbol 0's leaf trades places with node 313.
  EXPECT_EQ(Decoder.tree.Parent[NODE_COUNT + 0], 313);
  EXPECT_EQ(Decoder.tree.Parent[NODE_COUNT + 313], 0);
  EXPECT_EQ(Decoder.tree.Frequency[313], 2);
  EXPECT_EQ(Decoder.tree.Frequency[ROOT_NODE], SYMBOL_COUNT + 1);
}

TEST(DecoderTree, RebuildPlacesEqualWeightsAfterExistingNodes) {
  // Rebuilding a fresh tree halves every weight 1 to 1 again; with ties placed after
  // existing nodes the result is the initial tree, array for array.
  InitTree(&Decoder.tree);
  LzhufDecoder fresh = Decoder;
  RebuildTree(&Decoder.tree);
  EXPECT_EQ(0, memcmp(fresh.tree.Frequency, Decoder.tree.Frequency, sizeof fresh.tree.Frequency));
  EXPECT_EQ(0, memcmp(fresh.tree.Child, Decoder.tree.Child, sizeof fresh.tree.Child));
  EXPECT_EQ(0, memcmp(fresh.tree.Parent, Decoder.tree.Parent, sizeof fresh.tree.Parent));
}

TEST(DecoderTree, RebuildsOnlyWhenTheRootReaches0x8000) {
  InitTree(&Decoder.tree);
  for (int n = 0; n < MAX_FREQUENCY - SYMBOL_COUNT; n++) CountSymbol(&Decoder.tree, n % 7);
  EXPECT_EQ(Decoder.tree.Frequency[ROOT_NODE], MAX_FREQUENCY);
  CountSymbol(&Decoder.tree, 0);
  // Halved upwards, the seven busy leaves and 307 idle ones sum well below 0x8000.
  EXPECT_LT(Decoder.tree.Frequency[ROOT_NODE], MAX_FREQUENCY / 2 + SYMBOL_COUNT);
  for (int n = 0; n < ROOT_NODE; n++) {
    EXPECT_LE(Decoder.tree.Frequency[n], Decoder.tree.Frequency[n + 1]) << "node " << n;
  }
}

TEST(DecoderOffset, DecodesThePublishedExample) {
  // 0x5A opens the 5-bit code 01011 (h = 5); the bits 1, 1, 0 follow: 5 * 64 + 22.
  std::string in = TempPath("offset");
  WriteFile(in, {0x5A, 0xC0});
  FILE* input = fopen(in.c_str(), "rb");
  Decoder.BitBuffer = 0;
  Decoder.BitCount = 0;
  EXPECT_EQ(DecodeOffset(input), 342);
  fclose(input);
  remove(in.c_str());
  EXPECT_EQ(OffsetHighTable[0x5A], 5);
  EXPECT_EQ(OffsetCodeLengthTable[0x5A], 5);
}

}  // namespace
