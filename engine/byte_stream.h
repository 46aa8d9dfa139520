// Byte-at-a-time access to the C runtime's buffered streams, through their fast path.
#pragma once

#include <stdio.h>

#if defined(_WIN32)
// getc/putc lock the stream on every call, far too slow for a megabyte; the _nolock
// forms take the next byte straight from the stream's buffer.
static inline int ReadByte(FILE* stream) { return _getc_nolock(stream); }
static inline int WriteByte(int value, FILE* stream) { return _putc_nolock(value, stream); }
#else
static inline int ReadByte(FILE* stream) { return getc_unlocked(stream); }
static inline int WriteByte(int value, FILE* stream) { return putc_unlocked(value, stream); }
#endif
