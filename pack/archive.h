// The payload archive from the release engineer's side: writing it, and reading any file
// exactly as the installer's scan does.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/archive_format.h"
#include "pack/lzhuf_encoder.h"
#include "pack/problems.h"

namespace vexa {

inline constexpr char kMarkerText[] = SEGMENT_MARKER;
inline constexpr std::array<uint8_t, MARKER_LENGTH> kSegmentMarker = {
    (uint8_t)kMarkerText[0], (uint8_t)kMarkerText[1], (uint8_t)kMarkerText[2],
    (uint8_t)kMarkerText[3]};
static_assert(sizeof kMarkerText == MARKER_LENGTH + 1);

// The weighted sum (1, 2, 3, -4, ...) over bytes that the scan counts, modulo 2^32.
uint32_t ArchiveSum(std::span<const uint8_t> counted);

// Offset of the first marker bytes in data, or npos. Finds markers the scan would miss.
size_t FindMarkerBytes(std::span<const uint8_t> data);

// True when data ends in "A", "AR" or "ARN": a marker that follows could be missed.
bool EndsInPartialMarker(std::span<const uint8_t> data);

struct PackedSegment {
  std::vector<uint8_t> body;
  int reparses = 0;       // encodings redone to keep the marker out of the bit stream
  bool fillByte = false;  // a zero byte follows the stream so the body ends safely
};

// Encodes one file into a body that satisfies the marker rules; throws std::runtime_error
// when no encoding found avoids the marker.
PackedSegment PackSegment(std::span<const uint8_t> data, Parse parse = Parse::Optimal);

struct Archive {
  std::vector<uint8_t> bytes;  // opening marker, then each body and its marker
  uint32_t sum = 0;
  std::vector<PackedSegment> segments;
};

// The archive as the installer carries it in RCDATA 4: followed by the marker once more
// and CR LF, which the scan never reaches.
std::vector<uint8_t> ArchiveResource(const Archive& archive);

// Builds the archive from the eleven files in row order, encoding them in parallel.
Archive BuildArchive(const std::vector<std::vector<uint8_t>>& files, Parse parse = Parse::Optimal);

struct ScannedSegment {
  int row = 0;
  uint64_t offset = 0;      // of the body's first byte in the scanned file
  uint64_t bodyLength = 0;  // size field included
  uint32_t declaredSize = 0;
  bool decoded = false;
  uint64_t decodedSize = 0;
  bool closed = false;  // ended by a marker rather than by the end of the file
  std::vector<uint8_t> output;
};

struct ScanReport {
  bool markerFound = false;
  uint64_t firstMarker = 0;  // offset of the opening marker
  std::vector<ScannedSegment> segments;
  uint32_t sum = 0;
  // Every reason the installer would fail on the file: no marker, marker bytes where the
  // matcher misses them, a cut file or a missing closing marker, a damaged segment.
  std::vector<Problem> problems;
};

// Reads data from its first byte as the installer does: the same matcher with its
// missed-marker quirk, the same weighted sum, stopping after the twelfth marker; then
// decodes every segment, keeping the outputs only when asked. onSegment hears each row
// before it is decoded. Nothing of data is copied but the outputs kept.
ScanReport ScanArchive(std::span<const uint8_t> data, bool keepOutputs = false,
                       const std::function<void(int row)>& onSegment = {});

}  // namespace vexa
