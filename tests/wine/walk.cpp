#include "walk.h"

#include <chrono>
#include <thread>

namespace winetest {

const char* const PAGE_NAMES[5] = {"welcome", "licence", "options", "progress", "finish"};

namespace {

fs::path ShotName(const fs::path& dir, int page) {
  return dir / (std::to_string(page + 1) + "-" + PAGE_NAMES[page] + ".png");
}

}  // namespace

void Settle(Session& s) {
  s.Must({"sync", "wizard"});
  // Wine copies a window's drawing to the X server when its thread waits for messages.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

WalkReport WalkWithDefaults(Session& s, const fs::path& shotDir) {
  WalkReport report;
  bool shots = !shotDir.empty();
  auto shoot = [&](int page) {
    if (!shots) return;
    Settle(s);
    report.shots.push_back(s.Shot(ShotName(shotDir, page)));
  };
  if (shots) fs::create_directories(shotDir);
  s.WaitWizard();
  report.secondsToWizard = s.SecondsSinceInstallerStart();
  shoot(0);
  s.Click(1);
  s.WaitText(1, "&Yes", 10000);
  shoot(1);
  s.Click(1);
  s.WaitText(1, "&Install", 10000);
  shoot(2);

  auto installStart = std::chrono::steady_clock::now();
  s.Click(1);
  if (shots) {
    // The demo run is short: hold the installer still once a file is being extracted, so
    // the progress page stays on screen for its picture.
    Reply held =
        s.Call({"hold", "170", "Extracting file: *", "600000", "wizard", "2", "&Finish"}, 620000);
    if (held.Ok()) {
      report.shots.push_back(s.Shot(ShotName(shotDir, 3)));
      s.Must({"release"});
    } else {
      report.notes +=
          "the progress page could not be held for its screenshot: " + Unescape(held.head) + "\n";
    }
  }
  s.WaitText(2, "&Finish", 600000);
  report.secondsInstalling =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - installStart).count();
  report.secondsToFinishPage = s.SecondsSinceInstallerStart();
  shoot(4);
  return report;
}

}  // namespace winetest
