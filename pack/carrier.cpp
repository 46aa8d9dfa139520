#include "pack/carrier.h"

#include <algorithm>
#include <stdexcept>

#include "pack/pe_image.h"
#include "resources/resource.h"

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

bool Damaged(const std::vector<Problem>& problems) {
  return std::any_of(problems.begin(), problems.end(),
                     [](const Problem& p) { return StatusOf(p.fault) != STATUS_SUM; });
}

// What the image's headers say about the file's length: cut, lengthened after a
// signature, or a signature that is none. Returns true when the file is cut.
bool CheckLength(std::span<const uint8_t> file, const PeFileLayout& layout, CarrierReport& report) {
  std::vector<Problem>& problems = report.problems;
  uint64_t size = file.size();
  if (layout.sectionsEnd > size) {
    problems.push_back({Fault::CutSections, -1, 0, size, layout.sectionsEnd});
    return true;
  }
  if (layout.certificateSize == 0) return false;
  report.isSigned = true;
  report.signatureOffset = layout.certificateOffset;
  report.signatureSize = layout.certificateSize;
  uint64_t end = report.signatureOffset + report.signatureSize;
  if (end > size) {
    problems.push_back({Fault::CutSignature, -1, 0, size, end});
    return true;
  }
  uint64_t at = report.signatureOffset;
  bool wellFormed = at >= layout.sectionsEnd && report.signatureSize >= 8 && Le32(file, at) >= 8 &&
                    Le32(file, at) <= report.signatureSize &&
                    (file[at + 4] | file[at + 5] << 8) == kCertificateRevision &&
                    (file[at + 6] | file[at + 7] << 8) == kCertificatePkcs7;
  if (!wellFormed) problems.push_back({Fault::BadSignature, -1, at});
  if (end < size) problems.push_back({Fault::JunkAfterSignature, -1, end, size - end});
  return false;
}

void CheckSum(std::span<const uint8_t> file, CarrierReport& report) {
  std::vector<Problem>& problems = report.problems;
  uint32_t sum = report.scan.sum;
  if (report.kind == FileKind::Carrier) {
    uint64_t skipTo = report.archiveEnd ? report.archiveEnd : file.size();
    std::vector<uint64_t> records = FindSumRecords(file, report.scan.firstMarker, skipTo);
    if (records.size() == 1) {
      report.carriedSum = Le32(file, records[0] + SUM_TAG_LENGTH);
    } else if (records.size() > 1) {
      problems.push_back({Fault::SumRecords, -1, 0, records.size()});
      return;
    }
  }
  bool damaged = Damaged(problems);
  if (!report.carriedSum && !report.expectSum) {
    problems.push_back(
        {report.kind == FileKind::Carrier ? Fault::NoSumRecord : Fault::ArchiveHoldsNoSum, -1, 0,
         sum});
    return;
  }
  report.sumMatches = (!report.carriedSum || *report.carriedSum == sum) &&
                      (!report.expectSum || *report.expectSum == sum);
  if (damaged) return;  // a damaged archive's sum tells nothing more
  if (report.carriedSum && *report.carriedSum != sum)
    problems.push_back({Fault::SumNotCarried, -1, 0, sum, *report.carriedSum});
  if (report.expectSum && *report.expectSum != sum)
    problems.push_back({Fault::SumNotExpected, -1, 0, sum, *report.expectSum});
}

// The cause before its consequences: what the file is, then damage, then the sum.
void SortByWeight(std::vector<Problem>& problems) {
  std::stable_sort(problems.begin(), problems.end(), [](const Problem& a, const Problem& b) {
    return Weight(StatusOf(a.fault)) > Weight(StatusOf(b.fault));
  });
}

}  // namespace

int CarrierReport::Status() const {
  int status = 0;
  for (const Problem& p : problems) {
    if (Weight(StatusOf(p.fault)) > Weight(status)) status = StatusOf(p.fault);
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
  std::vector<Problem>& problems = report.problems;
  report.fileSize = file.size();
  report.expectSum = options.expectSum;
  if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') {
    report.kind = FileKind::Carrier;
  } else if (file.size() >= MARKER_LENGTH &&
             std::equal(kSegmentMarker.begin(), kSegmentMarker.end(), file.begin())) {
    report.kind = FileKind::Archive;
  } else {
    problems.push_back({Fault::NotCarrier});
    return report;
  }

  // A Windows program is an installer only as a 32-bit program that carries RCDATA 4,
  // which its headers and resource directory tell before a byte of it is scanned.
  bool cut = false;
  std::optional<uint32_t> archiveResource;
  if (report.kind == FileKind::Carrier) {
    PeFileLayout layout;
    try {
      layout = ReadPeFileLayout(file);
    } catch (const std::exception& e) {
      // Headers that cannot be read make no program Windows would start: there is nothing
      // for the installer's scan to find.
      if (IsPe32Plus(file)) {
        report.kind = FileKind::Other;
        problems.push_back({Fault::NotPe32});
      } else {
        problems.push_back({Fault::BadImage, -1, 0, 0, 0, e.what()});
      }
      return report;
    }
    if (layout.machine != kMachineI386) {
      report.kind = FileKind::Other;
      problems.push_back({Fault::NotPe32});
      return report;
    }
    cut = CheckLength(file, layout, report);
    if (!cut) {
      try {
        for (const PeResource& r : ReadResourcePlaces(file)) {
          if (r.type == ResourceId(kRtRcData) && r.name == ResourceId((uint16_t)IDR_ARCHIVE))
            archiveResource = r.fileOffset;
        }
      } catch (const std::exception& e) {
        problems.push_back({Fault::BadImage, -1, 0, 0, 0, e.what()});
        return report;
      }
      if (!archiveResource) {
        report.kind = FileKind::Other;
        report.problems.clear();  // a signature's state says nothing of a program that is none
        problems.push_back({Fault::NoArchiveResource});
        return report;
      }
    }
  }

  report.scan = ScanArchive(file, options.keepOutputs, options.onSegment);
  const ScanReport& scan = report.scan;
  for (const Problem& p : scan.problems) {
    // A file the headers found cut needs no second word for the segment it ends in.
    if (cut && (p.fault == Fault::CutInSegment || p.fault == Fault::NoClosingMarker)) continue;
    problems.push_back(p);
  }
  if (!scan.markerFound) {
    SortByWeight(problems);
    return report;
  }
  if (archiveResource && *archiveResource != scan.firstMarker)
    problems.push_back({Fault::MarkerNotAtResource, -1, scan.firstMarker, *archiveResource});
  if (!scan.segments.empty() && scan.segments.back().closed) {
    const ScannedSegment& last = scan.segments.back();
    report.archiveEnd = last.offset + last.bodyLength + MARKER_LENGTH;
  }
  CheckSum(file, report);
  SortByWeight(problems);
  return report;
}

}  // namespace vexa
