// The wizard dialog as the engine tests see it: status texts, message boxes and bar
// drawing are recorded; the install bar's fill follows the carrier as the real one does.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ShownBox {
  std::string caption;
  std::string text;
};

struct FakeWizard {
  std::vector<std::string> statusTexts;
  std::vector<ShownBox> boxes;
  int installBarDraws = 0;
  int fileBarDraws = 0;
  int fileBarErases = 0;
  unsigned barWidth = 200;
  std::function<void()> whileBoxIsOpen;  // runs inside the box, as nested messages do
};

extern FakeWizard Wizard;

void ResetFakeWizard();
