// The demo payload's companion tool: one top-level window with a line of text, found by
// class and title like the client; it ends when its window is closed.
#include <windows.h>

#include "one_window.h"

namespace {

const char kClassName[] = "VexaToolWindow";
const char kTitle[] = "Vexa Tool";
const char kText[] = "Vexa Tool: demonstration build. Close this window to end it.";

LRESULT CALLBACK ToolWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      SetBkMode(dc, TRANSPARENT);
      DrawTextA(dc, kText, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  return RunOneWindow(
      {kClassName, kTitle, ToolWndProc, CS_HREDRAW | CS_VREDRAW, COLOR_BTNFACE, 420, 160}, instance,
      show);
}
