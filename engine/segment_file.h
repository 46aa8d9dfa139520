// One finished segment, from the temporary file into its target file.
#pragma once

// Decodes the finished temporary file into the target; 1 on success. On failure the run
// has been rolled back and the user told ([3], [4] or [5]).
int DecodeSegmentFile(const char* tempFile, const char* targetFile);
