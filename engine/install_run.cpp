#include "engine/install_run.h"

#include "engine/byte_stream.h"
#include "engine/existing_files.h"
#include "engine/file_system.h"
#include "engine/segment_file.h"
#include "engine/wizard_link.h"
#include "resources/texts.h"

// The marker is put together at run time from two pieces, so that its four bytes never
// stand together in the program, which the scan reads before it reaches the archive. The
// pieces are read through volatile pointers so the compiler cannot fold them together.
static const char* volatile markerHead = SEGMENT_MARKER_HEAD;
static const char* volatile markerTail = SEGMENT_MARKER_TAIL;

static const char TEMP_FILE_NAME[] = "vexa.tmp";
static const char FALLBACK_TEMP_PATH[] = "c:\\vexa.tmp";

static int StepFinish(void);
static int ExtractSegment(void);

void ResetRun(void) {
  CopyText(Run.segmentMarker, sizeof Run.segmentMarker, markerHead);
  AppendText(Run.segmentMarker, sizeof Run.segmentMarker, markerTail);
  Run.carrierStream = NULL;
  Run.tempStream = NULL;
  Run.tempPath[0] = '\0';
  Run.targetPath[0] = '\0';
  Run.backupFolder[0] = '\0';
  Run.keepSettingsDecision = 0;
  Run.segmentIndex = 0;
  Run.matchLength = 0;
  Run.stepCount = 0;
  Run.archiveSum = 0;
  Run.sumWeight = 1;
  Run.createdDestination = 0;
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    Run.wroteRow[row] = Run.movedRow[row] = 0;
  }
  Run.stepRunning = 0;
  Run.tempCreated = 0;
  AbortPending = 0;
  InstallBarFill = 0;
  CarrierSize = 0;
}

void ShowScanStatus(void) {
  TargetPath(workText, Run.segmentIndex);
  SplitPath(workText);
  if (InstallBarFill > 0) {
    CopyText(workText, WORK_TEXT_SIZE, MSG_SCANNING_FILE);
    AppendText(workText, WORK_TEXT_SIZE, splitBaseName);
    AppendText(workText, WORK_TEXT_SIZE, splitExtension);
  } else {
    CopyText(workText, WORK_TEXT_SIZE, MSG_SCANNING_FILES);
  }
  SetStatusText(workText);
}

int CreateDestination(void) {
  // Every path the run builds from the folder must fit its buffer, and its directory part
  // the split's; a longer folder is refused like one that cannot be created.
  int length = TextLength(DestinationFolder);
  int fits = length + BACKUP_PATH_EXTRA < FOLDER_TEXT_SIZE && length + 1 < SPLIT_PART_SIZE;
  if (fits && FsExists(DestinationFolder)) return RUN_DONE;
  if (!fits || !FsCreateFolder(DestinationFolder)) {
    ShowErrorBox(TEXT_ERROR_FOLDER, CAPTION_ERROR_1);
    return RUN_RETRY_OPTIONS;
  }
  Run.createdDestination = 1;
  return RUN_DONE;
}

int OpenCarrier(void) {
  unsigned length = FsOwnPath(carrierPath, WORK_TEXT_SIZE - 1);
  carrierPath[length < WORK_TEXT_SIZE ? length : WORK_TEXT_SIZE - 1] = '\0';
  Run.carrierStream = length > 0 ? FsOpen(carrierPath, "rb") : NULL;
  if (Run.carrierStream == NULL) {
    ShowErrorBox(TEXT_ERROR_READ_CARRIER, CAPTION_ERROR_9);
    return RUN_FAILED;
  }
  SetStatusText(MSG_SCANNING_FILES);
  DrawInstallBar(NULL, Run.carrierStream);
  return RUN_DONE;
}

int StepWanted(void) { return Run.carrierStream != NULL && !Run.stepRunning; }

// Writes the first count marker bytes, held back while they might begin a marker, into the
// temporary file; 0 when a write failed.
static int WriteHeldBack(int count) {
  for (int k = 0; k < count; k++) {
    if (WriteByte((unsigned char)Run.segmentMarker[k], Run.tempStream) == EOF) return 0;
  }
  return 1;
}

// Closes the finished temporary file; 0 when its last bytes did not reach the disk.
static int CloseTempFile(void) {
  int ok = fclose(Run.tempStream) == 0;
  Run.tempStream = NULL;
  return ok;
}

// A write to the temporary file failed: it no longer holds the segment's bytes (a full
// disk cuts it, a write that fails once leaves a hole), so the run stops here, as when the
// file cannot be opened. The caller's AbandonRun rolls back.
static int TempFileFailed(void) {
  ShowErrorBox(TEXT_ERROR_EXTRACT, CAPTION_ERROR_11);
  CloseStream(&Run.tempStream);
  CloseStream(&Run.carrierStream);
  return RUN_FAILED;
}

