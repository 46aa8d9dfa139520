#include "tests/fake_wizard.h"

#include "engine/shared.h"
#include "engine/wizard_link.h"
#include "ui/ui_logic.h"

FakeWizard Wizard;

namespace {
// The install bar's width in pixels.
const int32_t kInstallBarWidth = 300;
}  // namespace

void ResetFakeWizard() { Wizard = FakeWizard(); }

void SetStatusText(const char* text) { Wizard.statusTexts.push_back(text); }

void ShowErrorBox(const char* text, const char* caption) {
  Wizard.boxes.push_back({caption, text});
  if (Wizard.whileBoxIsOpen) Wizard.whileBoxIsOpen();
}

void DrawInstallBar(void*, FILE* stream) {
  Wizard.installBarDraws++;
  if (stream != nullptr) FollowCarrier(stream, kInstallBarWidth);
}

void DrawFileBar(void*, uint32_t, uint32_t) { Wizard.fileBarDraws++; }

unsigned FileBarWidth() { return Wizard.barWidth; }

void EraseFileBar() { Wizard.fileBarErases++; }
