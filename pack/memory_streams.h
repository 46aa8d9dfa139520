// The installer's decoder works on C streams; the tool feeds it from memory.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vexa {

struct DecodedBody {
  bool ok = false;
  uint64_t size = 0;            // bytes the decoder wrote, also when it failed
  std::vector<uint8_t> output;  // those bytes, when kept
};

// Decodes one segment body (size field and bit stream) with the installer's decoder. When
// the output is not kept, it is only counted, so a body that claims gigabytes costs no
// memory.
DecodedBody DecodeBody(std::span<const uint8_t> body, bool keepOutput = true);

}  // namespace vexa
