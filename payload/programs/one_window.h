// What both demo programs do: register one window class, show one top-level window and run
// its messages until it is closed.
#pragma once

#include <windows.h>

struct OneWindow {
  const char* className;
  const char* title;
  WNDPROC procedure;
  UINT classStyle;
  int background;  // a system colour index
  int width, height;
};

inline int RunOneWindow(const OneWindow& w, HINSTANCE instance, int show) {
  WNDCLASSA windowClass = {};
  windowClass.style = w.classStyle;
  windowClass.lpfnWndProc = w.procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(INT_PTR)(w.background + 1);
  windowClass.lpszClassName = w.className;
  if (!RegisterClassA(&windowClass)) return 1;

  HWND window = CreateWindowExA(0, w.className, w.title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, w.width, w.height, NULL, NULL, instance, NULL);
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);

  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
