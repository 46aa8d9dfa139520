#include "pack/lzhuf_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "engine/lzhuf_decoder.h"

namespace vexa {
namespace {

// The decoder's ring starts with RING_START spaces before the first byte written, so the
// encoder sees the data behind spaces; a match may reach back RING_SIZE bytes.
constexpr uint32_t kMaxDistance = RING_SIZE;
constexpr int kMinMatch = MATCH_THRESHOLD + 1;
// Only the last spaces of the ring's prefix are useful sources: a match runs at most
// MAX_MATCH bytes, and nearer sources code shorter.
constexpr size_t kPrefixSources = 2 * (size_t)MAX_MATCH;
constexpr int kHashBits = 16;
// Slots of the match finder's tree: positions up to kMaxDistance back must not share one.
constexpr size_t kTreeSlots = 2 * (size_t)RING_SIZE;
// Tree nodes visited per position at most; deep enough that the longest match is found.
constexpr int kTreeDepth = 64;
// The optimal parse works through the input this many bytes at a time, so its tables stay
// small; no match crosses from one block into the next.
constexpr size_t kBlockSize = size_t(1) << 15;

struct Candidate {
  uint8_t length;
  uint16_t distance;  // 1..4096
};

uint32_t Hash3(const uint8_t* p) {
  uint32_t v = (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
  return (v * 2654435761u) >> (32 - kHashBits);
}

size_t CommonLength(const uint8_t* a, const uint8_t* b, size_t from, size_t limit) {
  size_t n = from;
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

// Binary trees of the positions in the window, one per hash of their first three bytes,
// ordered by the bytes that follow and each node newer than those below it. Searching
// for a position also inserts it as the new root; the search path passes the nearest
// source of every match length, so the candidates come out as increasing lengths, each
// from the nearest source that reaches it.
class MatchFinder {
 public:
  explicit MatchFinder(std::span<const uint8_t> buf)
      : buf_(buf.data()), head_(size_t(1) << kHashBits, kNone), son_(2 * kTreeSlots, kNone) {}

  // Inserts pos; writes its candidates from out on and returns their end, or writes
  // nothing when out is null. limit: the longest match that fits before the end of the
  // input. At most MAX_MATCH - 2 candidates.
  Candidate* Find(size_t pos, size_t limit, Candidate* out) {
    const uint8_t* cur = buf_ + pos;
    // Too near the end for a hash; nothing later will search from here either.
    if (limit < (size_t)kMinMatch) return out;
    uint32_t h = Hash3(cur);
    size_t match = head_[h];
    head_[h] = pos;
    size_t* left = &son_[2 * (pos % kTreeSlots)];  // gets the nodes ordered below cur
    size_t* right = left + 1;                      // and those above
    size_t leftLength = 0, rightLength = 0, best = kMinMatch - 1;
    for (int depth = kTreeDepth;; depth--) {
      // Empty links hold kNone, which is always out of reach.
      if (pos - match > kMaxDistance || depth == 0) {
        *left = *right = kNone;
        return out;
      }
      size_t* pair = &son_[2 * (match % kTreeSlots)];
      const uint8_t* source = buf_ + match;
      size_t length = CommonLength(source, cur, std::min(leftLength, rightLength), limit);
      if (length > best) {
        best = length;
        if (out != nullptr) *out++ = {(uint8_t)length, (uint16_t)(pos - match)};
      }
      if (length == limit) {
        // The same string: cur takes over the node's place and its subtrees.
        *left = pair[0];
        *right = pair[1];
        return out;
      }
      if (source[length] < cur[length]) {
        *left = match;
        left = pair + 1;
        match = *left;
        leftLength = length;
      } else {
        *right = match;
        right = pair;
        match = *right;
        rightLength = length;
      }
    }
  }

 private:
  // Positions are counted from the buffer's start, so no real position lies within
  // kMaxDistance before this one (it wraps around to the top of size_t).
  static constexpr size_t kNone = ~size_t(0) - kMaxDistance;
  const uint8_t* buf_;
  std::vector<size_t> head_;
  std::vector<size_t> son_;
};

struct Step {
  uint8_t length;     // 1: a literal
  uint16_t distance;  // matches only
};

int SymbolOf(const Step& step, uint8_t literal) {
  return step.length == 1 ? literal : 256 - kMinMatch + step.length;
}

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint32_t bits, int count) {
    pending_ = pending_ << count | (bits & ((uint64_t(1) << count) - 1));
    pendingBits_ += count;
    while (pendingBits_ >= 8) {
      pendingBits_ -= 8;
      out_.push_back((uint8_t)(pending_ >> pendingBits_));
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
  uint64_t pending_ = 0;
  int pendingBits_ = 0;
  uint32_t bitsWritten_ = 0;
};

// Writes the symbols one at a time with the adaptive code exactly as the decoder reads it.
class Emitter {
 public:
  Emitter(std::span<const uint8_t> data, EncodedSegment& segment, bool record)
      : data_(data), segment_(segment), writer_(segment.body), record_(record) {
    uint32_t size = (uint32_t)data.size();
    for (int k = 0; k < 4; k++) segment.body.push_back((uint8_t)(size >> (8 * k)));
    InitTree(&tree_);
  }

  void Put(const Step& step) {
    int symbol = SymbolOf(step, data_[position_]);
    if (record_) {
      segment_.symbols.push_back(
          {(uint32_t)position_, 32 + writer_.BitsWritten(), step.length > 1});
    }
    // The code is the path from the root to the symbol's leaf, in the tree as it stands
    // before the symbol is counted.
    uint32_t code = 0;
    int length = 0;
    // Siblings start at even nodes, so a node's last bit is the branch taken to it.
    for (int node = tree_.Parent[symbol + NODE_COUNT]; node != ROOT_NODE; length++) {
      code |= (uint32_t)(node & 1) << length;
      node = tree_.Parent[node];
    }
    writer_.Put(code, length);
    CountSymbol(&tree_, symbol);
    if (step.length > 1) {
      uint32_t offset = step.distance - 1u;
      OffsetCode high = OffsetHighCode(offset >> 6);
      writer_.Put((uint32_t)high.code << 6 | (offset & 0x3F), high.length + 6);
    }
    position_ += step.length;
  }

  void Finish() { writer_.Finish(); }
  const LzhufTree& tree() const { return tree_; }

 private:
  std::span<const uint8_t> data_;
  EncodedSegment& segment_;
  BitWriter writer_;
  bool record_;
  LzhufTree tree_;
  size_t position_ = 0;
};

// Code lengths of the 314 symbols in a tree as it stands: log2 of the root's weight over
// the leaf's, a smooth stand-in for the leaf's depth.
using Costs = std::array<float, SYMBOL_COUNT>;

void CostsOf(const LzhufTree& tree, Costs& costs) {
  float root = std::log2((float)tree.Frequency[ROOT_NODE]);
  for (int s = 0; s < SYMBOL_COUNT; s++) {
    costs[s] = root - std::log2((float)tree.Frequency[tree.Parent[s + NODE_COUNT]]);
  }
}

// Bits of the offset: the upper six bits' code plus the six plain low bits.
struct OffsetBitsTable {
  float bits[64];
  OffsetBitsTable() {
    for (unsigned h = 0; h < 64; h++) bits[h] = (float)(OffsetHighCode(h).length + 6);
  }
  float operator()(uint32_t distance) const { return bits[(distance - 1) >> 6]; }
};

// One block of the optimal parse: the shortest path over the block's candidates, priced
// by the code lengths of the adaptive tree as the block begins. The first block begins
// with the flat initial tree, whose prices know nothing of the file, so there the path is
// found three times, each time priced by replaying the previous path through the tree:
// every 2 KiB of input the code lengths the tree has reached 4 KiB further on. Later
// blocks gain under 0.05 % from the same for three times the time.
class BlockParser {
 public:
  // Appends the block's steps to parse.
  void Parse(std::span<const uint8_t> block, const std::vector<uint32_t>& first,
             const std::vector<Candidate>& all, const LzhufTree& tree, bool firstBlock,
             std::vector<Step>& parse) {
    costs_.resize((block.size() + kCostStep - 1) / kCostStep);
    for (Costs& c : costs_) CostsOf(tree, c);
    int passes = firstBlock ? 3 : 1;
    for (int pass = 0; pass < passes; pass++) {
      if (pass > 0) Replay(block, tree);
      ShortestPath(block, first, all);
    }
    parse.insert(parse.end(), path_.begin(), path_.end());
  }

 private:
  static constexpr size_t kCostStep = 2048;
  static constexpr size_t kLookAhead = 2;  // steps

  void Replay(std::span<const uint8_t> block, const LzhufTree& start) {
    replay_ = start;
    size_t position = 0, next = 0;
    for (const Step& step : path_) {
      for (; position >= next; next += kCostStep) {
        if (next / kCostStep >= kLookAhead) CostsOf(replay_, costs_[next / kCostStep - kLookAhead]);
      }
      CountSymbol(&replay_, SymbolOf(step, block[position]));
      position += step.length;
    }
    size_t from = next / kCostStep >= kLookAhead ? next / kCostStep - kLookAhead : 0;
    for (size_t k = from; k < costs_.size(); k++) CostsOf(replay_, costs_[k]);
  }

  void ShortestPath(std::span<const uint8_t> block, const std::vector<uint32_t>& first,
                    const std::vector<Candidate>& all) {
    size_t n = block.size();
    price_.assign(n + 1, std::numeric_limits<float>::infinity());
    arrival_.resize(n + 1);
    price_[0] = 0;
    for (size_t i = 0; i < n; i++) {
      const Costs& cost = costs_[i / kCostStep];
      float here = price_[i];
      float literal = here + cost[block[i]];
      if (literal < price_[i + 1]) {
        price_[i + 1] = literal;
        arrival_[i + 1] = {1, 0};
      }
      size_t length = kMinMatch;
      size_t room = n - i;
      for (uint32_t c = first[i]; c < first[i + 1]; c++) {
        const Candidate& candidate = all[c];
        float base = here + offsetBits_(candidate.distance);
        size_t longest = std::min<size_t>(candidate.length, room);
        for (; length <= longest; length++) {
          float total = base + cost[256 - kMinMatch + length];
          if (total < price_[i + length]) {
            price_[i + length] = total;
            arrival_[i + length] = {(uint8_t)length, candidate.distance};
          }
        }
      }
    }
    path_.clear();
    for (size_t i = n; i > 0; i -= arrival_[i].length) path_.push_back(arrival_[i]);
    std::reverse(path_.begin(), path_.end());
  }

  std::vector<Costs> costs_;
  LzhufTree replay_;
  std::vector<float> price_;
  std::vector<Step> arrival_;
  std::vector<Step> path_;
  OffsetBitsTable offsetBits_;
};

// The candidates of the positions [start, end): first[i - start] .. first[i - start + 1].
struct CandidateBlock {
  size_t start = 0, end = 0;
  std::vector<uint32_t> first;
  std::vector<Candidate> all;
};

// Runs the match finder over the input in order, one block at a time.
class CandidateSource {
 public:
  CandidateSource(std::span<const uint8_t> buf, size_t n,
                  const std::vector<uint32_t>& literalOnlyAt)
      : finder_(buf), n_(n), forced_(literalOnlyAt.begin()), forcedEnd_(literalOnlyAt.end()) {
    for (size_t pos = 0; pos < kPrefixSources; pos++) {
      finder_.Find(pos, std::min<size_t>(MAX_MATCH, buf.size() - pos), nullptr);
    }
  }

  void Fill(CandidateBlock& block, size_t start, size_t end) {
    block.start = start;
    block.end = end;
    block.first.resize(end - start + 1);
    size_t used = 0;
    for (size_t i = start; i < end; i++) {
      block.first[i - start] = (uint32_t)used;
      if (block.all.size() < used + MAX_MATCH) block.all.resize(2 * (used + MAX_MATCH));
      Candidate* from = block.all.data() + used;
      Candidate* to = finder_.Find(kPrefixSources + i, std::min<size_t>(MAX_MATCH, n_ - i), from);
      while (forced_ != forcedEnd_ && *forced_ < i) ++forced_;
      if (forced_ == forcedEnd_ || *forced_ != i) used += (size_t)(to - from);
    }
    block.first[end - start] = (uint32_t)used;
  }

 private:
  MatchFinder finder_;
  size_t n_;
  std::vector<uint32_t>::const_iterator forced_, forcedEnd_;
};

// Hands the blocks to consume in order. With more than one block the match finder runs on
// a second thread a few blocks ahead, so finding and parsing overlap.
template <typename Consume>
void ForEachBlock(CandidateSource& source, size_t n, Consume consume) {
  size_t blocks = (n + kBlockSize - 1) / kBlockSize;
  auto range = [&](size_t k, size_t& start, size_t& end) {
    start = k * kBlockSize;
    end = std::min(n, start + kBlockSize);
  };
  if (blocks == 1) {
    CandidateBlock block;
    source.Fill(block, 0, n);
    consume(block);
    return;
  }
  constexpr size_t kSlots = 3;
  CandidateBlock slots[kSlots];
  std::mutex mutex;
  std::condition_variable changed;
  size_t produced = 0, consumed = 0;
  bool abandoned = false;
  std::exception_ptr failure;
  std::thread finder([&] {
    try {
      for (size_t k = 0; k < blocks; k++) {
        {
          std::unique_lock lock(mutex);
          changed.wait(lock, [&] { return abandoned || produced - consumed < kSlots; });
          if (abandoned) return;
        }
        size_t start, end;
        range(k, start, end);
        source.Fill(slots[k % kSlots], start, end);
        std::lock_guard lock(mutex);
        produced++;
        changed.notify_all();
      }
    } catch (...) {
      std::lock_guard lock(mutex);
      failure = std::current_exception();
      changed.notify_all();
    }
  });
  auto finish = [&] {
    {
      std::lock_guard lock(mutex);
      abandoned = true;
      changed.notify_all();
    }
    finder.join();
  };
  try {
    for (size_t k = 0; k < blocks; k++) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return failure || produced > k; });
        if (failure && produced <= k) std::rethrow_exception(failure);
      }
      consume(slots[k % kSlots]);
      std::lock_guard lock(mutex);
      consumed++;
      changed.notify_all();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
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
  if (data.size() > UINT32_MAX || data.size() > (size_t)INT32_MAX - kPrefixSources - 8) {
    throw std::invalid_argument("file too large for a segment");
  }
  size_t n = data.size();
  // The last spaces of the ring's prefix, then the data.
  std::vector<uint8_t> buf(kPrefixSources + n, ' ');
  std::copy(data.begin(), data.end(), buf.begin() + kPrefixSources);
  CandidateSource source(buf, n, options.literalOnlyAt);

  EncodedSegment segment;
  segment.body.reserve(n / 2 + 16);
  Emitter emitter(data, segment, options.recordSymbols);
  if (options.parse == Parse::Greedy) {
    size_t next = 0;  // a match may run on into the next block
    ForEachBlock(source, n, [&](const CandidateBlock& block) {
      while (next < block.end) {
        size_t at = next - block.start;
        Step step = {1, 0};
        if (block.first[at] < block.first[at + 1]) {
          const Candidate& longest = block.all[block.first[at + 1] - 1];
          step = {longest.length, longest.distance};
        }
        emitter.Put(step);
        next += step.length;
      }
    });
  } else {
    BlockParser parser;
    std::vector<Step> parse;
    ForEachBlock(source, n, [&](const CandidateBlock& block) {
      parse.clear();
      parser.Parse(data.subspan(block.start, block.end - block.start), block.first, block.all,
                   emitter.tree(), block.start == 0, parse);
      for (const Step& step : parse) emitter.Put(step);
    });
  }
  emitter.Finish();
  return segment;
}

}  // namespace vexa
