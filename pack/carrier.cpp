#include "pack/carrier.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "pack/pe_image.h"

namespace vexa {
namespace {

constexpr uint8_t kSumTag[SUM_TAG_LENGTH] = ARCHIVE_SUM_TAG;
static_assert(sizeof(ArchiveSumRecord) == SUM_TAG_LENGTH + 4, "the record has no padding");

// WIN_CERTIFICATE: length, revision 2.0, type PKCS#7 signed data.
constexpr uint16_t kCertificateRevision = 0x0200;
constexpr uint16_t kCertificatePkcs7 = 0x0002;

uint32_t Le32(std::span<const uint8_t> data, uint64_t at) {
  return (uint32_t)data[at] | (uint32_t)data[at + 1] << 8 | (uint32_t)data[at + 2] << 16 |
         (uint32_t)data[at + 3] << 24;
}

// An unreadable file outweighs all; no carrier at all outweighs damage, and damage
// outweighs the sum it spoils.
int Weight(int status) {
  switch (status) {
    case EXIT_FAILURE_:
      return 4;
    case STATUS_NOT_CARRIER:
      return 3;
    case STATUS_DAMAGED:
      return 2;
    case STATUS_SUM:
      return 1;
    default:
      return 0;
  }
}

std::string RowName(int row) {
  std::string name = "row " + std::to_string(row);
  if (row >= 0 && row < SEGMENT_COUNT) name += std::string(" (") + TargetFileTable[row] + ")";
  return name;
}

class Findings {
 public:
  explicit Findings(CarrierReport& report) : report_(report) {}
  void Add(std::string kind, std::string message, int status = STATUS_DAMAGED) {
    report_.problems.push_back({std::move(kind), std::move(message), status});
  }
  bool Damaged() const {
    return std::any_of(report_.problems.begin(), report_.problems.end(),
                       [](const CarrierProblem& p) { return p.status != STATUS_SUM; });
  }

