// The walk through the wizard with every default, from the welcome page to the finish page,
// with a screenshot of each page. Used by wine_walk and by the tests.
#pragma once

#include <string>
#include <vector>

#include "harness.h"

namespace winetest {

// The wizard's page names, in order; screenshots are named "N-name.png".
extern const char* const PAGE_NAMES[5];

struct WalkReport {
  std::vector<fs::path> shots;
  double secondsToWizard = 0;      // installer start to wizard visible
  double secondsToFinishPage = 0;  // installer start to finish page shown
  double secondsInstalling = 0;    // Install pressed to finish page shown
  std::string notes;               // what could not be captured, if anything
};

// Lets the installer's thread catch up and its window contents reach the screen before a
// screenshot; waits only for the installer, never asserts on time.
void Settle(Session& s);

// With an empty shotDir nothing is photographed and nothing waits for the screen: the
// times are then those of the installer alone (and the driver's polling, 10 ms).
WalkReport WalkWithDefaults(Session& s, const fs::path& shotDir);

}  // namespace winetest
