// Existing target files: kept settings, backups, and the help systems' stale caches.
#pragma once

enum {
  PREPARE_WRITE = 1,   // the path may be written
  PREPARE_FAILED = 2,  // a backup step failed; the user has been told
  PREPARE_KEEP = 3,    // the existing file stays; the segment is skipped
};

enum {
  SETTINGS_UNDECIDED = 0,
  SETTINGS_KEEP = 1,
  SETTINGS_REPLACE = 2,
};

int PrepareTarget(const char* target);
void ClearHelpCache(const char* target, int row);

// Room for "\backup\" and the longest target name after the destination folder.
enum { BACKUP_PATH_EXTRA = 8 + 12 };
