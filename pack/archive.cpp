#include "pack/archive.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <stdexcept>
#include <thread>

#include "pack/memory_streams.h"

namespace vexa {
namespace {

constexpr int kMaxReparses = 64;

std::string RowName(int row) {
  std::string name = "row " + std::to_string(row);
  if (row >= 0 && row < SEGMENT_COUNT) name += std::string(" (") + TargetFileTable[row] + ")";
  return name;
}

}  // namespace

uint32_t ArchiveSum(std::span<const uint8_t> counted) {
  uint32_t sum = 0;
  int32_t weight = 1;
  for (uint8_t b : counted) FoldArchiveSum(&sum, &weight, b);
  return sum;
}

size_t FindMarkerBytes(std::span<const uint8_t> data) {
  auto at = std::search(data.begin(), data.end(), kSegmentMarker.begin(), kSegmentMarker.end());
  return at == data.end() ? std::string::npos : (size_t)(at - data.begin());
}

bool EndsInPartialMarker(std::span<const uint8_t> data) {
  for (size_t k = 1; k < MARKER_LENGTH; k++) {
    if (data.size() >= k && std::equal(data.end() - (ptrdiff_t)k, data.end(), kSegmentMarker.begin())) {
      return true;
    }
  }
  return false;
}

PackedSegment PackSegment(std::span<const uint8_t> data, Parse parse) {
  PackedSegment packed;
  EncodeOptions options;
  options.parse = parse;
  for (;;) {
    EncodedSegment encoded = EncodeSegment(data, options);
    size_t at = FindMarkerBytes(encoded.body);
    if (at == std::string::npos) {
      packed.body = std::move(encoded.body);
      break;
    }
    // Every code from a changed symbol on changes, so the last match that starts before
    // the marker bytes end is made a literal, and the rest is parsed anew.
    uint32_t endBit = (uint32_t)(at + MARKER_LENGTH) * 8;
    auto match = std::find_if(encoded.symbols.rbegin(), encoded.symbols.rend(), [&](const CodedSymbol& s) {
      return s.isMatch && s.bitOffset < endBit;
    });
    if (match == encoded.symbols.rend() || packed.reparses == kMaxReparses) {
      throw std::runtime_error("the compressed data contains the segment marker at byte " +
                               std::to_string(at) + " and no other parse avoids it");
    }
    auto& forced = options.literalOnlyAt;
    forced.insert(std::upper_bound(forced.begin(), forced.end(), match->inputPosition),
                  match->inputPosition);
    packed.reparses++;
  }
  // The reader copies and sums bytes after the stream but never decodes them.
  if (EndsInPartialMarker(packed.body)) {
    packed.body.push_back(0);
    packed.fillByte = true;
  }
  return packed;
}

Archive BuildArchive(const std::vector<std::vector<uint8_t>>& files, Parse parse) {
  if (files.size() != SEGMENT_COUNT) throw std::invalid_argument("an archive holds eleven files");
  Archive archive;
  archive.segments.resize(files.size());
  // Largest first, so the big row does not start last.
  std::vector<size_t> order(files.size());
  for (size_t i = 0; i < order.size(); i++) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return files[a].size() > files[b].size(); });
  std::atomic<size_t> next{0};
  std::vector<std::exception_ptr> errors(files.size());
  auto work = [&] {
    for (size_t k; (k = next++) < order.size();) {
      size_t row = order[k];
      try {
        archive.segments[row] = PackSegment(files[row], parse);
      } catch (...) {
        errors[row] = std::current_exception();
      }
    }
  };
  unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, (unsigned)files.size());
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; t++) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  for (auto& e : errors) {
    if (e) std::rethrow_exception(e);
  }

  auto& bytes = archive.bytes;
  bytes.assign(kSegmentMarker.begin(), kSegmentMarker.end());
  for (const PackedSegment& segment : archive.segments) {
    bytes.insert(bytes.end(), segment.body.begin(), segment.body.end());
    bytes.insert(bytes.end(), kSegmentMarker.begin(), kSegmentMarker.end());
  }
  archive.sum = ArchiveSum(std::span(bytes).subspan(MARKER_LENGTH));
  return archive;
}

ScanReport ScanArchive(std::span<const uint8_t> data, bool keepOutputs) {
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
    for (size_t k = 0; k < 4 && k < body.size(); k++) segment.declaredSize |= (uint32_t)body[k] << (8 * k);
    segment.closed = closed;
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
