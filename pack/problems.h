// What the readers find wrong with a file, as facts: which fault, where, and its figures.
// The readers never word them; each command words them with Describe (for a person) and
// KindName (a fixed word for scripts), so one fault always reads the same.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

enum class Fault {
  Unreadable,           // text: the system's reason
  TooLarge,             // value: the file's size, beyond what 32-bit offsets reach
  NotCarrier,           // begins with neither "MZ" nor the marker
  NotPe32,              // a Windows program, but not a 32-bit one
  NoArchiveResource,    // a 32-bit Windows program without RCDATA 4
  NoMarker,             // no segment marker anywhere
  BadImage,             // text: what the image reader found
  CutSections,          // value: the file's size; other: where its sections end
  CutSignature,         // value: the file's size; other: where its signature ends
  CutInSegment,         // row; value: the file's size
  NoClosingMarker,      // row: the last segment, decoded whole, but no marker after it
  DamagedSegment,       // row; offset; value: the declared size
  SizeMismatch,         // row; value: decoded bytes; other: the declared size
  MarkerBefore,         // offset: marker bytes in front of the archive
  MarkerInside,         // row; offset: marker bytes inside that body
  MarkerNotAtResource,  // offset: the first marker; value: where RCDATA 4 begins
  BadSignature,         // offset: the certificate table
  JunkAfterSignature,   // value: the bytes after it; offset: where the signature ends
  SumRecords,           // value: how many sum records
  NoSumRecord,          // value: the sum read (a carrier without its record)
  ArchiveHoldsNoSum,    // value: the sum read (a bare archive, and no --expect-sum)
  SumNotCarried,        // value: the sum read; other: the installer's record
  SumNotExpected,       // value: the sum read; other: --expect-sum
  ArchiveNotCarried,    // text: the expected archive's file; value: 1 when the scan found a
                        // first marker, at offset
  SumNotArchives,       // value: the sum read; other: the expected archive's
};

struct Problem {
  Problem(Fault fault, int row = -1, uint64_t offset = 0, uint64_t value = 0, uint64_t other = 0,
          std::string text = {})
      : fault(fault), row(row), offset(offset), value(value), other(other), text(std::move(text)) {}

  Fault fault;
  int row;
  uint64_t offset;
  uint64_t value;
  uint64_t other;
  std::string text;
};

// The exit status of list, extract and build for the fault (verify's is always 1).
int StatusOf(Fault fault);
// The fixed word for scripts, e.g. "truncated".
const char* KindName(Fault fault);
// One line for a person, without the file's name.
std::string Describe(const Problem& problem);

// How the tool writes a row and a sum everywhere: "row 2 (vexa.hlp)", "0x001782ab".
std::string RowName(int row);
std::string HexSum(uint32_t sum);

}  // namespace vexa
