#include "bench/quiet_wizard.h"

#include "engine/install_run.h"
#include "engine/shared.h"
#include "engine/wizard_link.h"
#include "ui/ui_logic.h"

QuietWizard Quiet;

namespace {
// The install bar's width in pixels, as in the dialog.
const int32_t kInstallBarWidth = 300;

// The row being decoded: DecodeSegmentFile runs before the run moves to the next row.
int DecodingRow() {
  int row = Run.segmentIndex;
  return row >= 0 && row < SEGMENT_COUNT ? row : -1;
}
}  // namespace

void ResetQuietWizard() { Quiet = QuietWizard(); }

void SetStatusText(const char*) {}

void ShowErrorBox(const char*, const char* caption) {
  Quiet.errorBoxes++;
  Quiet.lastCaption = caption;
}

// The fill logic stays: the status texts follow the fill, and its seeks belong in the timing.
void DrawInstallBar(void*, FILE* stream) {
  if (stream != nullptr) FollowCarrier(stream, kInstallBarWidth);
}

void DrawFileBar(void*, uint32_t, uint32_t) {
  int row = DecodingRow();
  if (row >= 0) Quiet.fileBarDraws[row]++;
}

// Asked once per decode, just before LzhufDecode starts.
unsigned FileBarWidth() {
  int row = DecodingRow();
  if (row >= 0) Quiet.decodeStart[row] = QuietWizard::Clock::now();
  return 250;
}

// Called once per decode, as LzhufDecode finishes.
void EraseFileBar() {
  int row = DecodingRow();
  if (row >= 0) Quiet.decodeEnd[row] = QuietWizard::Clock::now();
}
