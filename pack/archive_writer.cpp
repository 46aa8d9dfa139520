#include <algorithm>
#include <atomic>
#include <exception>
#include <stdexcept>
#include <thread>

#include "pack/archive.h"

namespace vexa {
namespace {

constexpr int kMaxReparses = 64;

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
    if (data.size() >= k &&
        std::equal(data.end() - (ptrdiff_t)k, data.end(), kSegmentMarker.begin())) {
      return true;
    }
  }
  return false;
}

PackedSegment PackSegment(std::span<const uint8_t> data, Parse parse) {
  PackedSegment packed;
  EncodeOptions options;
  options.parse = parse;
  // The symbols are recorded only once the marker has turned up, to find the match to
  // give up; most files never need them.
  options.recordSymbols = false;
  for (;;) {
    EncodedSegment encoded = EncodeSegment(data, options);
    size_t at = FindMarkerBytes(encoded.body);
    if (at == std::string::npos) {
      packed.body = std::move(encoded.body);
      break;
    }
    if (!options.recordSymbols) {
      options.recordSymbols = true;
      continue;
    }
    // Every code from a changed symbol on changes, so the last match that starts before
    // the marker bytes end is made a literal, and the rest is parsed anew.
    uint32_t endBit = (uint32_t)(at + MARKER_LENGTH) * 8;
    auto match =
        std::find_if(encoded.symbols.rbegin(), encoded.symbols.rend(),
                     [&](const CodedSymbol& s) { return s.isMatch && s.bitOffset < endBit; });
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

std::vector<uint8_t> ArchiveResource(const Archive& archive) {
  std::vector<uint8_t> bytes = archive.bytes;
  bytes.insert(bytes.end(), kSegmentMarker.begin(), kSegmentMarker.end());
  bytes.push_back('\r');
  bytes.push_back('\n');
  return bytes;
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

}  // namespace vexa
