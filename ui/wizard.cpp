// The wizard dialog: five pages in one frame, and the pacing of the installation run.
#include <windows.h>

#include "desktop/program_group.h"
#include "engine/install_run.h"
#include "engine/wizard_link.h"
#include "resources/resource.h"
#include "resources/texts.h"
#include "ui/installer.h"
#include "ui/ui_logic.h"
#include "ui/window_geometry.h"

HWND WizardDialog;
int WizardPage = -1;

enum { LICENCE_SIZE = 3000 };
static char licenceText[LICENCE_SIZE];

// The first control of each page; a page runs up to the first missing identifier.
static const int PAGE_FIRST[] = {IDC_WELCOME, IDC_LICENCE_INTRO, IDC_OPTIONS_INTRO, IDC_STATUS,
                                 IDC_FINISHED};
enum { PAGE_COUNT = 5 };

// Moves one page, laid out far below in the template, into the visible area; every
// control of it is hidden afterwards.
static void LayoutPages(HWND dialog, int first) {
  HWND control = GetDlgItem(dialog, first);
  if (control == NULL) return;
  RECT r = ControlRect(dialog, first);
  int targetLeft = 20, targetTop = 20;
  if (first == IDC_WELCOME) targetTop = 24;
  if (first == IDC_FINISHED) targetTop = 30;
  if (first == IDC_STATUS) {
    RECT client;
    GetClientRect(dialog, &client);
    targetLeft = client.right / 2 - (r.right - r.left) / 2;
    targetTop = ControlRect(dialog, IDC_MAKE_BACKUPS).top;
  }
  int dx = r.left - targetLeft, dy = r.top - targetTop;
  for (int id = first; (control = GetDlgItem(dialog, id)) != NULL; id++) {
    RECT c = ControlRect(dialog, id);
    SetWindowPos(control, NULL, c.left - dx, c.top - dy, 0, 0,
                 SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE | SWP_HIDEWINDOW);
  }
}

// Shows and enables, or hides and disables, one control.
static void ShowControl(HWND control, int show) {
  if (show) {
    EnableWindow(control, TRUE);
    ShowWindow(control, SW_SHOWNORMAL);
  } else {
    ShowWindow(control, SW_HIDE);
    EnableWindow(control, FALSE);
  }
}

// The same for one page's run of controls; the bars' areas stay hidden for good.
static void ShowControlRun(HWND dialog, int first, int show) {
  HWND control;
  for (int id = first; (control = GetDlgItem(dialog, id)) != NULL; id++) {
    if (id != IDC_FILE_BAR && id != IDC_INSTALL_BAR) ShowControl(control, show);
  }
}

static void SetButton(HWND dialog, int id, const char* caption, int shown, int enabled) {
  HWND button = GetDlgItem(dialog, id);
  if (caption != NULL) SetWindowTextA(button, caption);
  ShowWindow(button, shown ? SW_SHOWNORMAL : SW_HIDE);
  EnableWindow(button, enabled);
}

// The two buttons of each page (button 1 null: hidden) and the control given the focus.
struct PageButtons {
  const char* next;
  int nextEnabled;
  const char* cancel;
  int focus;
};
static const PageButtons PAGE_BUTTONS[PAGE_COUNT] = {
    {TEXT_NEXT, 1, TEXT_CANCEL, IDOK},    {TEXT_YES, 1, TEXT_NO, IDC_LICENCE_TEXT},
    {TEXT_INSTALL, 1, TEXT_CANCEL, IDOK}, {TEXT_INSTALL, 0, TEXT_ABORT, IDCANCEL},
    {NULL, 0, TEXT_FINISH, IDCANCEL},
};

