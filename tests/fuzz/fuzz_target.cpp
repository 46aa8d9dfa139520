// One libFuzzer entry point, built once per target (FUZZ_TARGET names it): any input
// that breaks a rule of fuzz_checks.h stops the fuzzer with the rule it broke.
#include <stdio.h>
#include <stdlib.h>

#include "tests/fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string broken = fuzzcheck::Check(fuzzcheck::Target::FUZZ_TARGET, std::span(data, size));
  if (!broken.empty()) {
    fprintf(stderr, "fuzz check failed: %s\n", broken.c_str());
    abort();
  }
  return 0;
}
