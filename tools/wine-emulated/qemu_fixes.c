/* Preloaded into every i386 Wine process that runs under qemu-user (hosts that cannot
 * execute 32-bit code). qemu 7.2 differs from a real kernel in three ways that break
 * Wine; each block below undoes one of them. Built with gcc -m32; on the 64-bit side of
 * the same LD_PRELOAD ($LIB) host_fixes.c is loaded instead. */
#define _GNU_SOURCE
#include <asm/ldt.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <ucontext.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

/* A system call without the C library, so the wrappers below never re-enter it. */
long RawSyscall(long number, long a, long b, long c, long d, long e, long f)
    __attribute__((visibility("hidden")));
__asm__(
    ".text\n"
    ".hidden RawSyscall\n"
    ".type RawSyscall, @function\n"
    "RawSyscall:\n"
    "  push %ebp\n  push %ebx\n  push %esi\n  push %edi\n"
    "  movl 20(%esp), %eax\n  movl 24(%esp), %ebx\n  movl 28(%esp), %ecx\n"
    "  movl 32(%esp), %edx\n  movl 36(%esp), %esi\n  movl 40(%esp), %edi\n"
    "  movl 44(%esp), %ebp\n"
    "  int $0x80\n"
    "  pop %edi\n  pop %esi\n  pop %ebx\n  pop %ebp\n"
    "  ret\n");

static long RawSyscall3(long number, long a, long b, long c) {
  return RawSyscall(number, a, b, c, 0, 0, 0);
}

/* The C library's convention: -1 and errno for a kernel error. */
static long WithErrno(long result) {
  if (result < 0 && result > -4096) {
    errno = (int)-result;
    return -1;
  }
  return result;
}

/* ---- 1. MAP_FIXED_NOREPLACE ------------------------------------------------------------
 * qemu does not know the flag; with it set, the address is not even taken as a hint, so
 * every reservation Wine makes of its address space fails and is split down to 64 KiB:
 * about 65,000 calls and a minute per process. Without the flag the address is a hint that
 * qemu takes whenever the range is free, and a hint not taken is what the flag would have
 * refused: the mapping is undone and the caller sees EEXIST, as from a real kernel. */

static void* RawMmap(void* addr, size_t len, int prot, int flags, int fd, off64_t offset) {
  if (offset & 4095) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  return (void*)WithErrno(
      RawSyscall(SYS_mmap2, (long)addr, (long)len, prot, flags, fd, (long)(offset >> 12)));
}

static void* MapNoReplace(void* addr, size_t len, int prot, int flags, int fd, off64_t offset) {
  if (!(flags & MAP_FIXED_NOREPLACE)) return RawMmap(addr, len, prot, flags, fd, offset);
  void* got = RawMmap(addr, len, prot, flags & ~MAP_FIXED_NOREPLACE, fd, offset);
  if (got == MAP_FAILED || got == addr) return got;
  RawSyscall3(SYS_munmap, (long)got, (long)len, 0);
  errno = EEXIST;
  return MAP_FAILED;
}

void* mmap64(void* addr, size_t len, int prot, int flags, int fd, off64_t offset) {
  return MapNoReplace(addr, len, prot, flags, fd, offset);
}

void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset) {
  return MapNoReplace(addr, len, prot, flags, fd, offset);
}

/* ---- 2. One descriptor table for all threads ----------------------------------------------
 * qemu keeps a single GDT for all guest threads, so the C library's per-thread %gs entry
 * holds the base of whichever thread was created last; a thread that reloads %gs (every
 * return from a signal does) then runs on another thread's data. Each thread gets an LDT
 * entry of its own instead. set_thread_area is refused, so Wine takes per-thread LDT
 * entries for %fs too. Our entries sit at the top of the LDT; Wine allocates from the
 * bottom. */

enum { SLOT_FIRST = 7168, SLOT_COUNT = 1024 };
static volatile unsigned char slotUsed[SLOT_COUNT];
static volatile int slotLock;
static unsigned nextSlot;
static pthread_key_t slotKey;

static int TakeSlot(void) {
  while (__sync_lock_test_and_set(&slotLock, 1)) {
  }
  int slot = -1;
  /* Round robin, so a slot freed by a thread that is still ending is reused last. */
  for (unsigned n = 0; n < SLOT_COUNT && slot < 0; n++) {
    unsigned i = (nextSlot + n) % SLOT_COUNT;
    if (!slotUsed[i]) {
      slotUsed[i] = 1;
      slot = (int)i;
      nextSlot = i + 1;
    }
  }
  __sync_lock_release(&slotLock);
  return slot;
}

static void FreeSlot(void* value) {
  int slot = (int)(intptr_t)value - 1;
  if (slot >= 0 && slot < SLOT_COUNT) slotUsed[slot] = 0;
}

/* The C library's own %gs selector: its entry in the GDT. */
static unsigned short gdtSelector;
static volatile int createLock;

static unsigned short CurrentGs(void) {
  unsigned short selector;
  __asm__ volatile("movw %%gs, %0" : "=r"(selector));
  return selector;
}

static void LoadGs(unsigned short selector) { __asm__ volatile("movw %0, %%gs" : : "r"(selector)); }

/* A flat data segment for table entry entryNumber, based on the calling thread's own data
 * (the thread block points to itself at %gs:0). */
static struct user_desc OwnThreadData(unsigned entryNumber) {
  uintptr_t base;
  __asm__ volatile("movl %%gs:0, %0" : "=r"(base));
  struct user_desc entry;
  memset(&entry, 0, sizeof entry);
  entry.entry_number = entryNumber;
  entry.base_addr = (unsigned)base;
  entry.limit = 0xfffff;
  entry.seg_32bit = 1;
  entry.limit_in_pages = 1;
  entry.useable = 1;
  return entry;
}

