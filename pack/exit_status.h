// The exit statuses of vexa-pack, as its help and the README state them. The core reports
// them in its findings, so it needs this and nothing else of the command line.
#pragma once

namespace vexa {

enum ExitStatus {
  EXIT_OK = 0,
  EXIT_FAILURE_ = 1,  // a file could not be read or written, or a check of verify failed
  EXIT_USAGE = 2,
  // list, extract and build tell their failed checks apart; a heavier fault wins.
  STATUS_NOT_CARRIER = 3,  // neither an installer nor an archive
  STATUS_DAMAGED = 4,      // cut short, a segment that does not decode, misplaced markers
  STATUS_SUM = 5,          // the sum is not the expected one, or none is known
  STATUS_IN_THE_WAY = 6,   // extract: a file in DIR is in the way
  STATUS_NOT_STUB = 7,     // build: the stub cannot take an archive
};

}  // namespace vexa
