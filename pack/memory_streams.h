// The installer's decoder works on C streams; the tool feeds it from memory.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vexa {

struct DecodedBody {
  bool ok = false;
  std::vector<uint8_t> output;  // what the decoder wrote, also when it failed
};

// Decodes one segment body (size field and bit stream) with the installer's decoder.
DecodedBody DecodeBody(std::span<const uint8_t> body);

}  // namespace vexa
