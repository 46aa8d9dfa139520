#include "pack/lzhuf_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "engine/lzhuf_decoder.h"

namespace vexa {
namespace {

// The decoder's ring starts with RING_START spaces before the first byte written, so the
// encoder sees the data behind that many spaces; a match may reach back RING_SIZE bytes.
constexpr size_t kPrefix = RING_START;
constexpr uint32_t kMaxDistance = RING_SIZE;
constexpr int kMinMatch = MATCH_THRESHOLD + 1;
// Only the last spaces of the prefix are useful sources: a match runs at most MAX_MATCH
// bytes, and nearer sources code shorter.
constexpr size_t kPrefixSources = 2 * (size_t)MAX_MATCH;
constexpr int kHashBits = 16;
constexpr int kChainLimit = 96;
// A match this long is taken as it stands; positions inside it are not searched.
constexpr int kNiceLength = MAX_MATCH;
constexpr size_t kBlockShift = 14;  // cost estimates are kept per 16 KiB of input

struct Candidate {
  uint8_t length;
  uint16_t distance;  // 1..4096
};

// Candidates of every position: increasing lengths, each from the nearest source that
// reaches it, so a shorter length is always best served by the first candidate that
// covers it.
struct CandidateTable {
  std::vector<uint32_t> first;  // index into all; first[i + 1] ends position i
  std::vector<Candidate> all;
};

uint32_t Hash3(const uint8_t* p) {
  uint32_t v = (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
  return (v * 2654435761u) >> (32 - kHashBits);
}

size_t CommonLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + (size_t)(__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) n++;
  return n;
}

CandidateTable FindCandidates(const std::vector<uint8_t>& buf, size_t n,
                              const std::vector<uint32_t>& literalOnlyAt) {
  CandidateTable table;
  table.first.reserve(n + 1);
  table.all.reserve(n);
  std::vector<int32_t> head(size_t(1) << kHashBits, -1);
  std::vector<int32_t> prev(buf.size(), -1);
  auto insert = [&](size_t pos) {
    if (pos + kMinMatch > kPrefix + n) return;
    uint32_t h = Hash3(&buf[pos]);
    prev[pos] = head[h];
    head[h] = (int32_t)pos;
  };
  for (size_t pos = kPrefix - kPrefixSources; pos < kPrefix; pos++) insert(pos);

  auto forced = literalOnlyAt.begin();
  size_t skipUntil = 0;
  for (size_t i = 0; i < n; i++) {
    table.first.push_back((uint32_t)table.all.size());
    size_t pos = kPrefix + i;
    while (forced != literalOnlyAt.end() && *forced < i) ++forced;
    bool literalOnly = forced != literalOnlyAt.end() && *forced == i;
    size_t limit = std::min<size_t>(MAX_MATCH, n - i);
    if (i >= skipUntil && !literalOnly && limit >= (size_t)kMinMatch) {
      size_t best = kMinMatch - 1;
      int steps = kChainLimit;
      for (int32_t s = head[Hash3(&buf[pos])]; s >= 0 && steps-- > 0; s = prev[s]) {
        size_t distance = pos - (size_t)s;
        if (distance > kMaxDistance) break;
        if (buf[s + best] != buf[pos + best]) continue;
        size_t length = CommonLength(&buf[s], &buf[pos], limit);
        if (length > best) {
          best = length;
          table.all.push_back({(uint8_t)length, (uint16_t)distance});
          if (length == limit) break;
        }
      }
      if (best >= (size_t)kNiceLength) skipUntil = i + best;
    }
    insert(pos);
  }
  table.first.push_back((uint32_t)table.all.size());
  return table;
}

struct Step {
  uint8_t length;     // 1: a literal
  uint16_t distance;  // matches only
};

// Bits of the upper six offset bits' code plus the six plain low bits.
int OffsetBits(uint32_t distance) { return OffsetHighCode((distance - 1) >> 6).length + 6; }

int SymbolOf(const Step& step, uint8_t literal) {
  return step.length == 1 ? literal : 256 - kMinMatch + step.length;
}

// Estimated code lengths of the 314 symbols for each block of input, from the symbols
// that an earlier parse used around that block. The adaptive code forgets slowly (its
// weights are halved every 32768 symbols), so the estimate also looks a few blocks back.
class CostModel {
 public:
  CostModel(std::span<const uint8_t> data, const std::vector<Step>& parse) {
    size_t blocks = (data.size() >> kBlockShift) + 1;
    std::vector<std::array<uint32_t, SYMBOL_COUNT>> counts(blocks);
    for (auto& c : counts) c.fill(0);
    size_t position = 0;
    for (const Step& step : parse) {
      counts[position >> kBlockShift][SymbolOf(step, data[position])]++;
      position += step.length;
    }
    costs_.resize(blocks);
    for (size_t b = 0; b < blocks; b++) {
      std::array<double, SYMBOL_COUNT> weight;
      weight.fill(0.5);
      for (size_t back = 0; back < 4 && back <= b; back++) {
        for (int s = 0; s < SYMBOL_COUNT; s++) weight[s] += counts[b - back][s];
      }
      double total = 0;
      for (double w : weight) total += w;
      for (int s = 0; s < SYMBOL_COUNT; s++) {
        costs_[b][s] = (float)std::log2(total / weight[s]);
      }
    }
  }

  const std::array<float, SYMBOL_COUNT>& At(size_t position) const {
    return costs_[position >> kBlockShift];
  }

