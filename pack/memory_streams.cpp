#include "pack/memory_streams.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "engine/lzhuf_decoder.h"

namespace vexa {
namespace {

// A stream that counts what is written to it and keeps none of it.
FILE* OpenCounter(uint64_t* count) {
  cookie_io_functions_t functions = {};
  functions.write = [](void* cookie, const char*, size_t size) -> ssize_t {
    *static_cast<uint64_t*>(cookie) += size;
    return (ssize_t)size;
  };
  return fopencookie(count, "wb", functions);
}

}  // namespace

DecodedBody DecodeBody(std::span<const uint8_t> body, bool keepOutput) {
  DecodedBody result;
  // An empty body has no size field; fmemopen refuses an empty buffer anyway.
  if (body.empty()) return result;
  FILE* input = fmemopen(const_cast<uint8_t*>(body.data()), body.size(), "rb");
  char* buffer = nullptr;
  size_t length = 0;
  FILE* output = keepOutput ? open_memstream(&buffer, &length) : OpenCounter(&result.size);
  if (input == nullptr || output == nullptr) throw std::runtime_error("out of memory");
  result.ok = LzhufDecode(input, output, nullptr) == 1;
  fclose(output);
  fclose(input);
  if (keepOutput) {
    result.size = length;
    result.output.assign(buffer, buffer + length);
    free(buffer);
  }
  return result;
}

}  // namespace vexa
