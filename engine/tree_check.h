// Consistency of the adaptive Huffman tree, checked after every counted symbol in the
// sanitizer and fuzz builds (VEXA_CHECK_TREE), where a broken link would send the decoder
// outside its arrays long before the output shows it.
#pragma once

#include "engine/lzhuf_decoder.h"

// Null when the tree is consistent, otherwise what is wrong. The text lives in a static
// buffer that the next call overwrites.
const char* TreeFault(const LzhufTree* tree);

// Prints the fault and aborts when the tree is broken.
void TreeCheck(const LzhufTree* tree);
