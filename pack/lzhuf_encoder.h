// LZHUF encoder of the release tool: produces segment bodies (size field, then the bit
// stream) that the installer's decoder reads back exactly.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vexa {

enum class Parse {
  Greedy,   // longest match at every position, as the classic encoder does
  Optimal,  // shortest path over estimated code lengths
};

struct EncodeOptions {
  Parse parse = Parse::Optimal;
  // Input positions at which no match may start (sorted); used to steer the bit stream
  // away from the segment marker.
  std::vector<uint32_t> literalOnlyAt;
  // Whether EncodedSegment::symbols is filled; a large file has many symbols.
  bool recordSymbols = true;
};

struct CodedSymbol {
  uint32_t inputPosition;  // first input byte the symbol stands for
  uint32_t bitOffset;      // first bit of its code within the body
  bool isMatch;
};

struct EncodedSegment {
  std::vector<uint8_t> body;         // 4-byte little-endian size, then the bit stream
  std::vector<CodedSymbol> symbols;  // empty unless EncodeOptions::recordSymbols
};

// Encodes data (at least one byte). The stream ends with the last code, filled to a
// byte with zero bits.
EncodedSegment EncodeSegment(std::span<const uint8_t> data, const EncodeOptions& options = {});

// The prefix code of the upper six bits of an offset: code and length for h = 0..63.
struct OffsetCode {
  uint8_t code;
  uint8_t length;
};
OffsetCode OffsetHighCode(unsigned high);

}  // namespace vexa
