// Stands in for the 3D-controls library in the acceptance tests: every load, call and
// release goes as one line into ctl3d32.log next to the library. Built twice: complete,
// and without Ctl3dAutoSubclass (WITHOUT_AUTOSUBCLASS), as an incomplete library would be.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

const char WIZARD_TITLE[] = "Vexa v5.61 32bit Installation";

char logPath[MAX_PATH];

void Log(const char* line) {
  HANDLE file = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
  WriteFile(file, "\n", 1, &written, NULL);
  CloseHandle(file);
}

// Which instance was handed over, and whether the wizard was on screen at the time.
BOOL Called(const char* name, HINSTANCE given) {
  char line[160];
  HWND wizard = FindWindowA("#32770", WIZARD_TITLE);
  snprintf(line, sizeof line, "%s instance=%s wizard=%d", name,
           given == GetModuleHandleA(NULL) ? "program" : "other", wizard != NULL ? 1 : 0);
  Log(line);
  return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DWORD length = GetModuleFileNameA(self, logPath, MAX_PATH);
    char* slash = length > 0 && length < MAX_PATH ? strrchr(logPath, '\\') : NULL;
    if (slash == NULL) return FALSE;
    static const char kLogName[] = "ctl3d32.log";
    if ((size_t)(logPath + MAX_PATH - (slash + 1)) < sizeof kLogName) return FALSE;
    memcpy(slash + 1, kLogName, sizeof kLogName);
    Log("load");
  } else if (reason == DLL_PROCESS_DETACH) {
    // FreeLibrary passes no reserved pointer; the end of the process does.
    Log(reserved == NULL ? "free" : "process-exit");
  }
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI Ctl3dRegister(HINSTANCE instance) {
  return Called("Ctl3dRegister", instance);
}

extern "C" __declspec(dllexport) BOOL WINAPI Ctl3dUnregister(HINSTANCE instance) {
  return Called("Ctl3dUnregister", instance);
}

#ifndef WITHOUT_AUTOSUBCLASS
extern "C" __declspec(dllexport) BOOL WINAPI Ctl3dAutoSubclass(HINSTANCE instance) {
  return Called("Ctl3dAutoSubclass", instance);
}
#endif
