// Test controls of the POSIX file-system layer.
#pragma once

#include <string>

// Where Windows paths land: "c:\a" is FOLDER/c/a.
void FsPosixSetRoot(const char* folder);
std::string FsHostPath(const char* path);

// Makes writes to targets whose mapped path contains nameContains fail after afterBytes
// bytes, as a full disk does; a negative count ends the failure. With once, only the write
// that reaches the limit fails and the writes after it succeed again (a flaky device).
void FsPosixFailWrites(const char* nameContains, long afterBytes, bool once = false);
