#include <algorithm>

#include "pack/archive.h"
#include "pack/memory_streams.h"

namespace vexa {

ScanReport ScanArchive(std::span<const uint8_t> data, bool keepOutputs,
                       const std::function<void(int row)>& onSegment) {
  ScanReport report;
  int matchLength = 0;
  int32_t sumWeight = 1;
  bool copying = false;
  uint64_t bodyStart = 0;
  std::vector<ScannedSegment>& segments = report.segments;

  // The bytes between two markers are the body exactly: the matcher's held-back bytes are
  // released in the file's own order, so the body is a plain slice of the file.
  auto finishSegment = [&](bool closed, uint64_t end) {
    std::span<const uint8_t> body = data.subspan(bodyStart, end - bodyStart);
    ScannedSegment segment;
    segment.row = (int)segments.size();
    segment.offset = bodyStart;
    segment.bodyLength = body.size();
    for (size_t k = 0; k < 4 && k < body.size(); k++)
      segment.declaredSize |= (uint32_t)body[k] << (8 * k);
    segment.closed = closed;
    if (onSegment) onSegment(segment.row);
    DecodedBody decoded = DecodeBody(body, keepOutputs);
    segment.decoded = decoded.ok;
    segment.decodedSize = decoded.size;
    if (keepOutputs) segment.output = std::move(decoded.output);
    segments.push_back(std::move(segment));
  };

  uint64_t position = 0;
  for (; position < data.size(); position++) {
    int byte = data[position];
    if (copying) FoldArchiveSum(&report.sum, &sumWeight, byte);
    matchLength = MatchMarkerByte(kMarkerText, matchLength, byte);
    if (matchLength == MARKER_LENGTH) {
      matchLength = 0;
      if (copying) {
        finishSegment(true, position + 1 - MARKER_LENGTH);
        if (segments.size() == SEGMENT_COUNT) break;
      } else {
        report.markerFound = true;
        report.firstMarker = position + 1 - MARKER_LENGTH;
      }
      copying = true;
      bodyStart = position + 1;
    }
  }
  if (copying && segments.size() < SEGMENT_COUNT) finishSegment(false, data.size());

  std::vector<Problem>& problems = report.problems;
  if (!report.markerFound) {
    problems.push_back({Fault::NoMarker});
    return report;
  }
  size_t before = FindMarkerBytes(data.first(report.firstMarker));
  if (before != std::string::npos) problems.push_back({Fault::MarkerBefore, -1, before});
  for (const ScannedSegment& s : segments) {
    if (!s.closed) {
      // Ended by the file: cut short, unless all eleven are there and whole, when only
      // the closing marker is missing.
      if (s.row + 1 < SEGMENT_COUNT || !s.decoded) {
        problems.push_back({Fault::CutInSegment, s.row, s.offset, data.size()});
      } else {
        problems.push_back({Fault::NoClosingMarker, s.row, s.offset});
      }
      continue;
    }
    if (!s.decoded) {
      problems.push_back({Fault::DamagedSegment, s.row, s.offset, s.declaredSize});
    } else if (s.decodedSize != s.declaredSize) {
      problems.push_back({Fault::SizeMismatch, s.row, s.offset, s.decodedSize, s.declaredSize});
    }
    size_t inside = FindMarkerBytes(data.subspan(s.offset, s.bodyLength));
    if (inside != std::string::npos)
      problems.push_back({Fault::MarkerInside, s.row, s.offset + inside});
  }
  return report;
}

}  // namespace vexa
