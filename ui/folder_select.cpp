// The destination folder: its default, and the old-style folder dialog behind Browse.
#include <windows.h>

#include <commdlg.h>
#include <direct.h>

#include "engine/shared.h"
#include "resources/resource.h"
#include "resources/texts.h"
#include "ui/installer.h"
#include "ui/ui_logic.h"
#include "ui/window_geometry.h"

static int FirstBrowse = 1;

void InitDefaultFolder(HWND dialog) {
  char ownPath[WORK_TEXT_SIZE];
  GetModuleFileNameA(AppInstance, ownPath, WORK_TEXT_SIZE - 1);
  ownPath[WORK_TEXT_SIZE - 1] = '\0';
  char root[4];
  CopyText(root, sizeof root, ownPath);
  LowerCase(root);
  int fixed = GetDriveTypeA(root) == DRIVE_FIXED;
  char windowsFolder[MAX_PATH + 1];
  int known = !fixed && GetWindowsDirectoryA(windowsFolder, sizeof windowsFolder) != 0;
  int drive = DefaultFolder(workText, WORK_TEXT_SIZE, ownPath, fixed, known ? windowsFolder : NULL);
  if (drive >= 0) _chdrive(drive + 1);
  SetDlgItemTextA(dialog, IDC_DESTINATION, workText);
}

void ChooseDestination(HWND dialog) {
  GetDlgItemTextA(dialog, IDC_DESTINATION, DestinationFolder, FOLDER_TEXT_SIZE);
  LowerCase(DestinationFolder);
  if (BrowseForFolder(dialog)) {
    LowerCase(DestinationFolder);
    SetDlgItemTextA(dialog, IDC_DESTINATION, DestinationFolder);
  }
}

int BrowseForFolder(HWND owner) {
  OPENFILENAMEA request = {};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.hwndOwner = owner;
  request.hInstance = AppInstance;
  request.lpstrTitle = TEXT_SELECT_FOLDER;
  request.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATE;
  request.lpfnHook = FileHook;
  request.lpTemplateName = MAKEINTRESOURCEA(IDD_FOLDER);
  request.lpstrInitialDir = DestinationFolder;
  // The first browse of a process starts at the root of the destination's drive.
  if (FirstBrowse) {
    enum { DRIVE_ROOT_LENGTH = 3 };  // "c:\"
    DestinationFolder[DRIVE_ROOT_LENGTH] = '\0';
    FirstBrowse = 0;
  }
  return GetOpenFileNameA(&request) ? 1 : 0;
}

// Rewrites the folder field from the folder the dialog shows (the platform dialog writes
// it into stc1), completed with "vexa".
static void FillFolderEdit(HWND dialog) {
  GetDlgItemTextA(dialog, stc1, DestinationFolder, FOLDER_TEXT_SIZE);
  char ownPath[FOLDER_TEXT_SIZE];
  ownPath[0] = '\0';
  if (TextLength(DestinationFolder) <= 1) {
    GetModuleFileNameA(AppInstance, ownPath, FOLDER_TEXT_SIZE - 1);
    ownPath[FOLDER_TEXT_SIZE - 1] = '\0';
  }
  CompleteFolderName(DestinationFolder, FOLDER_TEXT_SIZE, ownPath);
  SetDlgItemTextA(dialog, IDC_FOLDER_FIELD, DestinationFolder);
}

extern "C" __declspec(dllexport) UINT_PTR CALLBACK
    FileHook(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  // Only when the dialog is shown: a platform that also reports hiding it after OK would
  // otherwise replace the folder the user typed.
  if (message == WM_SHOWWINDOW && wParam) {
    FillFolderEdit(dialog);
    HWND field = GetDlgItem(dialog, IDC_FOLDER_FIELD);
    SetFocus(field);
    SendMessageA(field, EM_SETSEL, 0, -1);
    SendMessageA(field, EM_SETSEL, (WPARAM)-1, -1);
    SendMessageA(field, EM_SCROLLCARET, 0, 0);
    CenterWindow(dialog);
  } else if (message == WM_COMMAND) {
    int id = LOWORD(wParam), code = HIWORD(wParam);
    if (id == IDOK) {
      GetDlgItemTextA(dialog, IDC_FOLDER_FIELD, DestinationFolder, FOLDER_TEXT_SIZE);
      // Wine fills the hidden file-name field with "*.*" when the dialog opens, and OK
      // would then only relist the folder; with a plain name back in it, OK closes.
      SetDlgItemTextA(dialog, edt1, "JUNK!");
    } else if ((id == stc1 && code == EN_CHANGE) ||
               ((id == lst2 || id == cmb2) && (code == LBN_SELCHANGE || code == LBN_DBLCLK))) {
      FillFolderEdit(dialog);
    }
  }
  return 0;
}