 private:
  CarrierReport& report_;
};

// What the Windows image's headers say about the file's length: cut, lengthened after a
// signature, or a signature that is none. Returns true when the file is cut.
bool CheckImage(std::span<const uint8_t> file, CarrierReport& report, Findings& findings) {
  PeFileLayout layout;
  try {
    layout = ReadPeFileLayout(file);
  } catch (const std::exception& e) {
    findings.Add("bad-image", e.what());
    return false;
  }
  uint64_t size = file.size();
  if (layout.sectionsEnd > size) {
    findings.Add("truncated", "truncated: " + std::to_string(size) +
                                  " bytes, but its sections run to offset " +
                                  std::to_string(layout.sectionsEnd));
    return true;
  }
  if (layout.certificateSize == 0) return false;
  report.isSigned = true;
  report.signatureOffset = layout.certificateOffset;
  report.signatureSize = layout.certificateSize;
  uint64_t end = report.signatureOffset + report.signatureSize;
  if (end > size) {
    findings.Add("truncated", "truncated: " + std::to_string(size) +
                                  " bytes, but its signature runs to offset " +
                                  std::to_string(end));
    return true;
  }
  uint64_t at = report.signatureOffset;
  bool wellFormed = at >= layout.sectionsEnd && report.signatureSize >= 8 && Le32(file, at) >= 8 &&
                    Le32(file, at) <= report.signatureSize &&
                    (file[at + 4] | file[at + 5] << 8) == kCertificateRevision &&
                    (file[at + 6] | file[at + 7] << 8) == kCertificatePkcs7;
  if (!wellFormed) {
    findings.Add("bad-signature", "the certificate table at offset " + std::to_string(at) +
                                      " does not hold a signature");
  }
  if (end < size) {
    findings.Add("junk-after-signature",
                 std::to_string(size - end) + " bytes follow the signature, which ends at offset " +
                     std::to_string(end) + "; they were added after signing");
  }
  return false;
}

// The scan finds its first marker where the archive resource begins, or the installer
// would read something else as its archive.
void CheckArchiveResource(std::span<const uint8_t> file, const CarrierReport& report,
                          Findings& findings) {
  std::optional<PeResource> resource;
  try {
    resource = PeImage::Parse(file).FindResource(kRtRcData, (uint16_t)4);
  } catch (const std::exception& e) {
    findings.Add("bad-image", e.what());
    return;
  }
  if (resource && resource->fileOffset != report.scan.firstMarker) {
    findings.Add("marker-misplaced", "the scan finds its first marker at offset " +
                                         std::to_string(report.scan.firstMarker) +
                                         ", not where the archive resource begins (" +
                                         std::to_string(resource->fileOffset) + ")");
  }
}

void CheckSegments(std::span<const uint8_t> file, CarrierReport& report, bool cut,
                   Findings& findings) {
  const ScanReport& scan = report.scan;
  size_t before = FindMarkerBytes(file.first(scan.firstMarker));
  if (before != std::string::npos) {
    findings.Add("marker-misplaced", "marker bytes at offset " + std::to_string(before) +
                                         " lie before the archive, where the scan misses them");
  }
  for (const ScannedSegment& s : scan.segments) {
    std::span<const uint8_t> body = file.subspan(s.offset, s.bodyLength);
    if (!s.closed) {
      if (cut) continue;  // said already
      if (scan.segments.size() < SEGMENT_COUNT || !s.decoded) {
        findings.Add("truncated", "truncated: the file ends inside " + RowName(s.row) +
                                      ", at offset " + std::to_string(file.size()));
      } else {
        findings.Add("no-closing-marker",
                     "no marker closes " + RowName(s.row) + ": the closing marker is missing");
      }
      continue;
    }
    if (!s.decoded) {
      findings.Add("damaged-segment", RowName(s.row) + " at offset " + std::to_string(s.offset) +
                                          " is damaged: it does not decode to its " +
                                          std::to_string(s.declaredSize) + " bytes");
    }
    size_t inside = FindMarkerBytes(body);
    if (inside != std::string::npos) {
      findings.Add("marker-misplaced", "marker bytes at offset " +
                                           std::to_string(s.offset + inside) + " inside " +
                                           RowName(s.row) + ", where the scan misses them");
    }
  }
}

void CheckSum(std::span<const uint8_t> file, CarrierReport& report, Findings& findings) {
  if (report.kind == FileKind::Carrier) {
    uint64_t skipTo = report.archiveEnd ? report.archiveEnd : file.size();
    std::vector<uint64_t> records = FindSumRecords(file, report.scan.firstMarker, skipTo);
    if (records.size() == 1) {
      report.carriedSum = Le32(file, records[0] + SUM_TAG_LENGTH);
    } else if (records.size() > 1) {
      findings.Add("no-expected-sum",
                   std::to_string(records.size()) +
                       " sum records: cannot tell which the installer reads; give --expect-sum",
                   STATUS_SUM);
      return;
    }
  }
  uint32_t sum = report.scan.sum;
  bool damaged = findings.Damaged();
  if (!report.carriedSum && !report.expectSum) {
    findings.Add("no-expected-sum",
                 std::string(report.kind == FileKind::Carrier ? "the file holds no sum record"
                                                              : "an archive holds no sum") +
                     " and no --expect-sum was given: the sum " + HexSum(sum) +
                     " cannot be checked",
                 STATUS_SUM);
    return;
  }
  report.sumMatches = (!report.carriedSum || *report.carriedSum == sum) &&
                      (!report.expectSum || *report.expectSum == sum);
  if (damaged) return;  // a damaged archive's sum tells nothing more
  if (report.carriedSum && *report.carriedSum != sum) {
    findings.Add("sum-mismatch",
                 "the archive sum " + HexSum(sum) +
                     " differs from the sum the installer carries, " + HexSum(*report.carriedSum) +
                     ": the archive was changed after the build",
                 STATUS_SUM);
  }
  if (report.expectSum && *report.expectSum != sum) {
    findings.Add("sum-mismatch",
                 "the archive sum " + HexSum(sum) + " differs from the expected " +
                     HexSum(*report.expectSum),
                 STATUS_SUM);
  }
}

}  // namespace

std::string HexSum(uint32_t sum) {
  char text[16];
  snprintf(text, sizeof text, "0x%08x", sum);
  return text;
}

int CarrierReport::Status() const {
  int status = 0;
  for (const CarrierProblem& p : problems) {
    if (Weight(p.status) > Weight(status)) status = p.status;
  }
  return status;
}

std::vector<uint64_t> FindSumRecords(std::span<const uint8_t> data, uint64_t skipFrom,
                                     uint64_t skipTo) {
  std::vector<uint64_t> found;
  const uint8_t* begin = data.data();
  const uint8_t* end = data.data() + data.size();
  for (const uint8_t* at = begin;;) {
    at = std::search(at, end, std::begin(kSumTag), std::end(kSumTag));
    if (at == end) break;
    auto offset = (uint64_t)(at - begin);
    bool outside = offset + sizeof(ArchiveSumRecord) <= skipFrom || offset >= skipTo;
    if (outside && offset + sizeof(ArchiveSumRecord) <= data.size()) found.push_back(offset);
    at++;
  }
  return found;
}

CarrierReport ReadCarrier(std::span<const uint8_t> file, const CarrierOptions& options) {
  CarrierReport report;
  Findings findings(report);
  report.fileSize = file.size();
  report.expectSum = options.expectSum;
  if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') {
    report.kind = FileKind::Carrier;
  } else if (file.size() >= MARKER_LENGTH &&
             std::equal(kSegmentMarker.begin(), kSegmentMarker.end(), file.begin())) {
    report.kind = FileKind::Archive;
  } else {
    findings.Add("not-a-carrier",
                 "not an installer or an archive: it begins with neither \"MZ\" nor the marker",
                 STATUS_NOT_CARRIER);
    return report;
  }

  report.scan = ScanArchive(file, options.keepOutputs, options.onSegment);
  const ScanReport& scan = report.scan;
  if (!scan.markerFound) {
    findings.Add("not-a-carrier", "a Windows program, but no installer: it holds no segment marker",
                 STATUS_NOT_CARRIER);
    return report;
  }
  if (!scan.segments.empty() && scan.segments.back().closed) {
    const ScannedSegment& last = scan.segments.back();
    report.archiveEnd = last.offset + last.bodyLength + MARKER_LENGTH;
  }
  bool cut = false;
  if (report.kind == FileKind::Carrier) {
    cut = CheckImage(file, report, findings);
    if (!cut) CheckArchiveResource(file, report, findings);
  }
  CheckSegments(file, report, cut, findings);
  CheckSum(file, report, findings);
  // The cause before its consequences: what the file is, then damage, then the sum.
  std::stable_sort(report.problems.begin(), report.problems.end(),
                   [](const CarrierProblem& a, const CarrierProblem& b) {
                     return Weight(a.status) > Weight(b.status);
                   });
  return report;
}

}  // namespace vexa
