#include "pack/memory_streams.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "engine/lzhuf_decoder.h"

namespace vexa {

DecodedBody DecodeBody(std::span<const uint8_t> body) {
  DecodedBody result;
  // An empty body has no size field; fmemopen refuses an empty buffer anyway.
  if (body.empty()) return result;
  FILE* input = fmemopen(const_cast<uint8_t*>(body.data()), body.size(), "rb");
  char* buffer = nullptr;
  size_t length = 0;
  FILE* output = open_memstream(&buffer, &length);
  if (input == nullptr || output == nullptr) throw std::runtime_error("out of memory");
  result.ok = LzhufDecode(input, output, nullptr) == 1;
  fclose(output);
  fclose(input);
  result.output.assign(buffer, buffer + length);
  free(buffer);
  return result;
}

}  // namespace vexa
