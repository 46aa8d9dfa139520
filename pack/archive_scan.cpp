#include <algorithm>

#include "pack/archive.h"
#include "pack/memory_streams.h"

namespace vexa {
namespace {

std::string RowName(int row) {
  std::string name = "row " + std::to_string(row);
  if (row >= 0 && row < SEGMENT_COUNT) name += std::string(" (") + TargetFileTable[row] + ")";
  return name;
}

}  // namespace

ScanReport ScanArchive(std::span<const uint8_t> data, bool keepOutputs,
                       const std::function<void(int row)>& onSegment) {
  ScanReport report;
  int matchLength = 0;
  int32_t sumWeight = 1;
  bool copying = false;
  std::vector<uint8_t> body;
  std::vector<ScannedSegment>& segments = report.segments;

  auto finishSegment = [&](bool closed, uint64_t end) {
    ScannedSegment segment;
    segment.row = (int)segments.size();
    segment.offset = end - body.size();
    segment.bodyLength = body.size();
    for (size_t k = 0; k < 4 && k < body.size(); k++)
      segment.declaredSize |= (uint32_t)body[k] << (8 * k);
    segment.closed = closed;
    if (onSegment) onSegment(segment.row);
    DecodedBody decoded = DecodeBody(body);
    segment.decoded = decoded.ok;
    segment.decodedSize = decoded.output.size();
    if (keepOutputs) segment.output = std::move(decoded.output);
    size_t inside = FindMarkerBytes(body);
    if (inside != std::string::npos) {
      report.problems.push_back(RowName(segment.row) + ": marker bytes inside the body at offset " +
                                std::to_string(segment.offset + inside) +
                                ", where the scan missed a marker");
    }
    if (!closed) {
      report.problems.push_back(RowName(segment.row) +
                                ": no marker closes the segment; it runs to the end of the file");
    }
    if (!segment.decoded) {
      report.problems.push_back(RowName(segment.row) + ": the segment does not decode");
    } else if (segment.decodedSize != segment.declaredSize) {
      report.problems.push_back(RowName(segment.row) + ": decodes to " +
                                std::to_string(segment.decodedSize) + " bytes, not the declared " +
                                std::to_string(segment.declaredSize));
    }
    segments.push_back(std::move(segment));
    body.clear();
  };

  uint64_t position = 0;
  for (; position < data.size(); position++) {
    int byte = data[position];
    if (copying) FoldArchiveSum(&report.sum, &sumWeight, byte);
    int held = matchLength;
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
    } else if (matchLength == 0 && copying) {
      // A mismatch releases the held-back marker bytes before the byte itself.
      body.insert(body.end(), kSegmentMarker.begin(), kSegmentMarker.begin() + held);
      body.push_back((uint8_t)byte);
    }
  }
  if (copying && segments.size() < SEGMENT_COUNT) {
    body.insert(body.end(), kSegmentMarker.begin(), kSegmentMarker.begin() + matchLength);
    finishSegment(false, position);
  }

  if (!report.markerFound) {
    report.problems.push_back("no segment marker found");
  } else {
    size_t before = FindMarkerBytes(data.first(report.firstMarker));
    if (before != std::string::npos) {
      report.problems.push_back("marker bytes at offset " + std::to_string(before) +
                                " lie before the archive, where the scan missed a marker");
    }
  }
  if (report.markerFound && segments.size() < SEGMENT_COUNT) {
    report.problems.push_back("only " + std::to_string(segments.size()) + " of " +
                              std::to_string(SEGMENT_COUNT) + " segments found");
  }
  return report;
}

}  // namespace vexa
