// Writes the seed corpus of every fuzz target into OUT_DIR/decode, OUT_DIR/scan and
// OUT_DIR/install. Usage: make_seeds OUT_DIR
#include <stdio.h>

#include <filesystem>
#include <fstream>

#include "tests/fuzz/fuzz_checks.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_seeds OUT_DIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  using fuzzcheck::Target;
  for (Target target : {Target::Decode, Target::Scan, Target::Install}) {
    fs::path folder = fs::path(argv[1]) / fuzzcheck::TargetName(target);
    fs::create_directories(folder);
    for (const fuzzcheck::Seed& seed : fuzzcheck::Seeds(target, VECTOR_DIR)) {
      std::ofstream out(folder / seed.name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(seed.bytes.data()),
                (std::streamsize)seed.bytes.size());
      if (!out) {
        fprintf(stderr, "make_seeds: %s: cannot write\n", (folder / seed.name).c_str());
        return 1;
      }
    }
  }
  return 0;
}
