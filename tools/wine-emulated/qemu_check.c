/* qemu_check: the three ways qemu-user 7.2 differs from a real kernel that the preloaded
 * fixes undo, each checked the way Wine meets it. Built for i386 and run under qemu-i386,
 * with and without the fixes; prints one line per check and exits 1 if any failed. */
#define _GNU_SOURCE
#include <errno.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

/* ---- 1. A reservation at a free address lands there; over a mapping it fails. */
static const char* CheckNoReplace(void) {
  const int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
  char* free_ = mmap(NULL, 1 << 20, PROT_NONE, flags, -1, 0);
  if (free_ == MAP_FAILED) return "no address space to test with";
  munmap(free_, 1 << 20);
  char* got = mmap(free_, 1 << 20, PROT_NONE, flags | MAP_FIXED_NOREPLACE, -1, 0);
  if (got != free_) return "a free range was not mapped where it was asked for";
  char* again = mmap(free_ + 4096, 65536, PROT_NONE, flags | MAP_FIXED_NOREPLACE, -1, 0);
  int error = errno;
  munmap(got, 1 << 20);
  if (again != MAP_FAILED) {
    munmap(again, 65536);
    return "a range over an existing mapping was mapped elsewhere instead of refused";
  }
  return error == EEXIST ? NULL : "a refused range did not report EEXIST";
}

/* ---- 2. Threads keep their own thread data through signals. */
enum { THREADS = 8, ROUNDS = 20000 };
static __thread int ownIndex = -1;
static volatile int foreign;

static void Ignore(int signal) { (void)signal; }

static void* Worker(void* argument) {
  int index = (int)(long)argument;
  ownIndex = index;
  pthread_t self = pthread_self();
  for (int round = 0; round < ROUNDS && !foreign; round++) {
    if (ownIndex != index || !pthread_equal(self, pthread_self())) foreign = 1;
    if (round % 64 == 0) sched_yield();
  }
  return NULL;
}

static const char* CheckThreadData(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = Ignore;
  sigaction(SIGUSR1, &action, NULL);
  pthread_t threads[THREADS];
  for (int i = 0; i < THREADS; i++) pthread_create(&threads[i], NULL, Worker, (void*)(long)i);
  /* Every return from a signal reloads the segment registers. */
  for (int n = 0; n < 2000 && !foreign; n++) {
    for (int i = 0; i < THREADS; i++) pthread_kill(threads[i], SIGUSR1);
    usleep(100);
  }
  for (int i = 0; i < THREADS; i++) pthread_join(threads[i], NULL);
  return foreign ? "a thread read another thread's data after a signal" : NULL;
}

/* ---- 3. A page fault's signal context says trap 14, as Wine expects. */
static sigjmp_buf recover;
static volatile int trap = -2;

static void OnFault(int signal, siginfo_t* info, void* context) {
  (void)signal;
  (void)info;
  trap = ((ucontext_t*)context)->uc_mcontext.gregs[REG_TRAPNO];
  siglongjmp(recover, 1);
}

static const char* CheckTrapNumber(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO;
  sigaction(SIGSEGV, &action, NULL);
  if (sigsetjmp(recover, 1) == 0) {
    volatile int* nothing = NULL;
    (void)*nothing;
  }
  static char why[64];
  if (trap == 14) return NULL;
  snprintf(why, sizeof why, "a page fault arrived as trap %d", trap);
  return why;
}

int main(void) {
  const struct {
    const char* name;
    const char* (*check)(void);
  } checks[] = {
      {"MAP_FIXED_NOREPLACE", CheckNoReplace},
      {"per-thread %gs", CheckThreadData},
      {"trap number", CheckTrapNumber},
  };
  int failed = 0;
  for (size_t i = 0; i < sizeof checks / sizeof checks[0]; i++) {
    const char* why = checks[i].check();
    printf("%-20s %s%s\n", checks[i].name, why ? "FAILED: " : "ok", why ? why : "");
    failed |= why != NULL;
  }
  return failed;
}
