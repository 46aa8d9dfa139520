// Where windows and controls stand: the small helpers that the wizard, its bars and the
// folder dialog all use, in a room of their own so that none of those three depends on
// another for them.
#pragma once

#include <windows.h>

// A control's rectangle in the dialog's client coordinates, and its invalidation there.
RECT ControlRect(HWND dialog, int id);
void InvalidateControl(HWND dialog, int id);
// Puts a window in the middle of the desktop.
void CenterWindow(HWND window);
