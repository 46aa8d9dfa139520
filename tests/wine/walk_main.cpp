// wine_walk [BUILD_DIR]: runs the installer under Wine on a private X display, walks the
// wizard with every default to the finish page and saves a screenshot of each page into
// BUILD_DIR/screenshots/. Needs no display of its own.
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "walk.h"

int main(int argc, char** argv) {
  using namespace winetest;
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
    std::cerr << "usage: wine_walk [BUILD_DIR]\n";
    return 2;
  }
  if (argc == 2) setenv("VEXA_WINE_UI_BUILD_DIR", argv[1], 1);
  try {
    Session session({"walk", true});
    fs::path dir = session.Paths().screenshots;
    WalkReport report = WalkWithDefaults(session, dir);
    std::cout << "finish page reached " << report.secondsToFinishPage << " s after start ("
              << report.secondsInstalling << " s from Install)\n";
    if (!report.notes.empty()) std::cout << report.notes;
    std::cout << "screenshots in " << dir.string() << ":\n";
    for (const fs::path& shot : report.shots) std::cout << "  " << shot.filename().string() << "\n";
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "wine_walk failed: " << error.what() << "\n";
    return 1;
  }
}
