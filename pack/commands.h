// The commands of vexa-pack: file work around the core, which never prints or exits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/lzhuf_encoder.h"

namespace vexa {

enum ExitCode { EXIT_OK = 0, EXIT_FAILURE_ = 1, EXIT_USAGE = 2 };

struct Options {
  std::string command;
  std::string input;          // IN, DIR or FILE
  std::string output;         // OUT or ARCHIVE
  std::string header;         // pack --header
  bool resource = false;      // pack --resource: the archive as the installer carries it
  std::string expectArchive;  // verify --expect-archive
  Parse parse = Parse::Optimal;
  std::optional<uint32_t> expectSum;  // verify, list, extract --expect-sum
  std::string directory;              // extract -d
  bool force = false;                 // extract --force
  bool json = false;                  // verify, list --json
};

// Prints "vexa-pack: FILE: PROBLEM" on standard error; returns status.
int Report(const std::string& file, const std::string& problem, int status = EXIT_FAILURE_);

// Reads a whole file; on failure returns nothing and sets *problem. A folder is refused.
std::optional<std::vector<uint8_t>> ReadWhole(const std::string& path, std::string* problem);

// Writes all of bytes to the open file; 0, or the errno of the failed write.
int WriteAll(int fd, const std::vector<uint8_t>& bytes);

int Encode(const Options& options);
int Decode(const Options& options);
int Pack(const Options& options);
int Verify(const Options& options);
int List(const Options& options);
int Extract(const Options& options);

}  // namespace vexa
