// The archive writer and the verifier's scan: checksum, marker rules, forced marker cases.
#include "pack/archive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>

#include "engine/lzhuf_decoder.h"
#include "pack/memory_streams.h"
#include "tests/test_files.h"

namespace {

using testfiles::Bytes;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const Bytes kMarker = {'A', 'R', 'N', 'I'};

std::vector<Bytes> SmallPayload() {
  std::vector<Bytes> files;
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    std::string text = std::string("file ") + TargetFileTable[row] + "\r\n";
    Bytes bytes;
    for (int k = 0; k <= row * 7; k++) bytes.insert(bytes.end(), text.begin(), text.end());
    if (row < 2) bytes = Cat({bytes, testfiles::Random(3000 + row, row)});
    files.push_back(bytes);
  }
  return files;
}

TEST(ArchiveSum, WeighsOneTwoThreeMinusFourAndWraps) {
  const struct {
    Bytes counted;
    uint32_t sum;
  } cases[] = {
      {{}, 0},
      {{0x01, 0x02, 0x03, 0x04}, 0xFFFFFFFE},        // 1 + 4 + 9 - 16
      {{0x01, 0x02, 0x03, 0x04, 0x05}, 0x00000003},  // the cycle starts again at 1
      {{0xFF, 0xFF, 0xFF, 0xFF}, 0x000001FE},        // 255 x (1 + 2 + 3 - 4)
      {{0x00, 0x00, 0x00, 0xFF}, 0xFFFFFC04},
  };
  for (const auto& c : cases) EXPECT_EQ(vexa::ArchiveSum(c.counted), c.sum);
}

TEST(ArchiveWriter, LaysOutMarkersAndBodiesInRowOrder) {
  std::vector<Bytes> files = SmallPayload();
  vexa::Archive archive = vexa::BuildArchive(files);
  Bytes expected = kMarker;
  for (const auto& segment : archive.segments) expected = Cat({expected, segment.body, kMarker});
  EXPECT_EQ(archive.bytes, expected);
  EXPECT_EQ(archive.sum, vexa::ArchiveSum(Bytes(archive.bytes.begin() + 4, archive.bytes.end())));

  vexa::ScanReport scan = vexa::ScanArchive(archive.bytes, true);
  EXPECT_TRUE(scan.problems.empty()) << vexa::Describe(scan.problems.front());
  ASSERT_EQ(scan.segments.size(), files.size());
  for (size_t row = 0; row < files.size(); row++)
    EXPECT_TRUE(scan.segments[row].output == files[row]);
  EXPECT_EQ(scan.sum, archive.sum);
}

TEST(ArchiveWriter, RefusesEmptyFilesAndWrongCounts) {
  std::vector<Bytes> files = SmallPayload();
  files[4].clear();
  EXPECT_THROW(vexa::BuildArchive(files), std::invalid_argument);
  files.pop_back();
  EXPECT_THROW(vexa::BuildArchive(files), std::invalid_argument);
}

// What the scan reads in a carrier: anything before, the archive, anything after.
TEST(ArchiveScan, ReadsCarriersAsTheInstallerDoes) {
  Bytes archive = vexa::BuildArchive(SmallPayload()).bytes;
  uint32_t sum = vexa::ScanArchive(archive).sum;
  Bytes closingOnly = Cat({Bytes(archive.begin(), archive.end() - 4)});
  const struct {
    const char* name;
    Bytes file;
    size_t segments;
    bool sumKept;
    std::optional<vexa::Fault> problem;
  } cases[] = {
      {"bare archive", archive, 11, true, std::nullopt},
      {"code before, data after",
       Cat({testfiles::Text("MZ code ARN data A"), Bytes{'x'}, archive, kMarker,
            testfiles::Text("\r\nmore ARNI")}),
       11, true, std::nullopt},
      {"before ends in A: opening marker missed", Cat({testfiles::Text("MZ..A"), archive}), 11,
       false, vexa::Fault::MarkerBefore},
      {"marker bytes hidden before", Cat({testfiles::Text("AARNI"), archive}), 11, true,
       vexa::Fault::MarkerBefore},
      {"no closing marker", closingOnly, 11, false, vexa::Fault::NoClosingMarker},
      {"no marker at all", testfiles::Text("nothing here"), 0, false, vexa::Fault::NoMarker},
  };
  for (const auto& c : cases) {
    vexa::ScanReport scan = vexa::ScanArchive(c.file);
    EXPECT_EQ(scan.segments.size(), c.segments) << c.name;
    if (c.sumKept) {
      EXPECT_EQ(scan.sum, sum) << c.name;
    }
    if (!c.problem) {
      EXPECT_TRUE(scan.problems.empty()) << c.name << ": " << vexa::Describe(scan.problems.front());
    } else {
      bool found = false;
      for (const auto& p : scan.problems) found |= p.fault == *c.problem;
      EXPECT_TRUE(found) << c.name;
    }
  }
}