// Finds the temporary file's path: the system's temporary folder, or the fallback when
// there is none or its path does not fit.
static void ChooseTempPath(void) {
  unsigned length = FsTempFolder(Run.tempPath, FOLDER_TEXT_SIZE);
  if (length == 0 || length >= FOLDER_TEXT_SIZE ||
      !AppendText(Run.tempPath, FOLDER_TEXT_SIZE, TEMP_FILE_NAME)) {
    CopyText(Run.tempPath, FOLDER_TEXT_SIZE, FALLBACK_TEMP_PATH);
  }
}

// What a completed marker leaves the scan to do, besides the run's own results.
enum { SCAN_GOES_ON = -1, ARCHIVE_COMPLETE = -2 };

// A marker completed: ends the segment being copied, if any, and opens the next one.
// Returns SCAN_GOES_ON, ARCHIVE_COMPLETE, or the failure.
static int MarkerFound(void) {
  if (Run.tempStream != NULL) {
    if (!CloseTempFile()) return TempFileFailed();
    int result = ExtractSegment();
    DeleteTempFile();
    if (result != RUN_DONE) {
      CloseStream(&Run.carrierStream);
      return result;
    }
    if (Run.segmentIndex >= SEGMENT_COUNT) return ARCHIVE_COMPLETE;
  }
  ShowScanStatus();
  ChooseTempPath();
  Run.tempStream = FsOpen(Run.tempPath, "wb");
  Run.tempCreated = Run.tempStream != NULL;
  if (Run.tempStream == NULL) {
    ShowErrorBox(TEXT_ERROR_EXTRACT, CAPTION_ERROR_11);
    CloseStream(&Run.carrierStream);
    return RUN_FAILED;
  }
  Run.matchLength = 0;
  return SCAN_GOES_ON;
}

static int ScanBytes(void) {
  for (;;) {
    int byte = ReadByte(Run.carrierStream);
    if (byte < 0) return StepFinish();
    if (Run.tempStream != NULL) FoldArchiveSum(&Run.archiveSum, &Run.sumWeight, byte);
    int held = Run.matchLength;
    Run.matchLength = MatchMarkerByte(Run.segmentMarker, held, byte);
    if (Run.matchLength == MARKER_LENGTH) {
      int result = MarkerFound();
      if (result == ARCHIVE_COMPLETE) return StepFinish();
      if (result != SCAN_GOES_ON) return result;
    } else if (Run.matchLength == 0 && Run.tempStream != NULL) {
      // A mismatch releases the held-back bytes before the byte itself.
      if (!WriteHeldBack(held) || WriteByte(byte, Run.tempStream) == EOF) return TempFileFailed();
    }
    if (++Run.stepCount > STEP_BUDGET) {
      DrawInstallBar(NULL, Run.carrierStream);
      Run.stepCount = 0;
      return RUN_MORE;
    }
  }
}

int RunStep(void) {
  if (!StepWanted()) return RUN_MORE;
  Run.stepRunning = 1;
  int result = ScanBytes();
  Run.stepRunning = 0;
  return result;
}

// Runs at the end of the file, or once the eleventh segment has been handled.
static int StepFinish(void) {
  DrawInstallBar(NULL, Run.carrierStream);
  CloseStream(&Run.carrierStream);
  if (Run.tempStream != NULL && Run.segmentIndex < SEGMENT_COUNT) {
    // The file ended inside a segment: what was held back belongs to it.
    int written = WriteHeldBack(Run.matchLength);
    if (!CloseTempFile() || !written) return TempFileFailed();
    int result = ExtractSegment();
    DeleteTempFile();
    if (result != RUN_DONE) return result;
  }
  if (Run.archiveSum == ExpectedArchiveSum) {
    // The help caches go only once the run has succeeded: after a rollback the earlier
    // help files are back, and their caches still belong to them. A help file this run
    // wrote has been decoded whole by now.
    for (int row = ROW_HELP; row <= ROW_PRIMER; row++) {
      if (Run.wroteRow[row]) {
        TargetPath(Run.targetPath, row);
        ClearHelpCache(Run.targetPath, row);
      }
    }
    return RUN_DONE;
  }
  AbandonRun();
  ShowErrorBox(TEXT_ERROR_CORRUPT, CAPTION_ERROR_13);
  return RUN_FAILED;
}

// Handles the segment just copied into the temporary file: RUN_DONE, RUN_FAILED, or
// RUN_RETRY_OPTIONS when a backup step failed.
static int ExtractSegment(void) {
  CopyText(workText, WORK_TEXT_SIZE, MSG_EXTRACTING_FILE);
  AppendText(workText, WORK_TEXT_SIZE, TargetFileTable[Run.segmentIndex]);
  SetStatusText(workText);
  TargetPath(Run.targetPath, Run.segmentIndex);

  int prepared = PrepareTarget(Run.targetPath);
  if (prepared == PREPARE_KEEP) {
    Run.segmentIndex++;
    return RUN_DONE;
  }
  if (prepared == PREPARE_FAILED) return RUN_RETRY_OPTIONS;
  if (!DecodeSegmentFile(Run.tempPath, Run.targetPath)) return RUN_FAILED;
  Run.segmentIndex++;
  return RUN_DONE;
}
