#include "lzhuf_decoder.h"

#include <string.h>

#include "byte_stream.h"
#include "tree_check.h"

LzhufDecoder Decoder;

namespace {

// Canonical prefix code of the upper six offset bits: its length for each h.
constexpr int OffsetCodeLength(int h) {
  return h == 0 ? 3 : h < 4 ? 4 : h < 12 ? 5 : h < 24 ? 6 : h < 48 ? 7 : 8;
}

struct OffsetTables {
  uint8_t high[256];
  uint8_t length[256];
};

// Codes are assigned in increasing h from all zero bits; a code of length n covers
// 2^(8-n) consecutive values of the next eight stream bits.
constexpr OffsetTables MakeOffsetTables() {
  OffsetTables tables{};
  int index = 0;
  for (int h = 0; h < 64; h++) {
    for (int k = 0; k < (1 << (8 - OffsetCodeLength(h))); k++) {
      tables.high[index] = (uint8_t)h;
      tables.length[index] = (uint8_t)OffsetCodeLength(h);
      index++;
    }
  }
  return tables;
}

constexpr OffsetTables offsetTables = MakeOffsetTables();
static_assert(offsetTables.high[0x1F] == 0 && offsetTables.length[0x1F] == 3, "h=0");
static_assert(offsetTables.high[0x20] == 1 && offsetTables.high[0x4F] == 3, "4-bit codes");
static_assert(offsetTables.high[0x50] == 4 && offsetTables.high[0x8F] == 11, "5-bit codes");
static_assert(offsetTables.high[0x90] == 12 && offsetTables.high[0xBF] == 23, "6-bit codes");
static_assert(offsetTables.high[0xC0] == 24 && offsetTables.high[0xEF] == 47, "7-bit codes");
static_assert(offsetTables.high[0xF0] == 48 && offsetTables.high[0xFF] == 63, "8-bit codes");

// The bit reader inside a segment, kept in registers. Before each code it refills to at
// least 25 bits: more than the deepest leaf needs (a tree with the sibling property whose
// root weighs at most 0x8000 is at most 21 levels deep) and more than an offset (at most 14
// bits), so a code's bits are taken without further checks. Past the end of the input it
// supplies zero bits and counts them in padBits: the codes have run out of input exactly
// when fewer bits are left than padding.
struct BitReader {
  uint32_t buffer;  // left-aligned; the bits below the valid ones are zero
  int count;        // valid bits, padding included
  int padBits;
  uint64_t reads;  // bytes asked of the input, those past its end included
  FILE* input;
};

// A read error leaves no valid bits at all.
constexpr int kReadFailed = 1 << 30;

inline void Refill(BitReader& bits) {
  while (bits.count <= 24) {
    int b = ReadByte(bits.input);
    if (b < 0) {
      b = 0;
      bits.padBits = ferror(bits.input) ? kReadFailed : bits.padBits + 8;
    }
    bits.reads++;
    bits.buffer |= (uint32_t)b << (24 - bits.count);
    bits.count += 8;
  }
}

inline bool RanOut(const BitReader& bits) { return bits.count < bits.padBits; }

inline int ReadBit(BitReader& bits) {
  int bit = (int)(bits.buffer >> 31);
  bits.buffer <<= 1;
  bits.count -= 1;
  return bit;
}

inline int ReadEightBits(BitReader& bits) {
  int byte = (int)(bits.buffer >> 24);
  bits.buffer <<= 8;
  bits.count -= 8;
  return byte;
}

inline int DecodeSymbol(BitReader& bits) {
  const int16_t* child = Decoder.tree.Child;
  int c = child[ROOT_NODE];  // the root is never a leaf
  do c = child[c + ReadBit(bits)];
  while (c < NODE_COUNT);
  c -= NODE_COUNT;
  CountSymbol(&Decoder.tree, c);
  return c;
}

inline int DecodeOffset(BitReader& bits) {
  unsigned i = (unsigned)ReadEightBits(bits);
  unsigned high = offsetTables.high[i];
  // The code's remaining 1 to 6 bits at once: the offset's low six bits end with them.
  int extra = offsetTables.length[i] - 2;
  i = i << extra | bits.buffer >> (32 - extra);
  bits.buffer <<= extra;
  bits.count -= extra;
  return (int)(high * 64 + (i & 0x3F));
}

// Writes the ring's bytes [from, to) to the output.
inline bool WriteRing(unsigned from, unsigned to, FILE* output) {
  return from == to || fwrite(Decoder.Ring + from, 1, to - from, output) == to - from;
}

}  // namespace