TEST(ArchiveScan, MatcherMissesAMarkerThatStartsInsideAPartialMatch) {
  auto body = testfiles::Text("xyz");
  // A A R N I: the second A breaks the match the first began, so no marker.
  EXPECT_FALSE(vexa::ScanArchive(Cat({testfiles::Text("AARNI"), body})).markerFound);
  // A A A R N I holds one in its last four bytes.
  vexa::ScanReport three = vexa::ScanArchive(Cat({testfiles::Text("AAARNI"), body}));
  EXPECT_TRUE(three.markerFound);
  EXPECT_EQ(three.firstMarker, 2u);
  // A R X inside a body is copied unchanged: the held-back A R come before the X.
  vexa::ScanReport held = vexa::ScanArchive(Cat({kMarker, testfiles::Text("abARXcd"), kMarker}));
  ASSERT_FALSE(held.segments.empty());
  EXPECT_EQ(held.segments[0].bodyLength, 7u);
}

TEST(ArchiveScan, StopsAfterTheTwelfthMarkerAndCountsNothingBeyond) {
  vexa::Archive archive = vexa::BuildArchive(SmallPayload());
  Bytes extra =
      Cat({archive.bytes, Bytes{0x05, 0x00, 0x00, 0x00}, testfiles::Text("more"), kMarker});
  vexa::ScanReport scan = vexa::ScanArchive(extra);
  EXPECT_EQ(scan.segments.size(), 11u);
  EXPECT_EQ(scan.sum, archive.sum);
  EXPECT_TRUE(scan.problems.empty());
}

TEST(ArchiveScan, DamageIsReported) {
  vexa::Archive archive = vexa::BuildArchive(SmallPayload());
  size_t row5 = 4;
  for (int row = 0; row < 5; row++) row5 += archive.segments[row].body.size() + 4;
  Bytes flipped = archive.bytes;
  flipped[row5 + 10] ^= 0x01;
  vexa::ScanReport scan = vexa::ScanArchive(flipped);
  EXPECT_NE(scan.sum, archive.sum);

  Bytes zeroSize = archive.bytes;
  std::memset(&zeroSize[row5], 0, 4);
  vexa::ScanReport zero = vexa::ScanArchive(zeroSize);
  ASSERT_EQ(zero.segments.size(), 11u);
  EXPECT_FALSE(zero.segments[5].decoded);
  ASSERT_FALSE(zero.problems.empty());
  EXPECT_EQ(zero.problems.front().fault, vexa::Fault::DamagedSegment);
  EXPECT_EQ(zero.problems.front().row, 5);
}

// The classic parse codes a literal from the tree as it stands; the code is the path from
// the root to the symbol's leaf.
struct Code {
  uint32_t bits;
  int length;
};
Code CodeOf(const LzhufTree& tree, int symbol) {
  Code code{0, 0};
  for (int node = tree.Parent[symbol + NODE_COUNT]; node != ROOT_NODE; code.length++) {
    int parent = tree.Parent[node];
    code.bits |= (uint32_t)(node - tree.Child[parent]) << code.length;
    node = parent;
  }
  return code;
}

