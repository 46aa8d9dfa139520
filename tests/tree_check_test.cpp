// The Huffman tree check: silent on every tree the counting makes, rebuilds included, and
// naming each kind of damage.
#include "engine/tree_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "engine/lzhuf_decoder.h"

namespace {

// A tree after skewed counting, so that nodes have moved and weights differ.
LzhufTree CountedTree(int symbols) {
  LzhufTree tree;
  InitTree(&tree);
  std::mt19937 random(5);
  std::geometric_distribution<int> skewed(0.05);
  for (int n = 0; n < symbols; n++) CountSymbol(&tree, skewed(random) % SYMBOL_COUNT);
  return tree;
}

int LeafOf(const LzhufTree& tree, int symbol) { return tree.Parent[NODE_COUNT + symbol]; }

// The first internal node whose children are both internal.
int InnerNode(const LzhufTree& tree) {
  for (int n = 0; n < NODE_COUNT; n++) {
    int c = tree.Child[n];
    if (c + 1 < n && tree.Child[c] < NODE_COUNT && tree.Child[c + 1] < NODE_COUNT) return n;
  }
  return ROOT_NODE;
}

TEST(TreeCheck, SilentOnEveryTreeTheCountingMakes) {
  LzhufTree tree;
  InitTree(&tree);
  EXPECT_EQ(TreeFault(&tree), nullptr);
  // Past 32454 symbols the root reaches 0x8000 and the tree is rebuilt, twice here.
  std::mt19937 random(9);
  std::geometric_distribution<int> skewed(0.02);
  for (int n = 0; n < 70000; n++) {
    CountSymbol(&tree, n % 3 == 0 ? n % SYMBOL_COUNT : skewed(random) % SYMBOL_COUNT);
    const char* fault = TreeFault(&tree);
    ASSERT_EQ(fault, nullptr) << "after symbol " << n << ": " << fault;
  }
  RebuildTree(&tree);
  EXPECT_EQ(TreeFault(&tree), nullptr);
}

TEST(TreeCheck, NamesEachKindOfDamage) {
  const struct {
    const char* damage;
    std::function<void(LzhufTree&)> apply;
    const char* fault;
  } cases[] = {
      {"sentinel overwritten", [](LzhufTree& t) { t.Frequency[NODE_COUNT] = 0x7FFF; }, "sentinel"},
      {"root given a parent", [](LzhufTree& t) { t.Parent[ROOT_NODE] = 5; }, "root has a parent"},
      {"root over 0x8000", [](LzhufTree& t) { t.Frequency[ROOT_NODE] = 0x8001; }, "root too heavy"},
      {"a leaf weighs 0", [](LzhufTree& t) { t.Frequency[0] = 0; }, "weight 0"},
      {"two weights swapped",
       [](LzhufTree& t) { std::swap(t.Frequency[100], t.Frequency[ROOT_NODE - 1]); },
       "weights decrease"},
      {"a leaf beyond the symbols",
       [](LzhufTree& t) { t.Child[LeafOf(t, 7)] = (int16_t)(NODE_COUNT + SYMBOL_COUNT); },
       "leaf beyond"},
      {"a symbol's leaf link",
       [](LzhufTree& t) { t.Parent[NODE_COUNT + 7] = (int16_t)LeafOf(t, 8); },
       "leaf link disagrees"},
      {"two leaves hold one symbol",
       [](LzhufTree& t) { t.Child[LeafOf(t, 8)] = t.Child[LeafOf(t, 7)]; }, "leaf link disagrees"},
      {"a child above its parent", [](LzhufTree& t) { t.Child[InnerNode(t)] = ROOT_NODE - 2; },
       "child not below"},
      {"a negative child", [](LzhufTree& t) { t.Child[ROOT_NODE] = -2; }, "child not below"},
      {"a sibling pair split",
       [](LzhufTree& t) {
         int n = InnerNode(t);
         t.Child[n] = (int16_t)(t.Child[n] + 1);
       },
       "not aligned"},
      {"a parent link", [](LzhufTree& t) { t.Parent[t.Child[ROOT_NODE]] = 3; },
       "parent link disagrees"},
      {"an internal weight",
       [](LzhufTree& t) {
         int n = InnerNode(t);
         for (int k = n; k <= ROOT_NODE; k++) t.Frequency[k]++;
       },
       "children's sum"},
  };
  for (const auto& c : cases) {
    LzhufTree tree = CountedTree(3000);
    ASSERT_EQ(TreeFault(&tree), nullptr);
    c.apply(tree);
    const char* fault = TreeFault(&tree);
    ASSERT_NE(fault, nullptr) << c.damage;
    EXPECT_NE(std::string(fault).find(c.fault), std::string::npos) << c.damage << ": " << fault;
  }
}

TEST(TreeCheckDeathTest, AbortsOnABrokenTree) {
  LzhufTree tree = CountedTree(100);
  tree.Parent[NODE_COUNT + 1] = (int16_t)(LeafOf(tree, 1) == 0 ? 1 : 0);
  EXPECT_DEATH(TreeCheck(&tree), "LZHUF tree broken: symbol's leaf link disagrees");
}

}  // namespace
