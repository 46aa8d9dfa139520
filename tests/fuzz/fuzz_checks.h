// What must hold for any input, however damaged or hostile: the decoder on one segment,
// the release tool's scan on one file, and a whole installation run over one carrier. The
// fuzz targets call these on every input; the normal test suite replays the seeds and
// every input that once broke a rule.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pack/archive.h"

namespace fuzzcheck {

using Bytes = std::vector<uint8_t>;

enum class Target { Decode, Scan, Install };

// The folder name of a target's corpus and regressions: "decode", "scan", "install".
const char* TargetName(Target target);

// The archive of eleven small files that the seeds carry; the installation check expects
// its sum, so seeds and their harmless mutations can succeed.
const vexa::Archive& SeedArchive();

// Named seed inputs of a target, made from the seed archive and, for the decoder, the
// reference encodings in vectorDir.
struct Seed {
  std::string name;
  Bytes bytes;
};
std::vector<Seed> Seeds(Target target, const std::string& vectorDir);

// Each returns an empty text when the input was handled correctly, else what went wrong.
// The segment for the decoder: size field, then bit stream.
std::string CheckDecode(std::span<const uint8_t> segment);
// Any file, read as `vexa-pack verify` reads it.
std::string CheckScan(std::span<const uint8_t> file);
// Three header bytes, then the carrier file. Header byte 0 picks the circumstances: bit 0
// make backups, bit 1 keep settings, bit 2 an earlier installation is present, bit 3
// writes to targets fail, bit 4 writes to the temporary file fail, bit 5 a file stands
// where the backup folder belongs, bit 6 only the one write that reaches the limit fails;
// bytes 1 and 2 give after how many bytes the writes fail (little-endian).
std::string CheckInstall(std::span<const uint8_t> input);

// The same run, with its result and the captions of the boxes it showed.
struct InstallReport {
  int result = 0;
  std::vector<std::string> captions;
  std::string broken;  // the first rule broken, or empty
};
InstallReport RunInstall(std::span<const uint8_t> input);

std::string Check(Target target, std::span<const uint8_t> input);

}  // namespace fuzzcheck
