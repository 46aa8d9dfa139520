// wine_walk [BUILD_DIR]: runs the installer under Wine on a private X display, walks the
// wizard with every default to the finish page and saves a screenshot of each page into
// BUILD_DIR/screenshots/. Needs no display of its own.
// wine_walk --timing RUNS [BUILD_DIR]: the same walk without screenshots, RUNS times, each in
// a fresh prefix; prints the wall times.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>

#include "walk.h"

namespace {

int Usage() {
  std::cerr << "usage: wine_walk [BUILD_DIR]\n       wine_walk --timing RUNS [BUILD_DIR]\n";
  return 2;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace winetest;
  int runs = 0;
  int next = 1;
  if (argc > 1 && strcmp(argv[1], "--timing") == 0) {
    if (argc < 3 || (runs = atoi(argv[2])) < 1) return Usage();
    next = 3;
  }
  if (argc > next + 1 || (argc == next + 1 && argv[next][0] == '-')) return Usage();
  if (argc == next + 1) setenv("VEXA_WINE_UI_BUILD_DIR", argv[next], 1);
  try {
    if (runs == 0) {
      Session::Options options;
      options.name = "walk";
      Session session(options);
      fs::path dir = session.Paths().screenshots;
      WalkReport report = WalkWithDefaults(session, dir);
      std::cout << "finish page reached " << report.secondsToFinishPage << " s after start ("
                << report.secondsInstalling << " s from Install)\n";
      if (!report.notes.empty()) std::cout << report.notes;
      std::cout << "screenshots in " << dir.string() << ":\n";
      for (const fs::path& shot : report.shots)
        std::cout << "  " << shot.filename().string() << "\n";
      return 0;
    }
    std::vector<double> wizard, finish, install;
    std::cout << std::fixed << std::setprecision(3);
    for (int run = 1; run <= runs; run++) {
      Session::Options options;
      options.name = "walk-timing";
      Session session(options);
      WalkReport r = WalkWithDefaults(session, fs::path());
      wizard.push_back(r.secondsToWizard);
      finish.push_back(r.secondsToFinishPage);
      install.push_back(r.secondsInstalling);
      std::cout << "run " << run << ": wizard " << r.secondsToWizard << " s, finish page "
                << r.secondsToFinishPage << " s after start, " << r.secondsInstalling
                << " s from Install\n";
    }
    std::cout << "median: wizard " << Median(wizard) << " s, finish page " << Median(finish)
              << " s after start, " << Median(install) << " s from Install\n";
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "wine_walk failed: " << error.what() << "\n";
    return 1;
  }
}
