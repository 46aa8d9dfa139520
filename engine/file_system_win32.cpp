#include <windows.h>

#include <share.h>

#include "engine/file_system.h"
#include "engine/shared.h"

static char carrierOverride[MAX_PATH];

int FsExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

int FsSetAttributesNone(const char* path) { return SetFileAttributesA(path, 0) != 0; }

int FsClearReadOnly(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return SetFileAttributesA(path, attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY) != 0;
}

int FsDelete(const char* path) { return DeleteFileA(path) != 0; }

int FsMove(const char* from, const char* to) { return MoveFileA(from, to) != 0; }

int FsCopy(const char* from, const char* to) { return CopyFileA(from, to, TRUE) != 0; }

int FsCreateFolder(const char* path) { return CreateDirectoryA(path, NULL) != 0; }

int FsRemoveFolder(const char* path) { return RemoveDirectoryA(path) != 0; }

unsigned FsTempFolder(char* buffer, unsigned size) { return GetTempPathA(size, buffer); }

unsigned FsOwnPath(char* buffer, unsigned size) {
  if (carrierOverride[0] != '\0') {
    CopyText(buffer, (int)size, carrierOverride);
    return (unsigned)TextLength(buffer);
  }
  return GetModuleFileNameA(NULL, buffer, size);
}

// No other process may write a file while the run has it open: a second installer started
// at the same time fails to open the temporary file instead of writing into this one's.
FILE* FsOpen(const char* path, const char* mode) { return _fsopen(path, mode, _SH_DENYWR); }

void FsUseCarrier(const char* path) { CopyText(carrierOverride, sizeof carrierOverride, path); }
