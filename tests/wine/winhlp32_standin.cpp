// Stands in for the help viewer in the Wine tests: it takes the request that WinHelpA
// sends to the window class "MS_WINHELP" and writes what it was asked, and which programs
// were running then, into winhlp32.log next to itself; then it exits, so the program that
// asked never waits on a box.
#include <windows.h>

#include <stdio.h>
#include <string.h>
// Needs the types of windows.h.
#include <tlhelp32.h>

namespace {

const UINT_PTR GIVE_UP_TIMER = 1;
const UINT GIVE_UP_MS = 60000;  // nobody asked: do not linger in the prefix

char logPath[MAX_PATH];
char tempPath[MAX_PATH];

WORD Word(const BYTE* p) { return (WORD)(p[0] | (p[1] << 8)); }
LONG Long(const BYTE* p) { return (LONG)(p[0] | (p[1] << 8) | (p[2] << 16) | ((DWORD)p[3] << 24)); }

// The request: size, command, data, reserved, offset of the file name, offset of extra data.
void Record(const COPYDATASTRUCT* copy) {
  const BYTE* block = (const BYTE*)copy->lpData;
  DWORD size = copy->cbData;
  FILE* out = fopen(tempPath, "wb");
  if (out == NULL) return;
  fprintf(out, "copydata 0x%lx\n", (unsigned long)copy->dwData);
  if (block != NULL && size >= 16) {
    fprintf(out, "command %u\n", Word(block + 2));
    fprintf(out, "data %ld\n", (long)Long(block + 4));
    WORD pathOffset = Word(block + 12);
    if (pathOffset != 0 && pathOffset < size) {
      fprintf(out, "path %.*s\n", (int)strnlen((const char*)block + pathOffset, size - pathOffset),
              (const char*)block + pathOffset);
    }
  }
  // Which programs were already running when the request came.
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
      fprintf(out, "process %s\n", entry.szExeFile);
    }
    CloseHandle(snapshot);
  }
  fclose(out);
  // Appears whole or not at all for whoever watches the folder.
  MoveFileExA(tempPath, logPath, MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK StandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COPYDATA:
      Record((const COPYDATASTRUCT*)lParam);
      PostMessageA(window, WM_CLOSE, 0, 0);
      return TRUE;
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  char ownPath[MAX_PATH] = "";
  GetModuleFileNameA(NULL, ownPath, MAX_PATH - 1);
  char* slash = strrchr(ownPath, '\\');
  if (slash == NULL) return 1;
  slash[1] = '\0';
  snprintf(logPath, sizeof logPath, "%swinhlp32.log", ownPath);
  snprintf(tempPath, sizeof tempPath, "%s.part", logPath);

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = StandInProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "MS_WINHELP";
  if (!RegisterClassA(&windowClass)) return 1;
  HWND window = CreateWindowExA(0, "MS_WINHELP", "Help stand-in", WS_OVERLAPPED, 0, 0, 10, 10, NULL,
                                NULL, instance, NULL);
  if (window == NULL) return 1;
  SetTimer(window, GIVE_UP_TIMER, GIVE_UP_MS, NULL);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
