#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset dev >/dev/null
ninja -C build
ctest --test-dir build --output-on-failure -j2
# On a host that runs 32-bit code, the Wine tests once more on the emulated road, the one
# hosts without 32-bit support take, so it keeps working wherever the suite runs.
if [ -z "${VEXA_WINE_ROAD:-}" ] && tools/wine-road.sh build | grep -q '^Wine road: native'; then
  # The package test made the packaged tool's installer already; it is not built again.
  VEXA_WINE_ROAD=emulated ctest --test-dir build --output-on-failure -j2 -L wine \
    -FS packaged_installer
fi
# Hostile input: the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, then
# each fuzz target for a minute.
tools/sanitize.sh
tools/fuzz.sh 60
# Lint after the build: it reads both sides' compile databases.
tools/lint.sh
