// Drives the installer's windows from inside the same Wine prefix, the way a user would:
// one command per line on stdin (fields separated by tabs), one answer per command on
// stdout. An answer is one line starting with "ok", "err" or "timeout"; "ok N" answers of
// listing commands are followed by N record lines. Texts are escaped (\\ \n \r \t).
//
// A dialog argument names a top-level window of class "#32770" by its caption; "wizard"
// and "folder" stand for the installer's wizard and its folder dialog, "wizard:N" for the
// wizard of the Nth of several installers (by process id).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
// Needs the types of windows.h.
#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol.h"

namespace {

using winetest::Escape;
using winetest::SplitTabs;
using winetest::Unescape;

const char* const WIZARD_TITLE = "Vexa v5.61 32bit Installation";
const char* const FOLDER_TITLE = "Vexa Select Folder";
const UINT CROSS_TIMEOUT_MS = 2000;  // a busy or suspended installer thread must not hang us
const DWORD POLL_MS = 10;

HANDLE suspendedThread;
DWORD suspendedThreadId;  // its windows are read without sending them anything

bool Held(HWND window) {
  return suspendedThread != NULL && GetWindowThreadProcessId(window, NULL) == suspendedThreadId;
}

// Freezes the thread that owns the window and remembers it; "" or the error reply.
std::string SuspendWindowThread(HWND window) {
  DWORD tid = GetWindowThreadProcessId(window, NULL);
  HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, tid);
  if (thread == NULL) return "err OpenThread";
  if (SuspendThread(thread) == (DWORD)-1) {
    CloseHandle(thread);
    return "err SuspendThread";
  }
  suspendedThread = thread;
  suspendedThreadId = tid;
  return "";
}

std::string Narrow(const wchar_t* text, int length) {
  if (length <= 0) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text, length, NULL, 0, NULL, NULL);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], size, NULL, NULL);
  return out;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), NULL, 0);
  std::wstring out(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size);
  return out;
}

void Answer(const std::string& line) {
  fwrite(line.data(), 1, line.size(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

std::string ClassOf(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The text a window shows. WM_GETTEXT reaches edit controls, whose text is not the window
// caption; when the owning thread does not answer, the caption kept by the server serves.
std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!Held(window) && SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                                           CROSS_TIMEOUT_MS, &length)) {
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data(),
                            SMTO_ABORTIFHUNG, CROSS_TIMEOUT_MS, &copied)) {
      return Narrow(buffer.data(), (int)wcsnlen(buffer.data(), buffer.size()));
    }
  }
  wchar_t caption[4096];
  int n = InternalGetWindowText(window, caption, 4096);
  return Narrow(caption, n);
}

// -1 for windows that are not check boxes or radio buttons.
int CheckOf(HWND window) {
  if (lstrcmpiA(ClassOf(window).c_str(), "Button") != 0) return -1;
  LONG type = GetWindowLongA(window, GWL_STYLE) & BS_TYPEMASK;
  bool checkable = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                   type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE;
  if (!checkable) return -1;
  DWORD_PTR state = 0;
  if (Held(window)) return -2;
  if (!SendMessageTimeoutW(window, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, CROSS_TIMEOUT_MS, &state))
    return -2;
  return (int)state;
}

std::string CaptionFor(const std::string& name) {
  if (name == "wizard") return WIZARD_TITLE;
  if (name == "folder") return FOLDER_TITLE;
  return name;
}

// "wizard:N": the wizard of the Nth installer by process id, when several run at once.
HWND NthWizard(int n) {
  std::vector<std::pair<DWORD, HWND>> wizards;
  for (HWND w = NULL; (w = FindWindowExA(NULL, w, "#32770", WIZARD_TITLE)) != NULL;) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (IsWindowVisible(w)) wizards.push_back({pid, w});
  }
  std::sort(wizards.begin(), wizards.end());
  return n >= 1 && n <= (int)wizards.size() ? wizards[n - 1].second : NULL;
}

