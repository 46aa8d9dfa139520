#!/usr/bin/env bash
# Installs what is missing, builds the installer and runs it under Wine: on the user's
# display when there is one, otherwise on a private Xvfb display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja >/dev/null
ninja -C build
setup=build/windows/vexa-setup.exe
echo "built $setup ($(stat -c %s "$setup") bytes)"

prefix=build/wineprefix-run
xvfb_pid=
if [ -z "${DISPLAY:-}" ]; then
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$display
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
fi
rc=0
tools/wine-run.sh "$prefix" "$setup" || rc=$?
WINEPREFIX=$PWD/$prefix wineserver -k 2>/dev/null || true
echo "vexa-setup.exe exited with $rc"
exit $rc
