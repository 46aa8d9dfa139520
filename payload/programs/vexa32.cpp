// The demo payload's chat client: one top-level window that shows where a chat would
// appear. Enough for the installer's closing action and its tests to find a started
// program by window class and title; it ends when its window is closed.
#include <windows.h>

#include "one_window.h"

namespace {

const char kClassName[] = "VexaClientWindow";
const char kTitle[] = "Vexa v5.61";
const char kWelcome[] =
    "Welcome to Vexa v5.61 32bit.\r\n\r\n"
    "This is the demonstration build of the chat client that the installer carries. "
    "Close this window to end it.";

// Control id of the conversation pane that fills the client area.
const int ID_CONVERSATION = 100;

LRESULT CALLBACK ClientWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      HINSTANCE instance = ((CREATESTRUCTA*)lParam)->hInstance;
      HWND pane = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", kWelcome,
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY,
                                  0, 0, 0, 0, window, (HMENU)ID_CONVERSATION, instance, NULL);
      SendMessageA(pane, WM_SETFONT, (WPARAM)GetStockObject(ANSI_FIXED_FONT), FALSE);
      return 0;
    }
    case WM_SIZE:
      MoveWindow(GetDlgItem(window, ID_CONVERSATION), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  return RunOneWindow({kClassName, kTitle, ClientWndProc, 0, COLOR_WINDOW, 480, 320}, instance,
                      show);
}