// A visible dialog with this caption, else any dialog with it, else null.
HWND FindDialog(const std::string& name) {
  if (name.rfind("wizard:", 0) == 0) return NthWizard(atoi(name.c_str() + 7));
  std::string caption = CaptionFor(name);
  HWND hidden = NULL;
  for (HWND w = NULL; (w = FindWindowExA(NULL, w, "#32770", caption.c_str())) != NULL;) {
    if (IsWindowVisible(w)) return w;
    if (hidden == NULL) hidden = w;
  }
  return hidden;
}

HWND FindVisibleDialog(const std::string& name) {
  HWND w = FindDialog(name);
  return w != NULL && IsWindowVisible(w) ? w : NULL;
}

// A key press posted to the focused window of the dialog's thread, as the keyboard delivers
// it: repeat count 1 and the scan code, the release also with its previous-state and
// transition bits; with Alt held, as a system key with context bit 29. Answers the focused
// control's id and class.
std::string PressKey(HWND dialog, UINT vk, bool alt) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info);
  HWND target = info.hwndFocus != NULL ? info.hwndFocus : info.hwndActive;
  if (target == NULL) return "err no-focus";
  UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
  DWORD down = 1 | (scan << 16) | (alt ? 1u << 29 : 0), up = down | 0xC0000000u;
  PostMessageA(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, (LPARAM)down);
  PostMessageA(target, alt ? WM_SYSKEYUP : WM_KEYUP, vk, (LPARAM)up);
  return "ok " + std::to_string(GetDlgCtrlID(target)) + "\t" + Escape(ClassOf(target));
}

struct Waiter {
  DWORD start = GetTickCount();
  DWORD limit;
  explicit Waiter(DWORD limitMs) : limit(limitMs) {}
  bool More() {
    if (GetTickCount() - start >= limit) return false;
    Sleep(POLL_MS);
    return true;
  }
};

// The direct child with this identifier (GetDlgItem is fine across processes).
HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::string ControlRecord(HWND c) {
  char line[64];
  snprintf(line, sizeof line, "%d\t", GetDlgCtrlID(c));
  std::string record = line;
  record += ClassOf(c);
  snprintf(line, sizeof line, "\t%d\t%d\t%d\t", IsWindowVisible(c) ? 1 : 0,
           IsWindowEnabled(c) ? 1 : 0, CheckOf(c));
  record += line;
  record += Escape(TextOf(c));
  return record;
}

std::vector<HWND> TopLevelDialogs() {
  std::vector<HWND> found;
  for (HWND w = NULL; (w = FindWindowExA(NULL, w, "#32770", NULL)) != NULL;) {
    if (IsWindowVisible(w)) found.push_back(w);
  }
  return found;
}

// A visible dialog that is neither the wizard, nor the folder dialog, nor the one named:
// a message box nobody expected.
HWND OtherDialog(const std::string& name) {
  std::string caption = CaptionFor(name);
  for (HWND w = NULL; (w = FindWindowExA(NULL, w, "#32770", NULL)) != NULL;) {
    if (!IsWindowVisible(w)) continue;
    char title[512] = "";
    GetWindowTextA(w, title, sizeof title);
    if (caption != title && strcmp(title, WIZARD_TITLE) != 0 && strcmp(title, FOLDER_TITLE) != 0)
      return w;
  }
  return NULL;
}

std::string DialogSummary(HWND w) {
  std::string line = Escape(TextOf(w));
  HWND text = Control(w, 0xFFFF);
  line += "\t";
  if (text != NULL) line += Escape(TextOf(text));
  return line;
}

std::string OpenDialogList() {
  std::string list;
  for (HWND w : TopLevelDialogs()) {
    if (!list.empty()) list += " | ";
    list += DialogSummary(w);
  }
  return list.empty() ? "(none)" : list;
}

