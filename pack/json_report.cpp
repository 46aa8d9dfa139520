#include "pack/json_report.h"

#include <nlohmann/json.hpp>

#include "engine/archive_format.h"

namespace vexa {
namespace {

// Fields stay in the order the README lists them, for people reading the line.
using Json = nlohmann::ordered_json;

template <typename T>
Json OrNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json();
}

Json Segments(const ScanReport* scan) {
  Json segments = Json::array();
  if (scan == nullptr) return segments;
  for (const ScannedSegment& s : scan->segments) {
    Json segment;
    segment["row"] = s.row;
    segment["target"] = s.row >= 0 && s.row < SEGMENT_COUNT ? TargetFileTable[s.row] : "";
    segment["offset"] = s.offset;
    segment["stored"] = s.bodyLength;
    segment["declared"] = s.declaredSize;
    segment["decoded"] = s.decoded ? Json(s.decodedSize) : Json();
    segment["closed"] = s.closed;
    segments.push_back(std::move(segment));
  }
  return segments;
}

Json Problems(const std::vector<Problem>& problems) {
  Json list = Json::array();
  for (const Problem& p : problems) {
    Json problem;
    problem["kind"] = KindName(p.fault);
    problem["message"] = Describe(p);
    list.push_back(std::move(problem));
  }
  return list;
}

std::string Line(const Json& object) {
  return object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string CarrierJson(const std::string& file, const CarrierReport& report) {
  static const char* const kKinds[] = {"carrier", "archive", "other"};
  const ScanReport& scan = report.scan;
  bool found = scan.markerFound;
  int status = report.Status();
  Json object;
  object["file"] = file;
  object["kind"] = kKinds[(int)report.kind];
  object["size"] = report.fileSize;
  object["signed"] = report.isSigned;
  object["archiveOffset"] = found ? Json(scan.firstMarker) : Json();
  object["archiveEnd"] = report.archiveEnd != 0 ? Json(report.archiveEnd) : Json();
  object["segments"] = Segments(&scan);
  object["sum"] = found ? Json(scan.sum) : Json();
  object["carriedSum"] = OrNull(report.carriedSum);
  object["expectSum"] = OrNull(report.expectSum);
  object["sumMatches"] = report.sumMatches;
  object["ok"] = status == 0;
  object["exit"] = status;
  object["problems"] = Problems(report.problems);
  return Line(object);
}

std::string VerifyJson(const std::string& file, const ScanReport* scan,
                       std::optional<uint32_t> expectSum, const std::vector<Problem>& problems,
                       int status) {
  Json object;
  object["file"] = file;
  object["segments"] = Segments(scan);
  object["sum"] = scan != nullptr ? Json(scan->sum) : Json();
  object["expectSum"] = OrNull(expectSum);
  object["sumMatches"] = scan != nullptr && expectSum ? Json(*expectSum == scan->sum) : Json();
  object["ok"] = status == 0;
  object["exit"] = status;
  object["problems"] = Problems(problems);
  return Line(object);
}

}  // namespace vexa
