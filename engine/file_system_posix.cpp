// The file-system layer on POSIX, behaving as the Win32 calls do, so that whole runs are
// tested natively: Windows paths map below a root folder ("c:\a\b" is ROOT/c/a/b, names
// lower-cased since Windows ignores case), and read-only is the owner's missing write bit.
#include "engine/file_system_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "engine/file_system.h"
#include "engine/shared.h"

namespace {

std::string root = "/tmp/vexa-root";
std::string carrier;
long failWriteAfter = -1;  // bytes a target may take before writes fail, -1: no limit
bool failWriteOnce = false;
std::string failWritePattern;

bool IsReadOnly(const struct stat& info) { return (info.st_mode & S_IWUSR) == 0; }

// A failing device: writes to a matching target stop after a set number of bytes.
struct LimitedStream {
  FILE* file;
  long left;
  bool once;
};

ssize_t LimitedWrite(void* cookie, const char* data, size_t size) {
  LimitedStream* s = (LimitedStream*)cookie;
  if (s->once && s->left >= 0 && (long)size > s->left) {
    s->left = -1;  // this write is lost; the next ones go through
    errno = EIO;
    return -1;
  }
  if (s->left >= 0 && (long)size > s->left) {
    size_t part = (size_t)s->left;
    if (part > 0) fwrite(data, 1, part, s->file);
    s->left = 0;
    errno = ENOSPC;
    return part > 0 ? (ssize_t)part : -1;
  }
  if (s->left >= 0) s->left -= (long)size;
  return (ssize_t)fwrite(data, 1, size, s->file);
}

int LimitedClose(void* cookie) {
  LimitedStream* s = (LimitedStream*)cookie;
  int result = fclose(s->file);
  delete s;
  return result;
}

}  // namespace

std::string FsHostPath(const char* path) {
  std::string mapped = root + "/";
  const char* rest = path;
  if (rest[0] != '\0' && rest[1] == ':') {
    mapped += (char)(rest[0] | 0x20);
    rest += 2;
  } else {
    mapped += 'c';  // a relative path starts from the current folder, c:\.
  }
  mapped += '/';
  for (; *rest != '\0'; rest++) {
    char c = *rest == '\\' ? '/' : *rest;
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    if (c == '/' && mapped.back() == '/') continue;  // doubled separators count once
    mapped += c;
  }
  if (mapped.back() == '/') mapped.pop_back();
  return mapped;
}

void FsPosixSetRoot(const char* folder) { root = folder; }

void FsPosixFailWrites(const char* nameContains, long afterBytes, bool once) {
  failWritePattern = nameContains == nullptr ? "" : nameContains;
  failWriteAfter = afterBytes;
  failWriteOnce = once;
}

int FsExists(const char* path) {
  struct stat info;
  return stat(FsHostPath(path).c_str(), &info) == 0;
}

int FsSetAttributesNone(const char* path) {
  std::string host = FsHostPath(path);
  struct stat info;
  if (stat(host.c_str(), &info) != 0) return 0;
  return chmod(host.c_str(), info.st_mode | S_IWUSR) == 0;
}

int FsClearReadOnly(const char* path) { return FsSetAttributesNone(path); }

int FsDelete(const char* path) {
  std::string host = FsHostPath(path);
  struct stat info;
  if (lstat(host.c_str(), &info) != 0 || S_ISDIR(info.st_mode) || IsReadOnly(info)) return 0;
  return unlink(host.c_str()) == 0;
}

int FsMove(const char* from, const char* to) {
  std::string source = FsHostPath(from), target = FsHostPath(to);
  // rename would replace an existing target; a hard link fails instead, as MoveFileA does.
  struct stat info;
  if (lstat(source.c_str(), &info) != 0) return 0;
  if (S_ISDIR(info.st_mode)) {
    if (lstat(target.c_str(), &info) == 0) return 0;
    return rename(source.c_str(), target.c_str()) == 0;
  }
  if (link(source.c_str(), target.c_str()) != 0) return 0;
  return unlink(source.c_str()) == 0;
}

int FsCopy(const char* from, const char* to) {
  FILE* in = fopen(FsHostPath(from).c_str(), "rb");
  if (in == nullptr) return 0;
  int fd = open(FsHostPath(to).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    fclose(in);
    return 0;
  }
  FILE* out = fdopen(fd, "wb");
  char buffer[65536];
  size_t n;
  bool ok = out != nullptr;
  while (ok && (n = fread(buffer, 1, sizeof buffer, in)) > 0) ok = fwrite(buffer, 1, n, out) == n;
  ok = ok && !ferror(in);
  fclose(in);
  if (out == nullptr || fclose(out) != 0) ok = false;
  if (!ok) unlink(FsHostPath(to).c_str());
  return ok ? 1 : 0;
}

int FsCreateFolder(const char* path) { return mkdir(FsHostPath(path).c_str(), 0755) == 0; }

int FsRemoveFolder(const char* path) { return rmdir(FsHostPath(path).c_str()) == 0; }

unsigned FsTempFolder(char* buffer, unsigned size) {
  // As GetTempPathA: TMP, then TEMP; here with no further fallback.
  const char* folder = getenv("TMP");
  if (folder == nullptr || folder[0] == '\0') folder = getenv("TEMP");
  if (folder == nullptr || folder[0] == '\0') return 0;
  std::string text = folder;
  if (text.back() != '\\') text += '\\';
  if (text.size() + 1 > size) return (unsigned)text.size() + 1;
  memcpy(buffer, text.c_str(), text.size() + 1);
  return (unsigned)text.size();
}

unsigned FsOwnPath(char* buffer, unsigned size) {
  if (size == 0 || carrier.empty()) return 0;
  CopyText(buffer, (int)size, carrier.c_str());
  return (unsigned)TextLength(buffer);
}

void FsUseCarrier(const char* path) { carrier = path; }

FILE* FsOpen(const char* path, const char* mode) {
  std::string host = FsHostPath(path);
  struct stat info;
  bool writing = strchr(mode, 'w') != nullptr;
  if (stat(host.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return nullptr;
    if (writing && IsReadOnly(info)) return nullptr;
  }
  FILE* file = fopen(host.c_str(), mode);
  if (file == nullptr || !writing || failWriteAfter < 0) return file;
  if (failWritePattern.empty() || host.find(failWritePattern) == std::string::npos) return file;
  static const cookie_io_functions_t limited = {nullptr, LimitedWrite, nullptr, LimitedClose};
  FILE* stream = fopencookie(new LimitedStream{file, failWriteAfter, failWriteOnce}, mode, limited);
  if (stream == nullptr) {
    fclose(file);
  } else {
    // Small writes, so that a lost one leaves a hole inside a segment, not a whole segment.
    setvbuf(stream, nullptr, _IOFBF, 64);
  }
  return stream;
}
