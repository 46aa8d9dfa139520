#include "ui/window_geometry.h"

#include "ui/ui_logic.h"

RECT ControlRect(HWND dialog, int id) {
  RECT r;
  GetWindowRect(GetDlgItem(dialog, id), &r);
  POINT corner = {r.left, r.top};
  ScreenToClient(dialog, &corner);
  return {corner.x, corner.y, corner.x + (r.right - r.left), corner.y + (r.bottom - r.top)};
}

void InvalidateControl(HWND dialog, int id) {
  RECT area = ControlRect(dialog, id);
  InvalidateRect(dialog, &area, TRUE);
}

void CenterWindow(HWND window) {
  RECT d, w;
  GetWindowRect(GetDesktopWindow(), &d);
  GetWindowRect(window, &w);
  int32_t x, y;
  CenterPosition({d.left, d.top, d.right, d.bottom}, {w.left, w.top, w.right, w.bottom}, &x, &y);
  SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