const uint8_t (&OffsetHighTable)[256] = offsetTables.high;
const uint8_t (&OffsetCodeLengthTable)[256] = offsetTables.length;

void InitTree(LzhufTree* tree) {
  for (int s = 0; s < SYMBOL_COUNT; s++) {
    tree->Frequency[s] = 1;
    tree->Child[s] = (int16_t)(s + NODE_COUNT);
    tree->Parent[s + NODE_COUNT] = (int16_t)s;
  }
  for (int i = 0, n = SYMBOL_COUNT; n <= ROOT_NODE; i += 2, n++) {
    tree->Frequency[n] = (uint16_t)(tree->Frequency[i] + tree->Frequency[i + 1]);
    tree->Child[n] = (int16_t)i;
    tree->Parent[i] = tree->Parent[i + 1] = (int16_t)n;
  }
  tree->Frequency[NODE_COUNT] = 0xFFFF;
  tree->Parent[ROOT_NODE] = 0;
}

void RebuildTree(LzhufTree* tree) {
  uint16_t* freq = tree->Frequency;
  int16_t* child = tree->Child;
  // Leaves first, in the order they stood, with their weights halved upwards.
  for (int i = 0, j = 0; i < NODE_COUNT; i++) {
    if (child[i] >= NODE_COUNT) {
      freq[j] = (uint16_t)((freq[i] + 1) / 2);
      child[j] = child[i];
      j++;
    }
  }
  // Each new internal node goes after every node whose weight is equal or lower.
  for (int i = 0, n = SYMBOL_COUNT; n < NODE_COUNT; i += 2, n++) {
    uint16_t f = (uint16_t)(freq[i] + freq[i + 1]);
    int k = n - 1;
    while (f < freq[k]) k--;
    k++;
    memmove(&freq[k + 1], &freq[k], (size_t)(n - k) * sizeof freq[0]);
    memmove(&child[k + 1], &child[k], (size_t)(n - k) * sizeof child[0]);
    freq[k] = f;
    child[k] = (int16_t)i;
  }
  for (int i = 0; i < NODE_COUNT; i++) {
    int k = child[i];
    tree->Parent[k] = (int16_t)i;
    if (k < NODE_COUNT) tree->Parent[k + 1] = (int16_t)i;
  }
}

namespace {

// Node c has grown to weight k past the next node: it moves to the last place among the
// nodes of its old weight (the sentinel ends the scan), its subtree with it. Returns that
// place. Kept out of line so that the walk in CountSymbol stays short.
__attribute__((noinline)) intptr_t MoveGrownNode(LzhufTree* tree, intptr_t c, unsigned k) {
  uint16_t* freq = tree->Frequency;
  int16_t* child = tree->Child;
  int16_t* parent = tree->Parent;
  intptr_t l = c + 1;
  while (k > freq[l + 1]) l++;
  freq[c] = freq[l];
  freq[l] = (uint16_t)k;
  intptr_t i = child[c];
  parent[i] = (int16_t)l;
  if (i < NODE_COUNT) parent[i + 1] = (int16_t)l;
  intptr_t j = child[l];
  child[l] = (int16_t)i;
  parent[j] = (int16_t)c;
  if (j < NODE_COUNT) parent[j + 1] = (int16_t)c;
  child[c] = (int16_t)j;
  return l;
}

}  // namespace

void CountSymbol(LzhufTree* tree, int symbol) {
  uint16_t* freq = tree->Frequency;
  const int16_t* parent = tree->Parent;
  if (freq[ROOT_NODE] == MAX_FREQUENCY) RebuildTree(tree);
  // Pointer-sized indices: this walk is the decoder's hottest loop.
  intptr_t c = parent[symbol + NODE_COUNT];
  do {
    unsigned k = freq[c] + 1u;
    if (__builtin_expect(k > freq[c + 1], 0)) {
      c = MoveGrownNode(tree, c, k);
    } else {
      freq[c] = (uint16_t)k;
    }
    c = parent[c];
  } while (c != 0);
#ifdef VEXA_CHECK_TREE
  TreeCheck(tree);
#endif
}

