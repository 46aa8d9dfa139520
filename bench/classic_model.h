// A model of the classic greedy LZHUF encoder, the one the reference encodings in
// tests/data/lzhuf were made with: the benchmarks compare our encoder with it on files
// that have no reference encoding, such as the payload's.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vexa::bench {

// The segment body (size field, then the bit stream) that the classic encoder writes for
// data: one search tree per first byte over the last 4035 positions and the 60 spaces
// before the start, the longest match at every position (the nearest on the search path
// among equals), a literal below three bytes.
std::vector<uint8_t> ClassicGreedyBody(std::span<const uint8_t> data);

}  // namespace vexa::bench
