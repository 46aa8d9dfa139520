#include "tests/fake_wizard.h"

#include "engine/shared.h"
#include "engine/wizard_link.h"

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
  if (stream == nullptr) return;
  if (CarrierSize == 0) {
    long position = ftell(stream);
    fseek(stream, 0, SEEK_END);
    CarrierSize = (int32_t)ftell(stream);
    fseek(stream, position, SEEK_SET);
  }
  if (CarrierSize > 0) InstallBarFill = (int32_t)((int64_t)ftell(stream) * kInstallBarWidth / CarrierSize);
}

void DrawFileBar(void*, uint32_t, uint32_t) { Wizard.fileBarDraws++; }

unsigned FileBarWidth() { return Wizard.barWidth; }

void EraseFileBar() { Wizard.fileBarErases++; }
