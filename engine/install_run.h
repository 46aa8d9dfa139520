// The installation run: scans the carrier file for segments, decodes each into its target
// file, verifies the archive sum, and rolls everything back on failure.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "engine/archive_format.h"
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

struct InstallRun {
  char segmentMarker[MARKER_LENGTH + 1];
  FILE* carrierStream;
  FILE* tempStream;
  char tempPath[FOLDER_TEXT_SIZE];
  char targetPath[FOLDER_TEXT_SIZE];
  char backupFolder[FOLDER_TEXT_SIZE];
  int32_t keepSettingsDecision;
  int32_t segmentIndex;
  int32_t matchLength;
  int32_t currentByte;
  int32_t stepCount;
  uint32_t archiveSum;
  int32_t sumWeight;
  int createdDestination;
  // What this run did to each row, so the rollback undoes exactly that.
  uint8_t wroteRow[SEGMENT_COUNT];  // the target was created or overwritten
  uint8_t movedRow[SEGMENT_COUNT];  // an earlier file was moved into the backup folder
  int stepRunning;                  // a step is inside RunStep (maybe in a message box)
  int tempCreated;                  // tempPath names a file this run created and not deleted
};

extern InstallRun Run;

void ResetRun(void);
void ShowScanStatus(void);
int CreateDestination(void);
int OpenCarrier(void);
int RunStep(void);
int ExtractSegment(const char* tempFile);
void AbandonRun(void);
void TargetPath(char* output, int row);

// A step message should run a step: a run is open and no step is running.
int StepWanted(void);

// Decodes the finished temporary file into the target; 1 on success. On failure the run
// has been rolled back and the user told ([3], [4] or [5]).
int DecodeSegmentFile(const char* tempFile, const char* targetFile);

// Deletes a file, trying once more when the first attempt fails.
int DeleteTwice(const char* path);