static void ShowPage(HWND dialog, int page) {
  if (page == -1) {
    for (int k = 0; k < PAGE_COUNT; k++) LayoutPages(dialog, PAGE_FIRST[k]);
    for (int k = 0; k < PAGE_COUNT; k++) ShowControlRun(dialog, PAGE_FIRST[k], 0);
    page = PAGE_WELCOME;
  }
  WizardPage = page;
  InstallBarFill = 0;
  SetDlgItemTextA(dialog, IDC_STATUS, MSG_SCANNING_FILES);
  InvalidateControl(dialog, IDC_INSTALL_BAR);
  InvalidateControl(dialog, IDC_FILE_BAR);
  if (page >= PAGE_WELCOME && page <= PAGE_FINISH) {
    SetButton(dialog, IDC_BACK, NULL, 0, 0);
    // The other pages go; the progress page keeps the options page's folder box, and
    // hides the finish page only after its own controls are set.
    for (int k = 0; k < PAGE_COUNT; k++) {
      bool keep = k == page || (page == PAGE_PROGRESS && (k == PAGE_OPTIONS || k == PAGE_FINISH));
      if (!keep) ShowControlRun(dialog, PAGE_FIRST[k], 0);
    }
    ShowControlRun(dialog, PAGE_FIRST[page], 1);
    if (page == PAGE_PROGRESS) {
      // The folder box of the options page stays, Browse shown but disabled; the status
      // and bars take the place of the option boxes.
      ShowWindow(GetDlgItem(dialog, IDC_BROWSE), SW_SHOWNORMAL);
      EnableWindow(GetDlgItem(dialog, IDC_BROWSE), FALSE);
      for (int id = IDC_OPTIONS_MORE; id <= IDC_INSTALL_HINT; id++)
        ShowControl(GetDlgItem(dialog, id), 0);
      ShowControlRun(dialog, PAGE_FIRST[PAGE_FINISH], 0);
    }
    const PageButtons& buttons = PAGE_BUTTONS[page];
    SetButton(dialog, IDOK, buttons.next, buttons.next != NULL, buttons.nextEnabled);
    SetButton(dialog, IDCANCEL, buttons.cancel, 1, 1);
    SetFocus(GetDlgItem(dialog, buttons.focus));
  }
  UpdateWindow(dialog);
}

static void InitDialogTexts(HWND dialog) {
  SetWindowTextA(dialog, TEXT_TITLE);
  SetDlgItemTextA(dialog, IDC_WELCOME, TEXT_WELCOME);
  HRSRC found = FindResourceA(AppInstance, MAKEINTRESOURCEA(IDR_LICENCE), (LPCSTR)RT_RCDATA);
  HGLOBAL loaded = found != NULL ? LoadResource(AppInstance, found) : NULL;
  const char* text = loaded != NULL ? (const char*)LockResource(loaded) : NULL;
  if (text == NULL) return;
  CutLicence(licenceText, LICENCE_SIZE, text, SizeofResource(AppInstance, found));
  SetDlgItemTextA(dialog, IDC_LICENCE_TEXT, licenceText);
}

static int Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// Install on the options page: read the choices, show the progress page, start the run.
static void StartInstall(HWND dialog) {
  GetDlgItemTextA(dialog, IDC_DESTINATION, DestinationFolder, FOLDER_TEXT_SIZE);
  MakeBackups = Checked(dialog, IDC_MAKE_BACKUPS);
  KeepSettings = Checked(dialog, IDC_KEEP_SETTINGS);
  CreateIcons = Checked(dialog, IDC_CREATE_ICONS);
  ShowPage(dialog, PAGE_PROGRESS);
  ResetRun();
  ShowScanStatus();
  DrawInstallBar(NULL, NULL);
  if (CreateDestination() == RUN_RETRY_OPTIONS) {
    ShowPage(dialog, PAGE_OPTIONS);
    return;
  }
  SetFocus(GetDlgItem(dialog, IDCANCEL));
  if (OpenCarrier() == RUN_DONE) {
    PostMessageA(dialog, MSG_INSTALL_STEP, 0, 0);
  } else {
    AbandonRun();
    EndDialog(dialog, 0);
  }
}

// Ends a run: nothing of it may run on, so the step timer goes with it.
static void DropRun(HWND dialog) {
  KillTimer(dialog, ID_STEP_TIMER);
  AbandonRun();
}

// Cancel, No or Abort on pages 0 to 3, and closing the window there.
static void AbortSequence(HWND dialog) {
  AbortPending = 1;
  if (Run.carrierStream == NULL) {
    EndDialog(dialog, 0);
    return;
  }
  if (MessageBoxA(dialog, TEXT_ABORT_QUESTION, CAPTION_WARNING, MB_YESNO | MB_ICONQUESTION) ==
      IDNO) {
    AbortPending = 0;
    PostMessageA(dialog, MSG_INSTALL_STEP, 0, 0);
    return;
  }
  DropRun(dialog);
  ResetRun();
  ShowPage(dialog, PAGE_OPTIONS);
}

static void MakeProgramGroup(void) {
  while (!CreateProgramGroup(DdeInstance, DestinationFolder, NewShell)) {
    if (MessageBoxA(MainWindow, TEXT_ERROR_ICONS, CAPTION_ERROR_15, MB_YESNO | MB_ICONQUESTION) !=
        IDYES) {
      break;
    }
  }
}

