// The program's entry point, in place of the C runtime's start-up code: the installer reads
// no arguments, has no static constructors, starts no threads of its own and does no
// floating point, and msvcrt.dll sets itself up when it is loaded. Leaving that code out
// keeps the carrier small.
#include <windows.h>

#include <stdlib.h>

// Windows enters with the stack aligned to 4 bytes only.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup(void) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  // exit, not ExitProcess: the runtime flushes and closes what is still open.
  exit(WinMain(GetModuleHandleA(NULL), NULL, GetCommandLineA(), show));
}
