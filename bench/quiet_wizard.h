// The wizard link for benchmarks: nothing is shown or painted, but the install bar's fill
// is kept as the real dialog keeps it, and each row's decode is clocked from the file
// bar's first use to its erasing, so a step's time can be split into decoding and the rest.
#pragma once

#include <chrono>
#include <string>

#include "engine/archive_format.h"

struct QuietWizard {
  using Clock = std::chrono::steady_clock;
  Clock::time_point decodeStart[SEGMENT_COUNT];
  Clock::time_point decodeEnd[SEGMENT_COUNT];
  int fileBarDraws[SEGMENT_COUNT] = {};
  int errorBoxes = 0;
  std::string lastCaption;  // of the last error box, to name a failed run
};

extern QuietWizard Quiet;

void ResetQuietWizard();
