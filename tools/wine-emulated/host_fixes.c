/* The x86-64 half of the preload pair (LD_PRELOAD names both through $LIB). Every host
 * program started from the emulated tree loads it; only wineserver has use for it.
 *
 * qemu places the guest's address space at a host offset (guest_base), so wineserver, which
 * reads and writes a client's memory at the Windows address (ptrace word by word, or
 * /proc/PID/mem), would touch the wrong bytes of an emulated client: ReadProcessMemory of
 * another process fails or returns garbage. qemu reserves the whole 4 GiB guest space up
 * front, guest page 0 included, so the lowest mapping of an emulated process starts at
 * guest_base. wineserver is single-threaded, so one remembered process is enough. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <unistd.h>

static const char EMULATOR[] = "/qemu-i386";

/* guest_base of process pid when qemu-i386 runs it, else 0. */
static long GuestBaseOfProcess(int pid) {
  char path[64], target[128];
  snprintf(path, sizeof path, "/proc/%d/exe", pid);
  ssize_t n = readlink(path, target, sizeof target - 1);
  size_t suffix = sizeof EMULATOR - 1;
  if (n < (ssize_t)suffix || memcmp(target + n - suffix, EMULATOR, suffix) != 0) return 0;
  snprintf(path, sizeof path, "/proc/%d/maps", pid);
  FILE* maps = fopen(path, "re");
  if (!maps) return 0;
  unsigned long lowest = 0;
  if (fscanf(maps, "%lx-", &lowest) != 1) lowest = 0;
  fclose(maps);
  return (long)lowest;
}

static int knownPid = -1;
static long knownBase;

static long GuestBase(int pid, int fresh) {
  if (fresh || pid != knownPid) {
    knownBase = GuestBaseOfProcess(pid);
    knownPid = pid;
  }
  return knownBase;
}

/* The same for a file: the memory of an emulated process, or 0 for any other file. */
static long GuestBaseOfFile(int fd) {
  char link[64], target[128];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return 0;
  target[n] = '\0';
  int pid = 0;
  char rest[8];
  if (sscanf(target, "/proc/%d/%7s", &pid, rest) != 2 || strcmp(rest, "mem") != 0) return 0;
  return GuestBase(pid, 1);
}

typedef long (*PtraceFn)(int, pid_t, void*, void*);

long ptrace(enum __ptrace_request request, ...) {
  static PtraceFn real;
  if (!real) real = (PtraceFn)dlsym(RTLD_NEXT, "ptrace");
  va_list args;
  va_start(args, request);
  pid_t pid = va_arg(args, pid_t);
  char* addr = va_arg(args, char*);
  void* data = va_arg(args, void*);
  va_end(args);
  switch (request) {
    case PTRACE_ATTACH:
    case PTRACE_SEIZE:
      GuestBase(pid, 1);
      break;
    case PTRACE_PEEKTEXT:
    case PTRACE_PEEKDATA:
    case PTRACE_POKETEXT:
    case PTRACE_POKEDATA:
      addr += GuestBase(pid, 0);
      break;
    default:
      break;
  }
  return real(request, pid, addr, data);
}

typedef ssize_t (*PreadFn)(int, void*, size_t, off_t);
typedef ssize_t (*PwriteFn)(int, const void*, size_t, off_t);

ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  static PreadFn real;
  if (!real) real = (PreadFn)dlsym(RTLD_NEXT, "pread64");
  return real(fd, buffer, count, offset + GuestBaseOfFile(fd));
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
  static PwriteFn real;
  if (!real) real = (PwriteFn)dlsym(RTLD_NEXT, "pwrite64");
  return real(fd, buffer, count, offset + GuestBaseOfFile(fd));
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return pread64(fd, buffer, count, offset);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  return pwrite64(fd, buffer, count, offset);
}
