#include "engine/tree_check.h"

#include <stdio.h>
#include <stdlib.h>

static char faultText[160];

static const char* Fault(const char* what, int node, long value) {
  snprintf(faultText, sizeof faultText, "%s (node %d, value %ld)", what, node, value);
  return faultText;
}

const char* TreeFault(const LzhufTree* tree) {
  const uint16_t* freq = tree->Frequency;
  const int16_t* child = tree->Child;
  const int16_t* parent = tree->Parent;
  if (freq[NODE_COUNT] != 0xFFFF) return Fault("sentinel changed", NODE_COUNT, freq[NODE_COUNT]);
  if (parent[ROOT_NODE] != 0) return Fault("root has a parent", ROOT_NODE, parent[ROOT_NODE]);
  if (freq[ROOT_NODE] > MAX_FREQUENCY) return Fault("root too heavy", ROOT_NODE, freq[ROOT_NODE]);

  // Parent links that agree with the child links make every claim unique: two internal
  // nodes cannot both own a node, nor two leaves a symbol. With 314 leaves, the 313
  // internal nodes then own exactly the nodes 0..625 and the leaves hold every symbol.
  int leaves = 0;
  uint32_t leafSum = 0;
  for (int n = 0; n < NODE_COUNT; n++) {
    if (freq[n] == 0) return Fault("weight 0", n, 0);
    if (freq[n] > freq[n + 1]) return Fault("weights decrease", n, freq[n]);
    int c = child[n];
    if (c >= NODE_COUNT) {
      if (c - NODE_COUNT >= SYMBOL_COUNT) return Fault("leaf beyond the symbols", n, c);
      if (parent[c] != n) return Fault("symbol's leaf link disagrees", n, parent[c]);
      leaves++;
      leafSum += freq[n];
      continue;
    }
    if (c & 1) return Fault("sibling pair not aligned", n, c);
    // Children sit below their parent, so every walk from the root ends at a leaf.
    if (c < 0 || c + 1 >= n) return Fault("child not below its parent", n, c);
    if (parent[c] != n || parent[c + 1] != n) return Fault("parent link disagrees", n, c);
    if (freq[n] != freq[c] + freq[c + 1])
      return Fault("weight is not its children's sum", n, freq[n]);
  }
  if (leaves != SYMBOL_COUNT) return Fault("wrong number of leaves", ROOT_NODE, leaves);
  if (freq[ROOT_NODE] != leafSum) {
    return Fault("root is not the sum of the leaves", ROOT_NODE, (long)leafSum);
  }
  return NULL;
}

void TreeCheck(const LzhufTree* tree) {
  const char* fault = TreeFault(tree);
  if (fault == NULL) return;
  fprintf(stderr, "LZHUF tree broken: %s\n", fault);
  abort();
}
