// Start-up, the hidden main window, shut-down and the closing actions.
#include <windows.h>

#include <shellapi.h>

#include "desktop/program_group.h"
#include "engine/install_run.h"
#include "resources/resource.h"
#include "resources/texts.h"
#include "ui/installer.h"
#include "ui/ui_logic.h"

// Read from the tagged record at start-up, so the record's bytes are the sum that counts:
// vexa-pack build fills them in when it writes the archive into the stub.
static const volatile ArchiveSumRecord SumRecord = {ARCHIVE_SUM_PLACEHOLDER_TAG, 0};
uint32_t ExpectedArchiveSum;

HINSTANCE AppInstance;
HWND MainWindow;
int NewShell;
DWORD DdeInstance;

typedef BOOL(WINAPI* Ctl3dCall)(HINSTANCE);
static HMODULE Ctl3dModule;
static Ctl3dCall Ctl3dRegister, Ctl3dUnregister, Ctl3dAutoSubclass;

extern "C" __declspec(dllexport) LRESULT CALLBACK
    MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_TIMER:
      KillTimer(window, ID_STEP_TIMER);
      PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case MSG_SHOW_WIZARD:
      if (DialogBoxParamA(AppInstance, "INSTALL_DLG", MainWindow, InstallDlgProc, 0) == -1) {
        MessageBoxA(NULL, TEXT_NO_DIALOG, CAPTION_SYSTEM_ERROR, MB_SYSTEMMODAL | MB_ICONERROR);
      }
      // The wizard has ended: close 50 ms from now, which ends the message loop.
      SetTimer(window, ID_STEP_TIMER, 50, NULL);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// Where the system offers it, the libraries that system libraries pull in come from the
// system folder too, never from the installer's own folder. Looked up at run time, so the
// oldest versions, which lack it, still start.
static void RestrictLibrarySearch(void) {
  typedef BOOL(WINAPI * SetDirectories)(DWORD);
  const DWORD SEARCH_SYSTEM32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  SetDirectories set = (SetDirectories)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                             "SetDefaultDllDirectories");
  if (set != NULL) set(SEARCH_SYSTEM32);
}

// Loads the optional 3D-controls library of older shells; runs without it if it is absent
// or incomplete. By its full path in the system folder: by its bare name Windows looks in
// the installer's own folder first, so a file of that name saved beside the installer (a
// downloads folder) would run inside it.
static void LoadCtl3d(void) {
  SetErrorMode(SEM_NOOPENFILEERRORBOX);
  enum { SYSTEM_PATH_SIZE = MAX_PATH + 16 };  // the system folder, then "\\Ctl3d32.dll"
  char path[SYSTEM_PATH_SIZE];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  AppendText(path, sizeof path, "\\Ctl3d32.dll");
  Ctl3dModule = LoadLibraryA(path);
  if (Ctl3dModule == NULL) return;
  Ctl3dRegister = (Ctl3dCall)(void*)GetProcAddress(Ctl3dModule, "Ctl3dRegister");
  Ctl3dUnregister = (Ctl3dCall)(void*)GetProcAddress(Ctl3dModule, "Ctl3dUnregister");
  Ctl3dAutoSubclass = (Ctl3dCall)(void*)GetProcAddress(Ctl3dModule, "Ctl3dAutoSubclass");
  if (Ctl3dRegister == NULL || Ctl3dUnregister == NULL || Ctl3dAutoSubclass == NULL) {
    FreeLibrary(Ctl3dModule);
    Ctl3dModule = NULL;
    return;
  }
  Ctl3dRegister(AppInstance);
  Ctl3dAutoSubclass(AppInstance);
}

// Starts the installed program, then opens its help file, as the finish page asked.
static void RunClosingActions(void) {
  if (LaunchOnExit) {
    CopyText(carrierPath, WORK_TEXT_SIZE, DestinationFolder);
    CopyText(workText, WORK_TEXT_SIZE, DestinationFolder);
    AppendText(workText, WORK_TEXT_SIZE, "\\");
    AppendText(workText, WORK_TEXT_SIZE, TargetFileTable[ROW_PROGRAM]);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    ShellExecuteA(NULL, "open", workText, "", carrierPath, SW_SHOW);
    SetErrorMode(0);
  }
  if (HelpOnExit) {
    CopyText(workText, WORK_TEXT_SIZE, DestinationFolder);
    AppendText(workText, WORK_TEXT_SIZE, "\\");
    AppendText(workText, WORK_TEXT_SIZE, TargetFileTable[ROW_HELP]);
    WinHelpA(NULL, workText, HELP_CONTEXT, 10);
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  ExpectedArchiveSum = SumRecord.sum;
  RestrictLibrarySearch();
  AppInstance = instance;
  WNDCLASSA windowClass = {};
  windowClass.style = CS_BYTEALIGNWINDOW;
  windowClass.lpfnWndProc = MainWndProc;
  windowClass.hInstance = AppInstance;
  windowClass.hIcon = LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_PROGRAM));
  windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(COLOR_APPWORKSPACE + 1);
  windowClass.lpszClassName = TEXT_TITLE;
  if (!RegisterClassA(&windowClass)) return 0;
  MainWindow = CreateWindowExA(0, TEXT_TITLE, TEXT_TITLE, WS_OVERLAPPEDWINDOW, -100, -100, 0, 0,
                               NULL, NULL, AppInstance, NULL);
  if (MainWindow == NULL) return 0;
  ShowWindow(MainWindow, showCommand);
  UpdateWindow(MainWindow);

  NewShell = NewShellFor(GetVersion());
  if (!NewShell) LoadCtl3d();
  DdeInitializeA(&DdeInstance, DdeCallback, 0, 0);
  PostMessageA(MainWindow, MSG_SHOW_WIZARD, 0, 0);

  MSG message;
  while (GetMessageA(&message, NULL, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }

  if (DdeInstance != 0) DdeUninitialize(DdeInstance);
  if (Ctl3dModule != NULL) {
    Ctl3dUnregister(AppInstance);
    FreeLibrary(Ctl3dModule);
  }
  RunClosingActions();
  return 0;
}
