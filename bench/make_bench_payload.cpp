// Writes the benchmark payload into a directory, ready for `vexa-pack pack DIR -o X`.
#include <cstdio>
#include <exception>

#include "bench/payload.h"
#include "engine/archive_format.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_bench_payload DIR\n");
    return 2;
  }
  try {
    vexa::bench::WritePayload(argv[1]);
  } catch (const std::exception& e) {
    fprintf(stderr, "make_bench_payload: %s\n", e.what());
    return 1;
  }
  const vexa::bench::Payload& p = vexa::bench::GetPayload();
  for (size_t row = 0; row < p.files.size(); row++) {
    printf("%2zu %-13s %9zu\n", row, TargetFileTable[row], p.files[row].size());
  }
  printf("code: %s\ntext: %s\n", p.codeSource.c_str(), p.textSource.c_str());
  return 0;
}
