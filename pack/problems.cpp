#include "pack/problems.h"

#include <cstdio>

#include "engine/archive_format.h"
#include "pack/archive.h"
#include "pack/exit_status.h"

namespace vexa {

int StatusOf(Fault fault) {
  switch (fault) {
    case Fault::Unreadable:
    case Fault::ArchiveNotCarried:
    case Fault::SumNotArchives:
      return EXIT_FAILURE_;
    case Fault::TooLarge:
    case Fault::NotCarrier:
    case Fault::NotPe32:
    case Fault::NoArchiveResource:
    case Fault::NoMarker:
      return STATUS_NOT_CARRIER;
    case Fault::SumRecords:
    case Fault::NoSumRecord:
    case Fault::ArchiveHoldsNoSum:
    case Fault::SumNotCarried:
    case Fault::SumNotExpected:
      return STATUS_SUM;
    default:
      return STATUS_DAMAGED;
  }
}

const char* KindName(Fault fault) {
  switch (fault) {
    case Fault::Unreadable:
      return "unreadable";
    case Fault::TooLarge:
      return "too-large";
    case Fault::NotCarrier:
    case Fault::NotPe32:
    case Fault::NoArchiveResource:
    case Fault::NoMarker:
      return "not-a-carrier";
    case Fault::BadImage:
      return "bad-image";
    case Fault::CutSections:
    case Fault::CutSignature:
    case Fault::CutInSegment:
      return "truncated";
    case Fault::NoClosingMarker:
      return "no-closing-marker";
    case Fault::DamagedSegment:
    case Fault::SizeMismatch:
      return "damaged-segment";
    case Fault::MarkerBefore:
    case Fault::MarkerInside:
    case Fault::MarkerNotAtResource:
      return "marker-misplaced";
    case Fault::BadSignature:
      return "bad-signature";
    case Fault::JunkAfterSignature:
      return "junk-after-signature";
    case Fault::SumRecords:
    case Fault::NoSumRecord:
    case Fault::ArchiveHoldsNoSum:
      return "no-expected-sum";
    case Fault::SumNotCarried:
    case Fault::SumNotExpected:
    case Fault::SumNotArchives:
      return "sum-mismatch";
    case Fault::ArchiveNotCarried:
      return "archive-mismatch";
  }
  return "unknown";
}

std::string Describe(const Problem& p) {
  auto n = [](uint64_t value) { return std::to_string(value); };
  switch (p.fault) {
    case Fault::Unreadable:
      return p.text;
    case Fault::TooLarge:
      return n(p.value) + " bytes: larger than any installer or archive can be (4 GiB - 1)";
    case Fault::NotCarrier:
      return "not an installer or an archive: it begins with neither \"MZ\" nor the marker";
    case Fault::NotPe32:
      return "a Windows program, but no installer: it is not a 32-bit program";
    case Fault::NoArchiveResource:
      return "a Windows program, but no installer: it carries no archive (RCDATA 4)";
    case Fault::NoMarker:
      return "no installer: it holds no segment marker";
    case Fault::BadImage:
      return p.text;
    case Fault::CutSections:
      return "truncated: " + n(p.value) + " bytes, but its sections run to offset " + n(p.other);
    case Fault::CutSignature:
      return "truncated: " + n(p.value) + " bytes, but its signature runs to offset " + n(p.other);
    case Fault::CutInSegment:
      return "truncated: the file ends inside " + RowName(p.row) + ", at offset " + n(p.value);
    case Fault::NoClosingMarker:
      return "no marker closes " + RowName(p.row) + ": the closing marker is missing";
    case Fault::DamagedSegment:
      return RowName(p.row) + " at offset " + n(p.offset) +
             " is damaged: it does not decode to its " + n(p.value) + " bytes";
    case Fault::SizeMismatch:
      return RowName(p.row) + " at offset " + n(p.offset) + " is damaged: it decodes to " +
             n(p.value) + " bytes, not its " + n(p.other);
    case Fault::MarkerBefore:
      return "marker bytes at offset " + n(p.offset) +
             " lie before the archive, where the scan misses them";
    case Fault::MarkerInside:
      return "marker bytes at offset " + n(p.offset) + " inside " + RowName(p.row) +
             ", where the scan misses them";
    case Fault::MarkerNotAtResource:
      return "the scan finds its first marker at offset " + n(p.offset) +
             ", not where the archive resource begins (" + n(p.value) + ")";
    case Fault::BadSignature:
      return "the certificate table at offset " + n(p.offset) + " does not hold a signature";
    case Fault::JunkAfterSignature:
      return n(p.value) + " bytes follow the signature, which ends at offset " + n(p.offset) +
             "; they were added after signing";
    case Fault::SumRecords:
      return n(p.value) + " sum records: cannot tell which the installer reads; give --expect-sum";
    case Fault::NoSumRecord:
      return "the file holds no sum record and no --expect-sum was given: the sum " +
             HexSum((uint32_t)p.value) + " cannot be checked";
    case Fault::ArchiveHoldsNoSum:
      return "an archive holds no sum and no --expect-sum was given: the sum " +
             HexSum((uint32_t)p.value) + " cannot be checked";
    case Fault::SumNotCarried:
      return "the archive sum " + HexSum((uint32_t)p.value) +
             " differs from the sum the installer carries, " + HexSum((uint32_t)p.other) +
             ": the archive was changed after the build";
    case Fault::SumNotExpected:
      return "the archive sum " + HexSum((uint32_t)p.value) + " differs from the expected " +
             HexSum((uint32_t)p.other);
    case Fault::ArchiveNotCarried:
      return "the scan does not find the archive of " + p.text +
             (p.value != 0 ? " at its first marker, offset " + n(p.offset) : "");
    case Fault::SumNotArchives:
      return "the archive sum " + HexSum((uint32_t)p.value) + " differs from the archive's " +
             HexSum((uint32_t)p.other);
  }
  return "unknown problem";
}

std::string RowName(int row) {
  std::string name = "row " + std::to_string(row);
  if (row >= 0 && row < SEGMENT_COUNT) name += std::string(" (") + TargetFileTable[row] + ")";
  return name;
}

std::string HexSum(uint32_t sum) {
  char text[16];
  snprintf(text, sizeof text, "0x%08x", sum);
  return text;
}

}  // namespace vexa
