#include "engine/existing_files.h"

#include "engine/file_system.h"
#include "engine/rollback.h"
#include "engine/wizard_link.h"
#include "resources/texts.h"

static const char SETTINGS_EXTENSION[] = ".ini";

// A settings file by its own name; the folders above it do not count.
static int IsSettingsFile(const char* target) {
  char name[2 * SPLIT_PART_SIZE];
  SplitPath(target);
  CopyText(name, sizeof name, splitBaseName);
  AppendText(name, sizeof name, splitExtension);
  return ContainsText(name, SETTINGS_EXTENSION);
}

int PrepareTarget(const char* target) {
  if (!FsExists(target)) return PREPARE_WRITE;
  FsSetAttributesNone(target);

  if (Run.keepSettingsDecision != SETTINGS_REPLACE && IsSettingsFile(target)) {
    if (Run.keepSettingsDecision == SETTINGS_KEEP) return PREPARE_KEEP;
    if (KeepSettings) {
      Run.keepSettingsDecision = SETTINGS_KEEP;
      return PREPARE_KEEP;
    }
    Run.keepSettingsDecision = SETTINGS_REPLACE;
  }
  if (!MakeBackups) return PREPARE_WRITE;

  if (Run.backupFolder[0] == '\0') {
    CopyText(Run.backupFolder, FOLDER_TEXT_SIZE, DestinationFolder);
    AppendText(Run.backupFolder, FOLDER_TEXT_SIZE, "\\backup");
    if (!FsExists(Run.backupFolder) && !FsCreateFolder(Run.backupFolder)) {
      Run.backupFolder[0] = '\0';
      ShowErrorBox(TEXT_ERROR_BACKUP_FOLDER, CAPTION_ERROR_6);
      return PREPARE_FAILED;
    }
    AppendText(Run.backupFolder, FOLDER_TEXT_SIZE, "\\");
  }

  SplitPath(target);
  CopyText(workText, WORK_TEXT_SIZE, Run.backupFolder);
  AppendText(workText, WORK_TEXT_SIZE, splitBaseName);
  AppendText(workText, WORK_TEXT_SIZE, splitExtension);
  FsSetAttributesNone(workText);
  DeleteTwice(workText);
  if (!FsMove(target, workText)) {
    ShowErrorBox(TEXT_ERROR_BACKUP_MOVE, CAPTION_ERROR_7);
    return PREPARE_FAILED;
  }
  Run.movedRow[Run.segmentIndex] = 1;
  return PREPARE_WRITE;
}

void ClearHelpCache(const char* target, int row) {
  SplitPath(target);
  // A cut directory would name another folder's cache.
  if (splitTruncated) return;
  CopyText(workText, WORK_TEXT_SIZE, splitDrive);
  AppendText(workText, WORK_TEXT_SIZE, splitDirectory);
  AppendText(workText, WORK_TEXT_SIZE, row == ROW_HELP ? "vexa.gid" : "primer.gid");
  if (FsClearReadOnly(workText)) FsDelete(workText);
}