// The current folder of another 32-bit process, read from its process parameters: the
// PEB holds them at 0x10, and they hold the folder's counted string at 0x24.
std::string CurrentFolderOf(DWORD pid, std::string* folder) {
  typedef LONG(WINAPI * QueryProcess)(HANDLE, int, void*, ULONG, ULONG*);
  struct BasicInformation {
    LONG exitStatus;
    void* peb;
    ULONG_PTR affinity, priority, pid, parentPid;
  } basic = {};
  QueryProcess query = (QueryProcess)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                           "NtQueryInformationProcess");
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (query == NULL || process == NULL) return "cannot open the process";
  std::string why;
  DWORD parameters = 0;
  struct {
    USHORT length, maximum;
    DWORD buffer;
  } path = {};
  if (query(process, 0, &basic, sizeof basic, NULL) != 0) {
    why = "NtQueryInformationProcess failed";
  } else if (!ReadProcessMemory(process, (char*)basic.peb + 0x10, &parameters, sizeof parameters,
                                NULL) ||
             !ReadProcessMemory(process, (void*)(ULONG_PTR)(parameters + 0x24), &path, sizeof path,
                                NULL)) {
    why = "cannot read the process parameters";
  } else {
    std::vector<wchar_t> text(path.length / 2 + 1, L'\0');
    if (!ReadProcessMemory(process, (void*)(ULONG_PTR)path.buffer, text.data(), path.length,
                           NULL)) {
      why = "cannot read the current folder";
    } else {
      *folder = Narrow(text.data(), path.length / 2);
    }
  }
  CloseHandle(process);
  return why;
}

// Whether a visible control shows the text, read from the window server without asking
// the control's thread; a trailing "*" matches any rest.
bool ServerTextMatches(HWND control, const std::string& pattern) {
  if (control == NULL || !IsWindowVisible(control)) return false;
  std::wstring want = Widen(pattern);
  bool prefix = !want.empty() && want.back() == L'*';
  if (prefix) want.pop_back();
  wchar_t text[512];
  int n = InternalGetWindowText(control, text, 512);
  if (prefix ? n < (int)want.size() : n != (int)want.size()) return false;
  return want.compare(0, want.size(), text, want.size()) == 0;
}

DWORD Number(const std::vector<std::string>& args, size_t i, DWORD fallback) {
  return i < args.size() ? (DWORD)strtoul(args[i].c_str(), NULL, 0) : fallback;
}

std::string Arg(const std::vector<std::string>& args, size_t i, const char* fallback) {
  return i < args.size() ? args[i] : std::string(fallback);
}

// Whether a user could press this control now; empty when yes, else why not.
std::string WhyNotPressable(HWND dialog, HWND control) {
  if (control == NULL) return "no-control";
  if (!IsWindowVisible(dialog)) return "dialog-hidden";
  if (!IsWindowEnabled(dialog)) return "dialog-disabled";
  if (!IsWindowVisible(control)) return "hidden";
  if (!IsWindowEnabled(control)) return "disabled";
  return "";
}

