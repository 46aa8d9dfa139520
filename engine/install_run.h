// The installation run: scans the carrier file for segments, decodes each into its target
// file, verifies the archive sum, and rolls everything back on failure.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "engine/archive_format.h"
#include "engine/rollback.h"
#include "engine/shared.h"

enum {
  RUN_FAILED = 0,         // stopped; the user has been told; the wizard ends
  RUN_DONE = 1,           // all segments handled and the sum verified; or a start succeeded
  RUN_RETRY_OPTIONS = 2,  // a folder problem; back to the options page
  RUN_MORE = 3,           // the step budget is used up and more remains
};

enum {
  STEP_BUDGET = 10000,  // a step ends when its byte count exceeds this: 10,001 bytes
};

// The archive sum this program's carrier must have; set by the program from the header
// that the archive writer produced.
extern uint32_t ExpectedArchiveSum;

void ResetRun(void);
void ShowScanStatus(void);
int CreateDestination(void);
int OpenCarrier(void);
int RunStep(void);

// A step message should run a step: a run is open and no step is running.
int StepWanted(void);
