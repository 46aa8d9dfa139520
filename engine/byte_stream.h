// Byte-at-a-time access to the C runtime's buffered streams, through their fast path.
#pragma once

#include <stdio.h>

#if defined(_WIN32) && !defined(_UCRT)
// msvcrt's getc/putc are functions that lock the stream on every call, far too slow for a
// megabyte; its stream buffer fields are public, so the classic buffer macros are used.
extern "C" int __cdecl _filbuf(FILE*);
extern "C" int __cdecl _flsbuf(int, FILE*);
static inline int ReadByte(FILE* stream) {
  return --stream->_cnt >= 0 ? (unsigned char)*stream->_ptr++ : _filbuf(stream);
}
static inline int WriteByte(int value, FILE* stream) {
  return --stream->_cnt >= 0 ? (unsigned char)(*stream->_ptr++ = (char)value)
                             : _flsbuf((unsigned char)value, stream);
}
#elif defined(_WIN32)
static inline int ReadByte(FILE* stream) { return _getc_nolock(stream); }
static inline int WriteByte(int value, FILE* stream) { return _putc_nolock(value, stream); }
#else
static inline int ReadByte(FILE* stream) { return getc_unlocked(stream); }
static inline int WriteByte(int value, FILE* stream) { return putc_unlocked(value, stream); }
#endif
