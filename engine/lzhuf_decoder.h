// LZHUF segment decoder: LZSS over a 4096-byte ring with an adaptive Huffman code for
// literals and match lengths, and a fixed prefix code for the upper six offset bits.
#pragma once

#include <stdint.h>
#include <stdio.h>

enum {
  RING_SIZE = 4096,
  MAX_MATCH = 60,
  MATCH_THRESHOLD = 2,
  RING_START = RING_SIZE - MAX_MATCH,                // 4036, the first write position
  SYMBOL_COUNT = 256 - MATCH_THRESHOLD + MAX_MATCH,  // 314
  NODE_COUNT = 2 * SYMBOL_COUNT - 1,                 // 627
  ROOT_NODE = NODE_COUNT - 1,                        // 626
  MAX_FREQUENCY = 0x8000,
};

// The adaptive Huffman tree of literals and match lengths. Node weights never decrease
// with rising node index; siblings occupy adjacent nodes.
struct LzhufTree {
  uint16_t Frequency[NODE_COUNT + 1];         // the last entry is a 0xFFFF sentinel
  int16_t Child[NODE_COUNT];                  // >= NODE_COUNT: a leaf holding symbol (value - 627)
  int16_t Parent[NODE_COUNT + SYMBOL_COUNT];  // node's parent; 627 + s: the leaf of symbol s
};

// The one decoder state of the program; nothing is allocated per segment.
struct LzhufDecoder {
  uint8_t Ring[RING_SIZE];  // the history, and the output's buffer until a wrap writes it
  uint32_t BitBuffer;       // next unread bits, left-aligned
  uint32_t BitCount;        // valid bits in BitBuffer
  LzhufTree tree;
  // Reads past the end that a reader refilling a byte at a time (keeping 9 bits) makes; an
  // intact segment makes exactly one.
  uint32_t pastEndReads;
  int inputFailed;  // the codes ran past the stream's last bit, or a read failed
};

extern LzhufDecoder Decoder;

// The tree operations take the tree, so the release tool's encoder counts its own tree
// exactly as the decoder does.
void InitTree(LzhufTree* tree);
void RebuildTree(LzhufTree* tree);
void CountSymbol(LzhufTree* tree, int symbol);
// Indexed by the next eight stream bits at the start of an offset.
extern const uint8_t (&OffsetHighTable)[256];
extern const uint8_t (&OffsetCodeLengthTable)[256];

// Where the decoder reports its progress; it knows nothing of windows.
struct LzhufProgress {
  unsigned barWidth;  // pixels of the per-file bar; the redraw step is size / width
  void (*draw)(uint32_t written, uint32_t size);
  void (*finish)(void);  // the file is complete: the bar is erased
};

// Decodes one segment (size field, then the bit stream) from input into output.
// Returns 1 when the declared number of bytes has been written, 0 on a bad header, a
// failed write, or compressed input that runs out. Shows nothing and closes nothing.
int LzhufDecode(FILE* input, FILE* output, const LzhufProgress* progress);

// One offset from the input through the decoder's bit state (BitBuffer, BitCount).
int DecodeOffset(FILE* input);