int DecodeOffset(FILE* input) {
  BitReader bits = {Decoder.BitBuffer, (int)Decoder.BitCount, 0, 0, input};
  Refill(bits);
  int offset = DecodeOffset(bits);
  Decoder.BitBuffer = bits.buffer;
  Decoder.BitCount = (uint32_t)bits.count;
  return offset;
}

int LzhufDecode(FILE* input, FILE* output, const LzhufProgress* progress) {
  uint32_t size = 0;
  for (int k = 0; k < 4; k++) {
    int b = ReadByte(input);
    // A header cut short is as unusable as an unreadable one.
    if (b < 0) return 0;
    size |= (uint32_t)b << (8 * k);
  }
  if (ferror(input) || size == 0) return 0;

  InitTree(&Decoder.tree);
  BitReader bits = {0, 0, 0, 0, input};
  Decoder.pastEndReads = 0;
  Decoder.inputFailed = 0;
  uint8_t* ring = Decoder.Ring;
  memset(ring, ' ', RING_START);
  // The ring doubles as the output buffer: the bytes from `flushed` to r are not yet
  // written, and they go out whenever r wraps, before the ring overwrites them.
  unsigned r = RING_START, flushed = RING_START;

  // Redraw when written is a multiple of step; the next multiple is tracked instead of
  // dividing after every symbol. Without a bar nothing is drawn.
  uint32_t step = 1;
  uint64_t nextDraw = UINT64_MAX;
  if (progress != nullptr && progress->draw != nullptr) {
    if (progress->barWidth > 0) step = size / progress->barWidth;
    if (step == 0) step = 1;
    nextDraw = step;
  }

  // 64-bit, so that a match written whole past a size near 2^32 ends the loop.
  uint64_t written = 0;
  while (written < size) {
    Refill(bits);
    int c = DecodeSymbol(bits);
    if (RanOut(bits)) break;
    if (c < 256) {
      ring[r] = (uint8_t)c;
      if (++r == RING_SIZE) {
        if (!WriteRing(flushed, RING_SIZE, output)) return 0;
        r = flushed = 0;
      }
      written++;
    } else {
      Refill(bits);
      unsigned start = (r - (unsigned)DecodeOffset(bits) - 1) & (RING_SIZE - 1);
      if (RanOut(bits)) break;
      unsigned length = (unsigned)c - 255 + MATCH_THRESHOLD;
      if (start + length <= RING_SIZE && r + length < RING_SIZE) {
        // Neither end wraps. Forward, byte by byte: a near source repeats what the match
        // itself has just written.
        uint8_t* to = ring + r;
        const uint8_t* from = ring + start;
        for (unsigned k = 0; k < length; k++) to[k] = from[k];
        r += length;
      } else {
        for (unsigned k = 0; k < length; k++) {
          ring[r] = ring[(start + k) & (RING_SIZE - 1)];
          if (++r == RING_SIZE) {
            if (!WriteRing(flushed, RING_SIZE, output)) return 0;
            r = flushed = 0;
          }
        }
      }
      written += length;
    }
    if (written >= nextDraw) {
      if (written % step == 0) progress->draw((uint32_t)written, size);
      nextDraw = (written / step + 1) * step;
    }
  }
  Decoder.BitBuffer = bits.buffer;
  Decoder.BitCount = (uint32_t)bits.count;
  if (RanOut(bits)) {
    Decoder.inputFailed = 1;
    Decoder.pastEndReads = 2;
    return 0;
  }
  if (!WriteRing(flushed, r, output)) return 0;

  // A reader refilling a byte at a time has read the byte holding the last code's last bit
  // and one more; those reads past the end are what an intact segment shows.
  uint64_t taken = 8 * bits.reads - (uint64_t)bits.count;
  uint64_t byteReads = (taken - 1) / 8 + 2;
  for (; bits.reads < byteReads; bits.reads++) {
    if (ReadByte(input) < 0) bits.padBits += 8;
  }
  uint64_t realReads = bits.reads - (uint64_t)bits.padBits / 8;
  Decoder.pastEndReads = byteReads > realReads ? (uint32_t)(byteReads - realReads) : 0;
  if (progress != nullptr && progress->finish != nullptr) progress->finish();
  return 1;
}