std::string Run(const std::vector<std::string>& args, bool* quit) {
  const std::string& cmd = args[0];
  if (cmd == "quit") {
    *quit = true;
    return "ok";
  }
  if (cmd == "ping") return "ok";

  if (cmd == "wait") {  // wait DIALOG TIMEOUT: until the dialog is visible
    std::string name = Arg(args, 1, "wizard");
    Waiter wait(Number(args, 2, 10000));
    do {
      HWND w = FindVisibleDialog(name);
      if (w != NULL) {
        DWORD pid = 0;
        DWORD tid = GetWindowThreadProcessId(w, &pid);
        char line[96];
        snprintf(line, sizeof line, "ok %p %lu %lu", (void*)w, (unsigned long)pid,
                 (unsigned long)tid);
        return line;
      }
    } while (wait.More());
    return "timeout no visible dialog '" + Escape(CaptionFor(name)) +
           "'; open: " + OpenDialogList();
  }

  if (cmd == "gone") {  // gone DIALOG TIMEOUT: until no dialog with that caption is on screen
    std::string name = Arg(args, 1, "wizard");
    Waiter wait(Number(args, 2, 10000));
    do {
      if (FindVisibleDialog(name) == NULL) return "ok";
    } while (wait.More());
    return "timeout '" + Escape(CaptionFor(name)) + "' still there; open: " + OpenDialogList();
  }

  if (cmd == "dialogs") {  // every visible top-level dialog: caption, message text
    std::vector<HWND> all = TopLevelDialogs();
    std::string out = "ok " + std::to_string(all.size());
    for (HWND w : all) out += "\n" + DialogSummary(w);
    return out;
  }

  if (cmd == "box") {  // box CAPTION TIMEOUT: a message box; its text, buttons and owner
    std::string caption = Arg(args, 1, "");
    Waiter wait(Number(args, 2, 10000));
    do {
      HWND w = FindVisibleDialog(caption);
      if (w != NULL) {
        std::string buttons;
        for (HWND c = GetWindow(w, GW_CHILD); c != NULL; c = GetWindow(c, GW_HWNDNEXT)) {
          if (lstrcmpiA(ClassOf(c).c_str(), "Button") != 0 || !IsWindowVisible(c)) continue;
          if (!buttons.empty()) buttons += ",";
          buttons += std::to_string(GetDlgCtrlID(c));
        }
        HWND owner = GetWindow(w, GW_OWNER);
        HWND text = Control(w, 0xFFFF);
        return "ok " + Escape(text != NULL ? TextOf(text) : std::string()) + "\t" + buttons + "\t" +
               Escape(owner != NULL ? TextOf(owner) : std::string()) + "\t" +
               Escape(ClassOf(owner));
      }
    } while (wait.More());
    return "timeout no box '" + Escape(caption) + "'; open: " + OpenDialogList();
  }

  if (cmd == "answer") {  // answer CAPTION ID TIMEOUT: press a box's button, wait until it closes
    std::string caption = Arg(args, 1, "");
    HWND box = FindVisibleDialog(caption);
    if (box == NULL)
      return "err no visible box '" + Escape(caption) + "'; open: " + OpenDialogList();
    HWND button = Control(box, (int)Number(args, 2, 0));
    std::string why = WhyNotPressable(box, button);
    if (!why.empty()) return "err " + why;
    PostMessageA(button, BM_CLICK, 0, 0);
    Waiter wait(Number(args, 3, 10000));
    while (IsWindow(box) && IsWindowVisible(box)) {
      if (!wait.More()) return "timeout the box stays open";
    }
    return "ok";
  }

  if (cmd == "window") {  // window CLASS TITLE TIMEOUT ("-" for any): a visible top-level window
    std::string cls = Arg(args, 1, "-"), title = Arg(args, 2, "-");
    Waiter wait(Number(args, 3, 10000));
    do {
      for (HWND w = NULL; (w = FindWindowExA(NULL, w, cls == "-" ? NULL : cls.c_str(),
                                             title == "-" ? NULL : title.c_str())) != NULL;) {
        if (!IsWindowVisible(w)) continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        char line[64];
        snprintf(line, sizeof line, "ok %lu\t", (unsigned long)pid);
        return line + Escape(ClassOf(w)) + "\t" + Escape(TextOf(w));
      }
    } while (wait.More());
    return "timeout no window class '" + Escape(cls) + "' title '" + Escape(title) + "'";
  }

  // The commands below act on one dialog, named by their last argument where it is optional.
  auto dialogFor = [&](size_t index, HWND* dialog) -> std::string {
    std::string name = Arg(args, index, "wizard");
    *dialog = FindVisibleDialog(name);
    return *dialog == NULL ? "err no visible dialog '" + Escape(CaptionFor(name)) +
                                 "'; open: " + OpenDialogList()
                           : "";
  };
  HWND dialog = NULL;
  std::string missing;

  if (cmd == "state") {  // state [DIALOG]: enabled flag and caption of the dialog itself
    if (!(missing = dialogFor(1, &dialog)).empty()) return missing;
    return std::string("ok ") + (IsWindowEnabled(dialog) ? "1" : "0") + "\t" +
           Escape(TextOf(dialog));
  }

  if (cmd == "rect") {  // rect [DIALOG]: its window rectangle, then the desktop's
    if (!(missing = dialogFor(1, &dialog)).empty()) return missing;
    RECT w, d;
    GetWindowRect(dialog, &w);
    GetWindowRect(GetDesktopWindow(), &d);
    char line[128];
    snprintf(line, sizeof line, "ok %ld %ld %ld %ld\t%ld %ld %ld %ld", w.left, w.top, w.right,
             w.bottom, d.left, d.top, d.right, d.bottom);
    return line;
  }

  if (cmd == "move") {  // move DIALOG X Y: put a dialog or box elsewhere on the screen
    if (!(missing = dialogFor(1, &dialog)).empty()) return missing;
    if (!SetWindowPos(dialog, NULL, (int)Number(args, 2, 0), (int)Number(args, 3, 0), 0, 0,
                      SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
      return "err SetWindowPos";
    return "ok";
  }

  if (cmd == "crect") {  // crect ID [DIALOG]: a control's rectangle on the screen, the same
                         // in the dialog's client coordinates, and the client area's size
    if (!(missing = dialogFor(2, &dialog)).empty()) return missing;
    HWND c = Control(dialog, (int)Number(args, 1, 0));
    if (c == NULL) return "err no control " + Arg(args, 1, "");
    RECT screen, client, area;
    GetWindowRect(c, &screen);
    client = screen;
    MapWindowPoints(NULL, dialog, (POINT*)&client, 2);
    GetClientRect(dialog, &area);
    char line[160];
    snprintf(line, sizeof line, "ok %ld %ld %ld %ld\t%ld %ld %ld %ld\t%ld %ld", screen.left,
             screen.top, screen.right, screen.bottom, client.left, client.top, client.right,
             client.bottom, area.right, area.bottom);
    return line;
  }

  if (cmd == "controls") {  // controls [DIALOG]: id, class, visible, enabled, check, text
    if (!(missing = dialogFor(1, &dialog)).empty()) return missing;
    std::vector<std::string> records;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != NULL; c = GetWindow(c, GW_HWNDNEXT)) {
      records.push_back(ControlRecord(c));
    }
    std::string out = "ok " + std::to_string(records.size());
    for (const std::string& r : records) out += "\n" + r;
    return out;
  }

  if (cmd == "text") {  // text ID [DIALOG]
    if (!(missing = dialogFor(2, &dialog)).empty()) return missing;
    HWND c = Control(dialog, (int)Number(args, 1, 0));
    if (c == NULL) return "err no-control";
    return "ok " + Escape(TextOf(c));
  }

  if (cmd == "waittext") {  // waittext ID TEXT TIMEOUT [DIALOG]: until the control shows TEXT;
                            // a message box coming up instead ends the wait at once
    int id = (int)Number(args, 1, 0);
    std::string want = Unescape(Arg(args, 2, ""));
    std::string name = Arg(args, 4, "wizard");
    Waiter wait(Number(args, 3, 10000));
    std::string last = "(no dialog)";
    do {
      HWND other = OtherDialog(name);
      if (other != NULL) return "err a message box came up instead: " + DialogSummary(other);
      HWND w = FindVisibleDialog(name);
      HWND c = w != NULL ? Control(w, id) : NULL;
      if (c != NULL) {
        last = TextOf(c);
        if (IsWindowVisible(c) && last == want) return "ok";
        if (!IsWindowVisible(c)) last += " (hidden)";
      }
    } while (wait.More());
    return "timeout control " + std::to_string(id) + " shows '" + Escape(last) +
           "'; open: " + OpenDialogList();
  }

  if (cmd == "focus") {  // focus: the keyboard focus of the wizard's thread
    if (!(missing = dialogFor(1, &dialog)).empty()) return missing;
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info))
      return "err GetGUIThreadInfo";
    if (info.hwndFocus == NULL) return "ok none";
    HWND root = GetAncestor(info.hwndFocus, GA_ROOT);
    return "ok " + std::to_string(GetDlgCtrlID(info.hwndFocus)) + "\t" +
           Escape(ClassOf(info.hwndFocus)) + "\t" + Escape(TextOf(root));
  }

  if (cmd == "click") {  // click ID [DIALOG]: a user's click, refused where a user could not
    if (!(missing = dialogFor(2, &dialog)).empty()) return missing;
    HWND c = Control(dialog, (int)Number(args, 1, 0));
    std::string why = WhyNotPressable(dialog, c);
    if (!why.empty()) return "err " + why;
    PostMessageA(c, BM_CLICK, 0, 0);
    return "ok";
  }

  if (cmd == "toggle") {  // toggle ID [DIALOG]: click a check box, wait until it has turned
    if (!(missing = dialogFor(2, &dialog)).empty()) return missing;
    HWND c = Control(dialog, (int)Number(args, 1, 0));
    std::string why = WhyNotPressable(dialog, c);
    if (!why.empty()) return "err " + why;
    int before = CheckOf(c);
    if (before < 0) return "err not a check box";
    PostMessageA(c, BM_CLICK, 0, 0);
    Waiter wait(10000);
    while (CheckOf(c) == before) {
      if (!wait.More()) return "timeout the check box did not turn";
    }
    return "ok " + std::to_string(CheckOf(c));
  }

  if (cmd == "command") {  // command ID [DIALOG]: WM_COMMAND as from a key or menu
    if (!(missing = dialogFor(2, &dialog)).empty()) return missing;
    if (!IsWindowEnabled(dialog)) return "err dialog-disabled";
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(Number(args, 1, 0), 0), 0);
    return "ok";
  }

  if (cmd == "hidden") {  // hidden [DIALOG]: WM_SHOWWINDOW as when the dialog is hidden,
                          // without hiding it
    if (!(missing = dialogFor(1, &dialog)).empty()) return missing;
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(dialog, WM_SHOWWINDOW, FALSE, 0, SMTO_ABORTIFHUNG, CROSS_TIMEOUT_MS,
                             &ignored))
      return "err no answer";
    return "ok";
  }

  if (cmd == "close") {  // close [DIALOG]: the close box
    if (!(missing = dialogFor(1, &dialog)).empty()) return missing;
    if (!IsWindowEnabled(dialog)) return "err dialog-disabled";
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    return "ok";
  }

  if (cmd == "altf4") {  // altf4 [DIALOG]: Alt+F4 pressed in the focused window of the thread
    if (!(missing = dialogFor(1, &dialog)).empty()) return missing;
    return PressKey(dialog, VK_F4, true);
  }

  if (cmd == "key") {  // key VK [DIALOG]: a key press into the focused window of the thread
    if (!(missing = dialogFor(2, &dialog)).empty()) return missing;
    return PressKey(dialog, Number(args, 1, VK_ESCAPE), false);
  }

  if (cmd == "settext") {  // settext ID TEXT [DIALOG]: as if the user typed TEXT there
    if (!(missing = dialogFor(3, &dialog)).empty()) return missing;
    HWND c = Control(dialog, (int)Number(args, 1, 0));
    std::string why = WhyNotPressable(dialog, c);
    if (!why.empty()) return "err " + why;
    std::wstring text = Widen(Unescape(Arg(args, 2, "")));
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(c, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG,
                             CROSS_TIMEOUT_MS, &result)) {
      return "timeout WM_SETTEXT";
    }
    return "ok";
  }

  if (cmd == "items") {  // items ID [DIALOG]: the strings of a list box or combo box
    if (!(missing = dialogFor(2, &dialog)).empty()) return missing;
    HWND c = Control(dialog, (int)Number(args, 1, 0));
    if (c == NULL) return "err no-control";
    bool combo = lstrcmpiA(ClassOf(c).c_str(), "ComboBox") == 0;
    UINT countMsg = combo ? CB_GETCOUNT : LB_GETCOUNT,
         lenMsg = combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN,
         textMsg = combo ? CB_GETLBTEXT : LB_GETTEXT, selMsg = combo ? CB_GETCURSEL : LB_GETCURSEL;
    DWORD_PTR count = 0, selected = 0;
    if (!SendMessageTimeoutW(c, countMsg, 0, 0, SMTO_ABORTIFHUNG, CROSS_TIMEOUT_MS, &count))
      return "timeout count";
    SendMessageTimeoutW(c, selMsg, 0, 0, SMTO_ABORTIFHUNG, CROSS_TIMEOUT_MS, &selected);
    std::string out = "ok " + std::to_string((long)count) + "\t" + std::to_string((long)selected);
    for (long i = 0; i < (long)count; i++) {
      DWORD_PTR length = 0;
      SendMessageTimeoutW(c, lenMsg, i, 0, SMTO_ABORTIFHUNG, CROSS_TIMEOUT_MS, &length);
      std::vector<wchar_t> buffer(length + 2, L'\0');
      DWORD_PTR copied = 0;
      SendMessageTimeoutW(c, textMsg, i, (LPARAM)buffer.data(), SMTO_ABORTIFHUNG, CROSS_TIMEOUT_MS,
                          &copied);
      out += "\n" + Escape(Narrow(buffer.data(), (int)wcsnlen(buffer.data(), buffer.size())));
    }
    return out;
  }

  if (cmd == "pick") {  // pick ID INDEX NOTIFY [DIALOG]: select an item and notify the dialog
    if (!(missing = dialogFor(4, &dialog)).empty()) return missing;
    int id = (int)Number(args, 1, 0);
    HWND c = Control(dialog, id);
    std::string why = WhyNotPressable(dialog, c);
    if (!why.empty()) return "err " + why;
    bool combo = lstrcmpiA(ClassOf(c).c_str(), "ComboBox") == 0;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(c, combo ? CB_SETCURSEL : LB_SETCURSEL, Number(args, 2, 0), 0,
                             SMTO_ABORTIFHUNG, CROSS_TIMEOUT_MS, &result)) {
      return "timeout select";
    }
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, Number(args, 3, 1)), (LPARAM)c);
    return "ok";
  }

  if (cmd == "sync") {  // sync [DIALOG]: returns once the dialog's thread has emptied its queue
    if (!(missing = dialogFor(1, &dialog)).empty()) return missing;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, Number(args, 2, 5000), &result)) {
      return "timeout thread busy";
    }
    return "ok";
  }

  if (cmd == "hold") {  // hold ID TEXT TIMEOUT [DIALOG [STOPID STOPTEXT]]: freeze the dialog's
                        // thread as soon as control ID shows TEXT ("text*": any text starting
                        // so); give up once control STOPID shows STOPTEXT. While held, reads
                        // go to the window server only.
    if (suspendedThread != NULL) return "err already holding";
    int id = (int)Number(args, 1, 0), stopId = (int)Number(args, 5, 0);
    std::string want = Unescape(Arg(args, 2, "")), stop = Unescape(Arg(args, 6, ""));
    std::string name = Arg(args, 4, "wizard");
    Waiter wait(Number(args, 3, 10000));
    do {
      HWND w = FindVisibleDialog(name);
      if (w != NULL && stopId != 0 && ServerTextMatches(Control(w, stopId), stop)) {
        return "err passed: control " + std::to_string(stopId) + " shows '" + Escape(stop) + "'";
      }
      HWND c = w != NULL ? Control(w, id) : NULL;
      if (ServerTextMatches(c, want)) {
        std::string failed = SuspendWindowThread(w);
        if (!failed.empty()) return failed;
        // What it shows now: it may have changed between the test and the suspension.
        return "ok " + Escape(TextOf(c));
      }
      Sleep(1);
    } while (wait.More());
    return "timeout control " + std::to_string(id) + " never showed it; open: " + OpenDialogList();
  }

  if (cmd == "holdfile") {  // holdfile PATH TIMEOUT [DIALOG [STOPID STOPTEXT]]: freeze the
                            // dialog's thread as soon as the file exists; give up as hold does
    if (suspendedThread != NULL) return "err already holding";
    std::wstring path = Widen(Unescape(Arg(args, 1, "")));
    int stopId = (int)Number(args, 4, 0);
    std::string name = Arg(args, 3, "wizard"), stop = Unescape(Arg(args, 5, ""));
    Waiter wait(Number(args, 2, 10000));
    do {
      HWND w = FindVisibleDialog(name);
      if (w != NULL && stopId != 0 && ServerTextMatches(Control(w, stopId), stop)) {
        return "err passed: control " + std::to_string(stopId) + " shows '" + Escape(stop) + "'";
      }
      if (w != NULL && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        std::string failed = SuspendWindowThread(w);
        return failed.empty() ? "ok" : failed;
      }
      Sleep(1);
    } while (wait.More());
    return "timeout the file did not come";
  }

  if (cmd == "release") {  // let the held thread go on
    if (suspendedThread == NULL) return "err not holding";
    ResumeThread(suspendedThread);
    CloseHandle(suspendedThread);
    suspendedThread = NULL;
    suspendedThreadId = 0;
    return "ok";
  }

  if (cmd == "processes") {  // the executable names of all processes in the prefix
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return "err CreateToolhelp32Snapshot";
    std::vector<std::string> names;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
      names.push_back(Escape(Narrow(entry.szExeFile, (int)wcslen(entry.szExeFile))));
    }
    CloseHandle(snapshot);
    std::string out = "ok " + std::to_string(names.size());
    for (const std::string& n : names) out += "\n" + n;
    return out;
  }

  if (cmd == "cwd") {  // cwd EXE: the current folder of a running process of that name
    std::string exe = Arg(args, 1, "");
    DWORD pid = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return "err CreateToolhelp32Snapshot";
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && pid == 0;
         more = Process32NextW(snapshot, &entry)) {
      if (lstrcmpiW(entry.szExeFile, Widen(exe).c_str()) == 0) pid = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    if (pid == 0) return "err no process " + Escape(exe);
    std::string folder;
    std::string why = CurrentFolderOf(pid, &folder);
    return why.empty() ? "ok " + Escape(folder) : "err " + why;
  }

  if (cmd == "closeclass") {  // closeclass CLASS MIN TIMEOUT: once at least MIN top-level windows
                              // of the class exist, close them all and wait until none is left
    std::string cls = Arg(args, 1, "");
    int minimum = (int)Number(args, 2, 1);
    Waiter wait(Number(args, 3, 10000));
    auto count = [&]() {
      int n = 0;
      for (HWND w = NULL; (w = FindWindowExA(NULL, w, cls.c_str(), NULL)) != NULL;) n++;
      return n;
    };
    int found;
    while ((found = count()) < minimum) {
      if (!wait.More())
        return "timeout only " + std::to_string(found) + " windows of class '" + Escape(cls) + "'";
    }
    while (count() > 0) {
      for (HWND w = NULL; (w = FindWindowExA(NULL, w, cls.c_str(), NULL)) != NULL;)
        PostMessageA(w, WM_CLOSE, 0, 0);
      if (!wait.More()) return "timeout windows of class '" + Escape(cls) + "' are still there";
    }
    return "ok " + std::to_string(found);
  }

  return "err unknown command '" + Escape(cmd) + "'";
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  std::string line;
  bool quit = false;
  int c;
  while (!quit && (c = fgetc(stdin)) != EOF) {
    if (c != '\n') {
      line += (char)c;
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) Answer(Run(SplitTabs(line), &quit));
    line.clear();
  }
  if (suspendedThread != NULL) ResumeThread(suspendedThread);
  return 0;
}
