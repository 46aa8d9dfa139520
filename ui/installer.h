// The installer program's window-side state and procedures, shared by its parts.
#pragma once

#include <windows.h>

enum {
  MSG_SHOW_WIZARD = WM_USER + 100,   // 1124: the main window opens the wizard
  ID_STEP_TIMER = 1125,              // the main window's close timer and the wizard's step timer
  MSG_INSTALL_STEP = WM_USER + 102,  // 1126: one step of the installation run
};

enum {
  PAGE_WELCOME = 0,
  PAGE_LICENCE = 1,
  PAGE_OPTIONS = 2,
  PAGE_PROGRESS = 3,
  PAGE_FINISH = 4,
};

// Start-up and main window.
extern HINSTANCE AppInstance;
extern HWND MainWindow;
extern int NewShell;
extern DWORD DdeInstance;
extern "C" __declspec(dllexport) LRESULT CALLBACK
    MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The wizard dialog.
extern HWND WizardDialog;
extern int WizardPage;
INT_PTR CALLBACK InstallDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The folder selection.
void InitDefaultFolder(HWND dialog);
void ChooseDestination(HWND dialog);
int BrowseForFolder(HWND owner);
extern "C" __declspec(dllexport) UINT_PTR CALLBACK
    FileHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