static void MoveGsToLdt(void) {
  int slot = TakeSlot();
  if (slot < 0) return;
  struct user_desc entry = OwnThreadData((unsigned)(SLOT_FIRST + slot));
  if (RawSyscall3(SYS_modify_ldt, 1, (long)&entry, sizeof entry) != 0) {
    FreeSlot((void*)(intptr_t)(slot + 1));
    return;
  }
  LoadGs((unsigned short)(((SLOT_FIRST + slot) << 3) | 4 | 3));
  pthread_setspecific(slotKey, (void*)(intptr_t)(slot + 1));
}

/* qemu gives a new thread the selector its parent holds and only writes the thread's base
 * into the GDT entry, so the parent creates on the GDT selector with its own base in
 * place; the child moves to an LDT entry of its own as it starts. */
static void LoadGdtSelectorWithOwnBase(void) {
  struct user_desc entry = OwnThreadData(gdtSelector >> 3);
  RawSyscall3(SYS_set_thread_area, (long)&entry, 0, 0);
  LoadGs(gdtSelector);
}

struct ThreadStart {
  void* (*routine)(void*);
  void* argument;
  sigset_t mask;
};

/* The child starts with every signal blocked, so none can reload %gs before it has its
 * own entry; then it takes the mask its creator had. */
static void* StartOnOwnGs(void* raw) {
  struct ThreadStart start = *(struct ThreadStart*)raw;
  free(raw);
  MoveGsToLdt();
  pthread_sigmask(SIG_SETMASK, &start.mask, NULL);
  return start.routine(start.argument);
}

typedef int (*CreateFn)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
static CreateFn realCreate;

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*routine)(void*),
                   void* argument) {
  if (!realCreate) realCreate = (CreateFn)dlsym(RTLD_NEXT, "pthread_create");
  struct ThreadStart* start = malloc(sizeof *start);
  if (!start) return EAGAIN;
  start->routine = routine;
  start->argument = argument;
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &start->mask);
  sigset_t mask = start->mask;
  unsigned short own = CurrentGs();
  int moved = gdtSelector != 0 && own != gdtSelector;
  while (__sync_lock_test_and_set(&createLock, 1)) {
  }
  if (moved) LoadGdtSelectorWithOwnBase();
  int result = realCreate(thread, attr, StartOnOwnGs, start);
  if (moved) LoadGs(own);
  __sync_lock_release(&createLock);
  if (result != 0) free(start);
  pthread_sigmask(SIG_SETMASK, &mask, NULL);
  return result;
}

long syscall(long number, ...) {
  if (number == SYS_set_thread_area) {
    errno = ENOSYS;
    return -1;
  }
  va_list args;
  va_start(args, number);
  long a[6];
  for (int i = 0; i < 6; i++) a[i] = va_arg(args, long);
  va_end(args);
  return WithErrno(RawSyscall(number, a[0], a[1], a[2], a[3], a[4], a[5]));
}

/* ---- 3. The trap number of a fault ---------------------------------------------------------
 * qemu leaves trapno at -1 in the signal context; Wine reads the kind of fault from it and
 * would take a page fault for an illegal instruction. The handlers Wine installs for the
 * fault signals are wrapped so that they see the number a real kernel gives. */

typedef void (*InfoHandler)(int, siginfo_t*, void*);
static InfoHandler wrapped[65];

static int TrapOf(int signal, const siginfo_t* info) {
  switch (signal) {
    case SIGSEGV:
      return info->si_code == SI_KERNEL ? 13 : 14;
    case SIGILL:
      return 6;
    case SIGFPE:
      return info->si_code == FPE_INTDIV ? 0 : info->si_code == FPE_INTOVF ? 4 : 16;
    case SIGTRAP:
      return info->si_code == TRAP_BRKPT ? 3 : 1;
    default:
      return -1;
  }
}

static void FaultTrampoline(int signal, siginfo_t* info, void* context) {
  ucontext_t* uc = (ucontext_t*)context;
  if (uc->uc_mcontext.gregs[REG_TRAPNO] == -1)
    uc->uc_mcontext.gregs[REG_TRAPNO] = TrapOf(signal, info);
  wrapped[signal](signal, info, context);
}

typedef int (*SigactionFn)(int, const struct sigaction*, struct sigaction*);
static SigactionFn realSigaction;

int sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  if (!realSigaction) realSigaction = (SigactionFn)dlsym(RTLD_NEXT, "sigaction");
  int fault = signal == SIGSEGV || signal == SIGILL || signal == SIGFPE || signal == SIGTRAP;
  if (!fault) return realSigaction(signal, action, old);
  InfoHandler previous = wrapped[signal];
  int result;
  if (action && (action->sa_flags & SA_SIGINFO)) {
    struct sigaction mine = *action;
    mine.sa_sigaction = FaultTrampoline;
    wrapped[signal] = action->sa_sigaction;
    result = realSigaction(signal, &mine, old);
    if (result != 0) wrapped[signal] = previous;
  } else {
    result = realSigaction(signal, action, old);
  }
  if (result == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == FaultTrampoline)
    old->sa_sigaction = previous;
  return result;
}

__attribute__((constructor)) static void Start(void) {
  gdtSelector = CurrentGs();
  pthread_key_create(&slotKey, FreeSlot);
  MoveGsToLdt();
}
