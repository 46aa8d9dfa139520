// The engine's narrow layer to the file system, with the semantics of the Win32 calls it
// stands for: paths are Windows paths ("c:\vexa\vexa32.exe"), read-only files cannot be
// deleted or opened for writing, a move fails when its target exists. All return 1 for
// success and 0 for failure unless said otherwise.
#pragma once

#include <stdio.h>

int FsExists(const char* path);             // a file or a folder
int FsSetAttributesNone(const char* path);  // clears read-only, hidden and system
int FsClearReadOnly(const char* path);      // fails when nothing exists there
int FsDelete(const char* path);             // files only; fails on a read-only file
int FsMove(const char* from, const char* to);
int FsCopy(const char* from, const char* to);  // fails when the target exists
int FsCreateFolder(const char* path);          // one level: the parent must exist
int FsRemoveFolder(const char* path);          // empty folders only

// The system's temporary folder with a trailing backslash, as GetTempPathA: the length
// written, 0 when there is none, or the size needed when the buffer is too small.
unsigned FsTempFolder(char* buffer, unsigned size);

// The program's own file, as GetModuleFileNameA: the length written, 0 on failure; the
// text is cut at size - 1 characters.
unsigned FsOwnPath(char* buffer, unsigned size);

// Opens a byte stream ("rb" or "wb") that no other process may write while it is open;
// null on failure.
FILE* FsOpen(const char* path, const char* mode);

// Tests run the engine over carriers that are not the test program itself.
void FsUseCarrier(const char* path);
