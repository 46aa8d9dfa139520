// The payload archive: segment order, marker matching and the weighted archive sum,
// shared by the installer's scan and the release tool's verifier so both read alike.
//
// The carrier, from its first byte to its last:
//
//   PE headers and the stub's sections (code, data with the sum record, imports)
//   resource section ...  RCDATA 3, the licence
//                         RCDATA 4, the archive:
//                           "ARNI"                              opening marker
//                           size (4 bytes, LE) | bit stream     segment body, row 0
//                           "ARNI"
//                           ... eleven bodies, each followed by the marker; the
//                           eleventh marker is the closing one
//                           "ARNI" CR LF                        tail, never read
//                         the other resources
//   base relocations
//   certificate table, when signed
//
// The scan reads from the first byte, so nothing before RCDATA 4 may hold the marker.
#pragma once

#include <stdint.h>

enum {
  SEGMENT_COUNT = 11,
  MARKER_LENGTH = 4,
};

// The segment marker, spelled once. The installer never holds it whole: it joins the two
// pieces at run time, so that the scan cannot find the marker in the program itself.
#define SEGMENT_MARKER_HEAD "A"
#define SEGMENT_MARKER_TAIL "RNI"
#define SEGMENT_MARKER SEGMENT_MARKER_HEAD SEGMENT_MARKER_TAIL

// The installer keeps the archive sum it expects in this record, behind a tag that tools
// look for in a finished carrier. The stub is built with the placeholder tag and no
// archive; vexa-pack build writes the tag and the sum when it adds the archive. Neither
// tag holds marker bytes or ends in the marker's first bytes, so the record can never
// start or hide a marker.
enum { SUM_TAG_LENGTH = 8 };
#define ARCHIVE_SUM_TAG \
  { 'V', 'x', 'S', 'u', 'm', 'R', 'e', 'c' }
#define ARCHIVE_SUM_PLACEHOLDER_TAG \
  { 'V', 'x', 'S', 'u', 'm', 'P', 'n', 'd' }
struct ArchiveSumRecord {
  char tag[SUM_TAG_LENGTH];
  uint32_t sum;
};

// The rows by name, and the target file names in segment order: row r of the archive is
// written to TargetFileTable[r].
enum TargetRow {
#define TARGET_FILE(row, name) row,
#include "engine/target_files.def"
#undef TARGET_FILE
};
static_assert(ROW_LINKS + 1 == SEGMENT_COUNT, "one target file per segment");
extern const char* const TargetFileTable[SEGMENT_COUNT];

// Feeds one byte to the marker matcher and returns the new match length; MARKER_LENGTH
// means a marker just completed. A mismatching byte is not compared again with the
// marker's first byte, so a marker that starts inside a partial match is missed.
static inline int MatchMarkerByte(const char* marker, int matchLength, int byte) {
  if (byte == (unsigned char)marker[matchLength]) return matchLength + 1;
  return 0;
}

// Folds one counted byte into the archive sum; the weights run 1, 2, 3, -4 and wrap.
static inline void FoldArchiveSum(uint32_t* sum, int32_t* sumWeight, int byte) {
  if (*sumWeight < 4) {
    *sum += (uint32_t)byte * (uint32_t)*sumWeight;
    *sumWeight += 1;
  } else {
    *sum -= (uint32_t)byte * 4u;
    *sumWeight = 1;
  }
}
