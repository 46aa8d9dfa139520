#include "engine/rollback.h"

#include "engine/file_system.h"

InstallRun Run;

void TargetPath(char* output, int row) {
  output[0] = '\0';
  if (row < 0 || row >= SEGMENT_COUNT) return;
  CopyText(output, FOLDER_TEXT_SIZE, DestinationFolder);
  AppendText(output, FOLDER_TEXT_SIZE, "\\");
  AppendText(output, FOLDER_TEXT_SIZE, TargetFileTable[row]);
}

int DeleteTwice(const char* path) {
  if (FsDelete(path)) return 1;
  return FsDelete(path);
}

static void RemoveFolderTwice(const char* path) {
  if (!FsRemoveFolder(path)) FsRemoveFolder(path);
}

void DeleteTempFile(void) {
  if (!Run.tempCreated) return;
  DeleteTwice(Run.tempPath);
  Run.tempCreated = 0;
}

void CloseStream(FILE** stream) {
  if (*stream != NULL) {
    fclose(*stream);
    *stream = NULL;
  }
}

// Puts an earlier file that this run moved into the backup folder back in its place,
// leaving the copy in the backup folder. A folder that stood in a target's place cannot be
// copied; it is moved back instead, so it is never left only inside the backup folder.
static void RestoreFromBackup(int row) {
  char backupPath[FOLDER_TEXT_SIZE];
  CopyText(backupPath, sizeof backupPath, Run.backupFolder);
  if (!AppendText(backupPath, sizeof backupPath, TargetFileTable[row])) return;
  TargetPath(workText, row);
  if (!FsCopy(backupPath, workText)) FsMove(backupPath, workText);
}

void AbandonRun(void) {
  CloseStream(&Run.tempStream);
  CloseStream(&Run.carrierStream);
  DeleteTempFile();
  for (int row = SEGMENT_COUNT - 1; row >= 0; row--) {
    TargetPath(workText, row);
    if (Run.wroteRow[row]) DeleteTwice(workText);
    if (Run.movedRow[row]) RestoreFromBackup(row);
    Run.wroteRow[row] = Run.movedRow[row] = 0;
  }
  Run.segmentIndex = 0;
  if (Run.createdDestination) {
    RemoveFolderTwice(DestinationFolder);
    Run.createdDestination = 0;
  }
}
