#!/usr/bin/env bash
# Installs what is missing, builds the installer from the default payload and runs it under
# Wine: on the user's display when there is one; otherwise on a private Xvfb display, where
# a driver walks it through every page and the page screenshots are the result.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset dev >/dev/null
ninja -C build
setup=build/windows/vexa-setup.exe
echo "built $setup ($(stat -c %s "$setup") bytes); archive check: build/windows/vexa-setup.verify.txt"

if [ -z "${DISPLAY:-}" ]; then
  exec build/wine_walk build
fi
# Where the host cannot execute 32-bit code, Wine runs under qemu-user (tools/wine-road.sh).
mapfile -t road < <(tools/wine-road.sh build)
[ ${#road[@]} -ge 1 ] || exit 1
echo "${road[0]}"
[ -z "${road[1]:-}" ] || PATH=${road[1]}:$PATH
# A prefix of its own, so the user's own Wine setup is left alone.
prefix=$PWD/build/wineprefix-run
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
[ -f "$prefix/system.reg" ] || wineboot -i >/dev/null 2>&1
cp "$setup" "$prefix/drive_c/vexa-setup.exe"
cd "$prefix/drive_c"
rc=0
wine vexa-setup.exe || rc=$?
echo "vexa-setup.exe exited with $rc"
exit $rc