// Builds text followed by literals chosen so that the greedy encoding holds the marker
// bytes on a byte boundary: the tail's bytes never occur in the text, so they are coded
// as literals whose codes follow from the tree after the text.
Bytes InputWhoseGreedyEncodingHoldsTheMarker() {
  Bytes prefix;
  std::string sentence = "the quick brown fox jumps over the lazy dog; ";
  for (int k = 0; k < 30; k++) prefix.insert(prefix.end(), sentence.begin(), sentence.end());
  vexa::EncodeOptions greedy;
  greedy.parse = vexa::Parse::Greedy;
  vexa::EncodedSegment probe = vexa::EncodeSegment(Cat({prefix, Bytes{0x80}}), greedy);
  uint32_t startBit = probe.symbols.back().bitOffset;
  LzhufTree tree;
  InitTree(&tree);
  for (size_t k = 0; k + 1 < probe.symbols.size(); k++) {
    const auto& s = probe.symbols[k];
    uint32_t length = probe.symbols[k + 1].inputPosition - s.inputPosition;
    CountSymbol(&tree, s.isMatch ? (int)(253 + length) : prefix[s.inputPosition]);
  }

  const uint32_t markerBits = 0x41524E49;
  const uint32_t markerStart = (startBit / 8 + 3) * 8;  // room for free literals first
  Bytes tail;
  std::vector<bool> used(256, false);
  std::function<bool(const LzhufTree&, uint32_t)> search = [&](const LzhufTree& t, uint32_t bit) {
    if (bit >= markerStart + 32) return true;
    for (int b = 0x80; b <= 0xFF; b++) {
      if (used[b]) continue;
      Code code = CodeOf(t, b);
      bool fits = true;
      for (int k = 0; k < code.length && fits; k++) {
        uint32_t at = bit + (uint32_t)k;
        if (at < markerStart || at >= markerStart + 32) continue;
        uint32_t want = (markerBits >> (31 - (at - markerStart))) & 1;
        fits = ((code.bits >> (code.length - 1 - k)) & 1) == want;
      }
      if (!fits) continue;
      LzhufTree next = t;
      CountSymbol(&next, b);
      used[b] = true;
      tail.push_back((uint8_t)b);
      if (search(next, bit + (uint32_t)code.length)) return true;
      tail.pop_back();
      used[b] = false;
    }
    return false;
  };
  if (!search(tree, startBit)) return {};
  return Cat({prefix, tail});
}

TEST(ArchiveMarkerRule, WriterReparsesWhenTheStreamWouldHoldTheMarker) {
  Bytes data = InputWhoseGreedyEncodingHoldsTheMarker();
  ASSERT_FALSE(data.empty()) << "no literal tail spells the marker";
  vexa::EncodeOptions greedy;
  greedy.parse = vexa::Parse::Greedy;
  ASSERT_NE(vexa::FindMarkerBytes(vexa::EncodeSegment(data, greedy).body), std::string::npos)
      << "the forced case did not arise";

  vexa::PackedSegment packed = vexa::PackSegment(data, vexa::Parse::Greedy);
  EXPECT_GE(packed.reparses, 1);
  EXPECT_EQ(vexa::FindMarkerBytes(packed.body), std::string::npos);
  EXPECT_FALSE(vexa::EndsInPartialMarker(packed.body));
  EXPECT_TRUE(vexa::DecodeBody(packed.body).output == data);
}

TEST(ArchiveMarkerRule, WriterFillsAfterAStreamEndingInPartOfTheMarker) {
  // Small random inputs until one encodes to a body ending in "A", "AR" or "ARN".
  for (uint32_t seed = 0; seed < 20000; seed++) {
    Bytes data = testfiles::Random(20 + seed % 50, seed);
    vexa::EncodedSegment plain = vexa::EncodeSegment(data);
    if (!vexa::EndsInPartialMarker(plain.body) ||
        vexa::FindMarkerBytes(plain.body) != std::string::npos) {
      continue;
    }
    vexa::PackedSegment packed = vexa::PackSegment(data);
    EXPECT_TRUE(packed.fillByte);
    EXPECT_EQ(packed.body, Cat({plain.body, Bytes{0}}));
    EXPECT_TRUE(vexa::DecodeBody(packed.body).output == data);
    // In an archive, the following marker is still found and the file lands in its row.
    std::vector<Bytes> files = SmallPayload();
    files[3] = data;
    vexa::ScanReport scan = vexa::ScanArchive(vexa::BuildArchive(files).bytes, true);
    EXPECT_TRUE(scan.problems.empty());
    ASSERT_EQ(scan.segments.size(), 11u);
    EXPECT_TRUE(scan.segments[3].output == data);
    EXPECT_TRUE(scan.segments[4].output == files[4]);
    return;
  }
  FAIL() << "no input ended in a partial marker";
}

}  // namespace
