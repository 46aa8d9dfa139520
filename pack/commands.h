// The commands of vexa-pack: file work around the core, which never prints or exits.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pack/exit_status.h"
#include "pack/lzhuf_encoder.h"

namespace vexa {

struct Options {
  std::string command;
  std::string input;          // IN, DIR or FILE
  std::string output;         // OUT, ARCHIVE or the installer build writes
  std::string header;         // pack --header
  bool resource = false;      // pack --resource: the archive as the installer carries it
  std::string expectArchive;  // verify --expect-archive
  Parse parse = Parse::Optimal;
  std::optional<uint32_t> expectSum;  // verify, list, extract --expect-sum
  std::string directory;              // extract -d
  bool force = false;                 // extract --force
  bool json = false;                  // verify, list --json
  std::string stub;                   // build --stub; empty: the one installed with the tool
  std::string licence;                // build --licence: a text file for RCDATA 3
};

// Prints "vexa-pack: FILE: PROBLEM" on standard error; returns status.
int Report(const std::string& file, const std::string& problem, int status = EXIT_FAILURE_);

// Runs a command's file work: a FileError is reported against its file, any other failure
// against input.
int Guarded(const std::string& input, const std::function<int()>& body);

// The eleven files of DIR in row order, none of them one of outputs. Each problem is
// reported; nothing is returned when any file failed.
std::optional<std::vector<std::vector<uint8_t>>> ReadPayload(
    const std::string& dir, const std::vector<std::string>& outputs);

int Encode(const Options& options);
int Decode(const Options& options);
int Pack(const Options& options);
int Verify(const Options& options);
int List(const Options& options);
int Extract(const Options& options);
int Build(const Options& options);

}  // namespace vexa
