#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja >/dev/null
ninja -C build
ctest --test-dir build --output-on-failure -j2
# Hostile input: the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, then
# each fuzz target for a minute.
tools/sanitize.sh
tools/fuzz.sh 60
# Lint after the build: it reads both sides' compile databases.
tools/lint.sh
