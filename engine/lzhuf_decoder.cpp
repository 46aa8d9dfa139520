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

// The bit reader as it runs inside a segment: the decoder's BitBuffer left-aligned in 32
// bits and BitCount, both kept in registers; bits below the valid ones are zero.
struct BitReader {
  uint32_t buffer;
  unsigned count;
  FILE* input;
};

BitReader LoadBits(FILE* input) {
  return {(uint32_t)Decoder.BitBuffer << 16, Decoder.BitCount, input};
}

void StoreBits(const BitReader& bits) {
  Decoder.BitBuffer = (uint16_t)(bits.buffer >> 16);
  Decoder.BitCount = (uint16_t)bits.count;
}

// Runs one reader operation over the decoder's stored bit state.
template <int (*Next)(struct BitReader&)>
int WithStoredBits(FILE* input) {
  BitReader bits = LoadBits(input);
  int value = Next(bits);
  StoreBits(bits);
  return value;
}

// Refill: keep 9 to 16 valid bits. A read that finds no byte yields zero bits; an intact
// segment needs exactly one such read, so a second one means the input ran out.
inline void FillBits(BitReader& bits) {
  while (bits.count <= 8) {
    int b = ReadByte(bits.input);
    if (b < 0) {
      b = 0;
      if (ferror(bits.input) || ++Decoder.pastEndReads > 1) Decoder.inputFailed = 1;
    }
    bits.buffer |= (uint32_t)b << (24 - bits.count);
    bits.count += 8;
  }
}

inline int NextBit(BitReader& bits) {
  FillBits(bits);
  int bit = (int)(bits.buffer >> 31);
  bits.buffer <<= 1;
  bits.count -= 1;
  return bit;
}

inline int NextEightBits(BitReader& bits) {
  FillBits(bits);
  int byte = (int)(bits.buffer >> 24);
  bits.buffer <<= 8;
  bits.count -= 8;
  return byte;
}

inline int NextSymbol(BitReader& bits) {
  const int16_t* child = Decoder.tree.Child;
  int c = child[ROOT_NODE];
  while (c < NODE_COUNT) c = child[c + NextBit(bits)];
  c -= NODE_COUNT;
  CountSymbol(c);
  return c;
}

inline int NextOffset(BitReader& bits) {
  unsigned i = (unsigned)NextEightBits(bits);
  unsigned high = offsetTables.high[i];
  int extra = offsetTables.length[i] - 2;
  while (extra-- > 0) i = (uint16_t)(i * 2 + (unsigned)NextBit(bits));
  return (int)(high * 64 + (i & 0x3F));
}

}  // namespace

const uint8_t (&OffsetHighTable)[256] = offsetTables.high;
const uint8_t (&OffsetCodeLengthTable)[256] = offsetTables.length;

int ReadBit(FILE* input) { return WithStoredBits<NextBit>(input); }

int ReadEightBits(FILE* input) { return WithStoredBits<NextEightBits>(input); }

void TreeInit(LzhufTree* tree) {
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

void TreeRebuild(LzhufTree* tree) {
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

void TreeCount(LzhufTree* tree, int symbol) {
  uint16_t* freq = tree->Frequency;
  int16_t* child = tree->Child;
  int16_t* parent = tree->Parent;
  if (freq[ROOT_NODE] == MAX_FREQUENCY) TreeRebuild(tree);
  int c = parent[symbol + NODE_COUNT];
  do {
    unsigned k = ++freq[c];
    if (k > freq[c + 1]) {
      // Move the grown node to the last place among the nodes of its old weight; the
      // sentinel ends the scan.
      int l = c + 1;
      while (k > freq[l + 1]) l++;
      freq[c] = freq[l];
      freq[l] = (uint16_t)k;
      int i = child[c];
      parent[i] = (int16_t)l;
      if (i < NODE_COUNT) parent[i + 1] = (int16_t)l;
      int j = child[l];
      child[l] = (int16_t)i;
      parent[j] = (int16_t)c;
      if (j < NODE_COUNT) parent[j + 1] = (int16_t)c;
      child[c] = (int16_t)j;
      c = l;
    }
    c = parent[c];
  } while (c != 0);
#ifdef VEXA_CHECK_TREE
  TreeCheck(tree);
#endif
}

void InitTree(void) {
  Decoder.BitBuffer = 0;
  Decoder.BitCount = 0;
  TreeInit(&Decoder.tree);
}

void RebuildTree(void) { TreeRebuild(&Decoder.tree); }

void CountSymbol(int symbol) { TreeCount(&Decoder.tree, symbol); }

int DecodeSymbol(FILE* input) { return WithStoredBits<NextSymbol>(input); }

int DecodeOffset(FILE* input) { return WithStoredBits<NextOffset>(input); }

int LzhufDecode(FILE* input, FILE* output, const LzhufProgress* progress) {
  uint32_t size = 0;
  for (int k = 0; k < 4; k++) {
    int b = ReadByte(input);
    // A header cut short is as unusable as an unreadable one.
    if (b < 0) return 0;
    size |= (uint32_t)b << (8 * k);
  }
  if (ferror(input) || size == 0) return 0;

  InitTree();
  BitReader bits = LoadBits(input);
  Decoder.pastEndReads = 0;
  Decoder.inputFailed = 0;
  memset(Decoder.Ring, ' ', RING_START);
  unsigned r = RING_START;

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
    int c = NextSymbol(bits);
    if (c < 256) {
      if (Decoder.inputFailed || WriteByte(c, output) < 0) return 0;
      Decoder.Ring[r] = (uint8_t)c;
      r = (r + 1) & (RING_SIZE - 1);
      written++;
    } else {
      unsigned start = (r - (unsigned)NextOffset(bits) - 1) & (RING_SIZE - 1);
      if (Decoder.inputFailed) return 0;
      int length = c - 255 + MATCH_THRESHOLD;
      for (int k = 0; k < length; k++) {
        uint8_t b = Decoder.Ring[(start + (unsigned)k) & (RING_SIZE - 1)];
        if (WriteByte(b, output) < 0) return 0;
        Decoder.Ring[r] = b;
        r = (r + 1) & (RING_SIZE - 1);
      }
      written += (unsigned)length;
    }
    if (written >= nextDraw) {
      if (written % step == 0) progress->draw((uint32_t)written, size);
      nextDraw = (written / step + 1) * step;
    }
  }
  StoreBits(bits);
  if (progress != nullptr && progress->finish != nullptr) progress->finish();
  return 1;
}
