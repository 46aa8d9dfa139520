// A finished installer (signed or not) or a bare archive, read as the installer's scan
// reads it, with each fault named once by its cause: a cut file, a damaged segment, a
// missing closing marker, bytes after a signature, a sum other than the one expected.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pack/archive.h"
#include "pack/exit_status.h"

namespace vexa {

enum class FileKind {
  Carrier,  // begins with "MZ": a Windows program
  Archive,  // begins with the segment marker
  Other,
};

struct CarrierReport {
  FileKind kind = FileKind::Other;
  uint64_t fileSize = 0;
  ScanReport scan;
  uint64_t archiveEnd = 0;  // after the closing marker; 0 when there is none
  bool isSigned = false;
  uint64_t signatureOffset = 0, signatureSize = 0;
  std::optional<uint32_t> carriedSum;  // the installer's own record of its sum
  std::optional<uint32_t> expectSum;   // given by the caller
  bool sumMatches = false;             // every known expectation holds, and one is known
  std::vector<Problem> problems;       // the weightiest first

  int Status() const;  // 0, or the heaviest problem's status
};

struct CarrierOptions {
  std::optional<uint32_t> expectSum;
  bool keepOutputs = false;
  std::function<void(int row)> onSegment;  // before each segment is decoded
};

// Reads file as list, extract and build see it: what kind of file it is, then the scan
// exactly as the installer's, then what the image's headers, resources and sum record add.
CarrierReport ReadCarrier(std::span<const uint8_t> file, const CarrierOptions& options = {});

// Offsets of the installer's sum record (its tag) in data outside [skipFrom, skipTo).
std::vector<uint64_t> FindSumRecords(std::span<const uint8_t> data, uint64_t skipFrom,
                                     uint64_t skipTo);

}  // namespace vexa