// One MSG_INSTALL_STEP: a step of the run, and what its result means for the pages.
static void InstallStep(HWND dialog) {
  // No step while the abort question is open, after the run has ended, or inside another
  // step's message box.
  if (AbortPending || !StepWanted()) return;
  switch (RunStep()) {
    case RUN_MORE:
      SetTimer(dialog, ID_STEP_TIMER, 25, NULL);
      break;
    case RUN_DONE:
      if (Run.segmentIndex == 0) {
        DropRun(dialog);
        MessageBoxA(dialog, TEXT_ERROR_CORRUPT, CAPTION_ERROR_14, MB_ICONERROR);
        EndDialog(dialog, 0);
      } else if (WizardPage == PAGE_PROGRESS) {
        if (CreateIcons) MakeProgramGroup();
        ShowPage(dialog, PAGE_FINISH);
      } else {
        EndDialog(dialog, 1);
      }
      break;
    case RUN_RETRY_OPTIONS:
      DropRun(dialog);
      ShowPage(dialog, PAGE_OPTIONS);
      break;
    default:
      DropRun(dialog);
      EndDialog(dialog, 0);
      break;
  }
}

static BOOL OnCommand(HWND dialog, int id) {
  switch (id) {
    case IDOK:
      if (WizardPage == PAGE_WELCOME) {
        ShowPage(dialog, PAGE_LICENCE);
      } else if (WizardPage == PAGE_LICENCE) {
        ShowPage(dialog, PAGE_OPTIONS);
      } else if (WizardPage == PAGE_FINISH) {
        EndDialog(dialog, 1);
      } else if (WizardPage == PAGE_OPTIONS) {
        StartInstall(dialog);
      }
      return TRUE;
    case IDCANCEL:
      if (WizardPage == PAGE_FINISH) {
        HelpOnExit = Checked(dialog, IDC_READ_HELP);
        LaunchOnExit = Checked(dialog, IDC_LAUNCH);
        EndDialog(dialog, 1);
      } else {
        AbortSequence(dialog);
      }
      return TRUE;
    case IDC_BACK:
      if (WizardPage > 0) ShowPage(dialog, WizardPage - 1);
      return FALSE;
    case IDC_BROWSE:
      if (WizardPage == PAGE_OPTIONS) ChooseDestination(dialog);
      return FALSE;
    default:
      return FALSE;
  }
}

static void OnPaint(HWND dialog) {
  PAINTSTRUCT paint;
  BeginPaint(dialog, &paint);
  RECT anchor = ControlRect(dialog, IDC_ICON_ANCHOR);
  HICON icon = LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_WIZARD));
  DrawIcon(paint.hdc, anchor.left, anchor.top, icon);
  DestroyIcon(icon);
  if (IsWindowVisible(GetDlgItem(dialog, IDC_STATUS))) DrawInstallBar(paint.hdc, NULL);
  EndPaint(dialog, &paint);
}

INT_PTR CALLBACK InstallDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      WizardDialog = dialog;
      static const int BOXES[] = {IDC_MAKE_BACKUPS, IDC_KEEP_SETTINGS, IDC_CREATE_ICONS,
                                  IDC_READ_HELP, IDC_LAUNCH};
      for (int id : BOXES) CheckDlgButton(dialog, id, BST_CHECKED);
      InitDialogTexts(dialog);
      InitDefaultFolder(dialog);
      ShowPage(dialog, -1);
      return FALSE;
    }
    case WM_SHOWWINDOW:
      CenterWindow(dialog);
      SetFocus(GetDlgItem(dialog, IDOK));
      return FALSE;
    case WM_PAINT:
      OnPaint(dialog);
      return FALSE;
    case WM_COMMAND:
      return OnCommand(dialog, LOWORD(wParam));
    case WM_SYSCOMMAND:
      // Closing the window does what button 2 does on the page shown.
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
      }
      return FALSE;
    case WM_TIMER:
      if (wParam == ID_STEP_TIMER) {
        KillTimer(dialog, ID_STEP_TIMER);
        PostMessageA(dialog, MSG_INSTALL_STEP, 0, 0);
      }
      return FALSE;
    case MSG_INSTALL_STEP:
      InstallStep(dialog);
      return FALSE;
    default:
      return FALSE;
  }
}

// The engine's other ways into the dialog, besides the bars.
void SetStatusText(const char* text) {
  SendDlgItemMessageA(WizardDialog, IDC_STATUS, WM_SETTEXT, 0, (LPARAM)text);
}

void ShowErrorBox(const char* text, const char* caption) {
  MessageBoxA(WizardDialog, text, caption, MB_ICONERROR);
}
