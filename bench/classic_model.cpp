#include "bench/classic_model.h"

#include "engine/lzhuf_decoder.h"
#include "pack/lzhuf_encoder.h"

namespace vexa::bench {
namespace {

constexpr int N = RING_SIZE;
constexpr int F = MAX_MATCH;
constexpr int NIL = N;  // the empty link

// The ring with its first F - 1 bytes repeated past the end, so a comparison never wraps,
// and the search trees: root of first byte b at N + 1 + b.
class Window {
 public:
  Window() : text_(N + F - 1, 0), left_(N + 1, NIL), right_(N + 257, NIL), parent_(N + 1, NIL) {}

  uint8_t& at(int i) { return text_[(size_t)i]; }

  // Inserts r and returns the longest match on its search path (the nearest of equals);
  // a match of F bytes takes over the node it matched.
  void Insert(int r, int& length, int& offset) {
    const uint8_t* key = &text_[(size_t)r];
    int p = N + 1 + key[0], cmp = 1;
    left_[r] = right_[r] = NIL;
    length = 0;
    for (;;) {
      int& next = cmp >= 0 ? right_[p] : left_[p];
      if (next == NIL) {
        next = r;
        parent_[r] = p;
        return;
      }
      p = next;
      int i = 1;
      for (; i < F; i++) {
        if ((cmp = key[i] - text_[(size_t)p + (size_t)i]) != 0) break;
      }
      if (i > MATCH_THRESHOLD) {
        int here = ((r - p) & (N - 1)) - 1;
        if (i > length) {
          offset = here;
          length = i;
          if (length >= F) break;
        } else if (i == length && here < offset) {
          offset = here;
        }
      }
    }
    parent_[r] = parent_[p];
    left_[r] = left_[p];
    right_[r] = right_[p];
    parent_[left_[p]] = r;
    parent_[right_[p]] = r;
    (right_[parent_[p]] == p ? right_[parent_[p]] : left_[parent_[p]]) = r;
    parent_[p] = NIL;
  }

  void Delete(int p) {
    if (parent_[p] == NIL) return;
    int q;
    if (right_[p] == NIL) {
      q = left_[p];
    } else if (left_[p] == NIL) {
      q = right_[p];
    } else {
      q = left_[p];
      if (right_[q] != NIL) {
        do q = right_[q];
        while (right_[q] != NIL);
        right_[parent_[q]] = left_[q];
        parent_[left_[q]] = parent_[q];
        left_[q] = left_[p];
        parent_[left_[p]] = q;
      }
      right_[q] = right_[p];
      parent_[right_[p]] = q;
    }
    parent_[q] = parent_[p];
    (right_[parent_[p]] == p ? right_[parent_[p]] : left_[parent_[p]]) = q;
    parent_[p] = NIL;
  }

 private:
  std::vector<uint8_t> text_;
  std::vector<int> left_, right_, parent_;
};

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) { InitTree(&tree_); }
  void Symbol(int symbol) {
    uint32_t code = 0;
    int length = 0;
    for (int node = tree_.Parent[symbol + NODE_COUNT]; node != ROOT_NODE; length++) {
      code |= (uint32_t)(node & 1) << length;
      node = tree_.Parent[node];
    }
    Put(code, length);
    CountSymbol(&tree_, symbol);
  }
  void Offset(int offset) {
    OffsetCode high = OffsetHighCode((unsigned)offset >> 6);
    Put(high.code, high.length);
    Put((uint32_t)offset & 0x3F, 6);
  }
  void Finish() {
    if (bits_ > 0) out_.push_back((uint8_t)(pending_ << (8 - bits_)));
  }

 private:
  void Put(uint32_t code, int length) {
    for (int k = length - 1; k >= 0; k--) {
      pending_ = pending_ << 1 | ((code >> k) & 1);
      if (++bits_ == 8) {
        out_.push_back((uint8_t)pending_);
        pending_ = 0;
        bits_ = 0;
      }
    }
  }
  std::vector<uint8_t>& out_;
  LzhufTree tree_;
  uint32_t pending_ = 0;
  int bits_ = 0;
};

}  // namespace

std::vector<uint8_t> ClassicGreedyBody(std::span<const uint8_t> data) {
  std::vector<uint8_t> body;
  body.reserve(data.size() + 16);
  uint32_t size = (uint32_t)data.size();
  for (int k = 0; k < 4; k++) body.push_back((uint8_t)(size >> (8 * k)));
  if (data.empty()) return body;
  Writer writer(body);
  Window window;
  int r = N - F, s = 0, length = 0, offset = 0;
  for (int i = 0; i < r; i++) window.at(i) = ' ';
  size_t next = 0;
  int ahead = 0;  // bytes read but not yet coded
  for (; ahead < F && next < data.size(); ahead++) window.at(r + ahead) = data[next++];
  for (int i = 1; i <= F; i++) window.Insert(r - i, length, offset);
  window.Insert(r, length, offset);
  while (ahead > 0) {
    if (length > ahead) length = ahead;
    if (length <= MATCH_THRESHOLD) {
      length = 1;
      writer.Symbol(window.at(r));
    } else {
      writer.Symbol(255 - MATCH_THRESHOLD + length);
      writer.Offset(offset);
    }
    int coded = length, i = 0;
    for (; i < coded && next < data.size(); i++) {
      uint8_t c = data[next++];
      window.Delete(s);
      window.at(s) = c;
      if (s < F - 1) window.at(s + N) = c;
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      window.Insert(r, length, offset);
    }
    for (; i < coded; i++) {
      window.Delete(s);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      if (--ahead > 0) window.Insert(r, length, offset);
    }
  }
  writer.Finish();
  return body;
}

}  // namespace vexa::bench