 private:
  std::vector<std::array<float, SYMBOL_COUNT>> costs_;
};

std::vector<Step> GreedyParse(const CandidateTable& table, size_t n) {
  std::vector<Step> parse;
  for (size_t i = 0; i < n;) {
    uint32_t first = table.first[i], last = table.first[i + 1];
    if (first == last) {
      parse.push_back({1, 0});
      i++;
    } else {
      const Candidate& longest = table.all[last - 1];
      parse.push_back({longest.length, longest.distance});
      i += longest.length;
    }
  }
  return parse;
}

// Shortest path from the first to the last byte, every edge priced by the model.
std::vector<Step> OptimalParse(std::span<const uint8_t> data, const CandidateTable& table,
                               const CostModel& model) {
  size_t n = data.size();
  std::vector<float> price(n + 1, std::numeric_limits<float>::infinity());
  std::vector<Step> arrival(n + 1);
  price[0] = 0;
  for (size_t i = 0; i < n; i++) {
    const auto& cost = model.At(i);
    float here = price[i];
    float literal = here + cost[data[i]];
    if (literal < price[i + 1]) {
      price[i + 1] = literal;
      arrival[i + 1] = {1, 0};
    }
    size_t length = kMinMatch;
    for (uint32_t c = table.first[i]; c < table.first[i + 1]; c++) {
      const Candidate& candidate = table.all[c];
      float base = here + (float)OffsetBits(candidate.distance);
      for (; length <= candidate.length; length++) {
        float total = base + cost[256 - kMinMatch + length];
        if (total < price[i + length]) {
          price[i + length] = total;
          arrival[i + length] = {(uint8_t)length, candidate.distance};
        }
      }
    }
  }
  std::vector<Step> parse;
  for (size_t i = n; i > 0; i -= arrival[i].length) parse.push_back(arrival[i]);
  std::reverse(parse.begin(), parse.end());
  return parse;
}

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint64_t bits, int count) {
    for (int k = count - 1; k >= 0; k--) {
      pending_ = (pending_ << 1) | ((bits >> k) & 1);
      if (++pendingBits_ == 8) {
        out_.push_back((uint8_t)pending_);
        pending_ = 0;
        pendingBits_ = 0;
      }
    }
    bitsWritten_ += (uint32_t)count;
  }
  void Finish() {
    if (pendingBits_ > 0) out_.push_back((uint8_t)(pending_ << (8 - pendingBits_)));
    pending_ = 0;
    pendingBits_ = 0;
  }
  uint32_t BitsWritten() const { return bitsWritten_; }

 private:
  std::vector<uint8_t>& out_;
  uint32_t pending_ = 0;
  int pendingBits_ = 0;
  uint32_t bitsWritten_ = 0;
};

EncodedSegment Emit(std::span<const uint8_t> data, const std::vector<Step>& parse) {
  EncodedSegment segment;
  uint32_t size = (uint32_t)data.size();
  for (int k = 0; k < 4; k++) segment.body.push_back((uint8_t)(size >> (8 * k)));
  segment.symbols.reserve(parse.size());
  BitWriter writer(segment.body);
  LzhufTree tree;
  InitTree(&tree);
  size_t position = 0;
  for (const Step& step : parse) {
    int symbol = SymbolOf(step, data[position]);
    segment.symbols.push_back({(uint32_t)position, 32 + writer.BitsWritten(), step.length > 1});
    // The code is the path from the root to the symbol's leaf, in the tree as it stands
    // before the symbol is counted.
    uint64_t code = 0;
    int length = 0;
    for (int node = tree.Parent[symbol + NODE_COUNT]; node != ROOT_NODE; length++) {
      int parent = tree.Parent[node];
      code |= (uint64_t)(node - tree.Child[parent]) << length;
      node = parent;
    }
    writer.Put(code, length);
    CountSymbol(&tree, symbol);
    if (step.length > 1) {
      uint32_t offset = step.distance - 1u;
      OffsetCode high = OffsetHighCode(offset >> 6);
      writer.Put(high.code, high.length);
      writer.Put(offset & 0x3F, 6);
    }
    position += step.length;
  }
  writer.Finish();
  return segment;
}

}  // namespace

OffsetCode OffsetHighCode(unsigned high) {
  static const std::array<OffsetCode, 64> codes = [] {
    std::array<OffsetCode, 64> table{};
    for (int i = 255; i >= 0; i--) {
      int length = OffsetCodeLengthTable[i];
      table[OffsetHighTable[i]] = {(uint8_t)(i >> (8 - length)), (uint8_t)length};
    }
    return table;
  }();
  return codes[high & 63];
}

EncodedSegment EncodeSegment(std::span<const uint8_t> data, const EncodeOptions& options) {
  if (data.empty()) throw std::invalid_argument("an empty file cannot be encoded");
  if (data.size() > UINT32_MAX || data.size() > SIZE_MAX - kPrefix - 8) {
    throw std::invalid_argument("file too large for a segment");
  }
  std::vector<uint8_t> buf(kPrefix + data.size() + 8, 0);
  std::memset(buf.data(), ' ', kPrefix);
  std::copy(data.begin(), data.end(), buf.begin() + kPrefix);
  CandidateTable table = FindCandidates(buf, data.size(), options.literalOnlyAt);
  std::vector<Step> parse = GreedyParse(table, data.size());
  if (options.parse == Parse::Optimal) {
    // Two rounds: the greedy parse seeds the code length estimates, the first optimal
    // parse refines them.
    for (int round = 0; round < 2; round++) {
      parse = OptimalParse(data, table, CostModel(data, parse));
    }
  }
  return Emit(data, parse);
}

}  // namespace vexa
