// One decode of a segment body from file to file and nothing else, so an instruction
// count of this process is the decoder's own.
//   decode_once --write-body BODY   packs payload row 0 into BODY (run natively)
//   decode_once BODY OUT            decodes BODY into OUT
#include <cstdio>
#include <cstring>
#include <exception>

#include "bench/payload.h"
#include "engine/lzhuf_decoder.h"
#include "pack/archive.h"

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--write-body") == 0) {
    try {
      vexa::PackedSegment packed = vexa::PackSegment(vexa::bench::GetPayload().files[0]);
      FILE* f = fopen(argv[2], "wb");
      if (f == nullptr) return 1;
      bool ok = fwrite(packed.body.data(), 1, packed.body.size(), f) == packed.body.size();
      return (fclose(f) == 0 && ok) ? 0 : 1;
    } catch (const std::exception& e) {
      fprintf(stderr, "decode_once: %s\n", e.what());
      return 1;
    }
  }
  if (argc != 3) {
    fprintf(stderr, "usage: decode_once --write-body BODY | decode_once BODY OUT\n");
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  FILE* out = fopen(argv[2], "wb");
  if (in == nullptr || out == nullptr) return 1;
  int ok = LzhufDecode(in, out, nullptr);
  fclose(in);
  return (fclose(out) == 0 && ok == 1) ? 0 : 1;
}
