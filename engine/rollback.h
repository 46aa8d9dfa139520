// The installation run's record of what it did, and the rollback that undoes exactly that.
// Below the run and the rooms it calls: they write the record, and any of them may roll back.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "engine/archive_format.h"
#include "engine/shared.h"

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

// Writes the path of row's target file in the destination folder into output.
void TargetPath(char* output, int row);

// Deletes a file, trying once more when the first attempt fails.
int DeleteTwice(const char* path);

// Closes a stream if it is open and forgets it.
void CloseStream(FILE** stream);

// Deletes the temporary file if this run made it; one that another installer holds under
// the same name is not ours to delete.
void DeleteTempFile(void);

// Closes the run's files and undoes what it did: its target files go, earlier files come
// back from the backup folder, a destination folder it created is removed.
void AbandonRun(void);
