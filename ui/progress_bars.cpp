// The two home-made bars of the progress page, painted on the wizard dialog itself where
// the hidden group boxes 173 and 171 lie.
#include <windows.h>

#include "engine/shared.h"
#include "engine/wizard_link.h"
#include "resources/resource.h"
#include "ui/installer.h"
#include "ui/ui_logic.h"
#include "ui/window_geometry.h"

static const COLORREF INSTALL_FILL = RGB(0, 70, 140);
static const COLORREF FILE_FILL = RGB(0, 200, 100);

static RECT ToRect(const Box& b) { return {b.left, b.top, b.right, b.bottom}; }

// The frame and the split band of one bar; returns the split for the caller's text.
static BarSplit PaintBar(HDC dc, RECT r, int32_t fill, COLORREF fillColour) {
  FrameRect(dc, &r, (HBRUSH)GetStockObject(BLACK_BRUSH));
  BarSplit split = SplitBar({r.left, r.top, r.right, r.bottom}, fill);
  if (split.hasFill) {
    HBRUSH brush = CreateSolidBrush(fillColour);
    RECT part = ToRect(split.fillPart);
    FillRect(dc, &part, brush);
    DeleteObject(brush);
  }
  if (split.hasWhite) {
    RECT part = ToRect(split.whitePart);
    FillRect(dc, &part, (HBRUSH)GetStockObject(WHITE_BRUSH));
  }
  return split;
}

void DrawInstallBar(void* context, FILE* stream) {
  RECT r = ControlRect(WizardDialog, IDC_INSTALL_BAR);
  int32_t width = r.right - r.left;
  if (stream != NULL) FollowCarrier(stream, width);

  HDC dc = (HDC)context;
  if (dc == NULL) dc = GetDC(WizardDialog);
  if (dc == NULL) return;
  BarSplit split = PaintBar(dc, r, InstallBarFill, GetNearestColor(dc, INSTALL_FILL));
  if (split.hasWhite) {
    COLORREF oldText = SetTextColor(dc, RGB(255, 0, 0));
    COLORREF oldBack = SetBkColor(dc, RGB(255, 255, 255));
    PercentText(workText, WORK_TEXT_SIZE, InstallBarFill, width);
    int top = split.whitePart.top, bottom = split.whitePart.bottom;
    RECT clip = {split.whitePart.left + 4, top, split.whitePart.right, bottom};
    ExtTextOutA(dc, split.whitePart.left + 4, top + (bottom - top) / 5, ETO_CLIPPED, &clip,
                workText, (UINT)TextLength(workText), NULL);
    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBack);
  }
  if (context == NULL) ReleaseDC(WizardDialog, dc);
}

void DrawFileBar(void* context, uint32_t done, uint32_t total) {
  HDC dc = (HDC)context;
  if (dc == NULL) dc = GetDC(WizardDialog);
  if (dc == NULL) return;
  RECT r = ControlRect(WizardDialog, IDC_FILE_BAR);
  uint32_t fill = FileBarFillFor((uint32_t)(r.right - r.left), done, total);
  // A fill too wide for 32 signed bits paints the whole band, as any fill past its end does.
  PaintBar(dc, r, fill > 0x7FFFFFFF ? 0x7FFFFFFF : (int32_t)fill, FILE_FILL);
  if (context == NULL) ReleaseDC(WizardDialog, dc);
}

unsigned FileBarWidth(void) {
  RECT client;
  GetClientRect(GetDlgItem(WizardDialog, IDC_FILE_BAR), &client);
  return (unsigned)(client.right - client.left);
}

void EraseFileBar(void) {
  InvalidateControl(WizardDialog, IDC_FILE_BAR);
  UpdateWindow(WizardDialog);
}
