#!/usr/bin/env bash
# wine_install_bench.sh BUILD_DIR [RUNS]: builds an installer around the benchmark payload
# (the real files' sizes), walks it under Wine RUNS times and prints the wall time from
# start to the finish page next to the pacing floor (steps x 25 ms), and the stub size.
set -euo pipefail
build=$(cd "$1" && pwd)
runs=${2:-3}
source=$(cd "$(dirname "$0")/.." && pwd)
work=$build/wine-install-bench
mkdir -p "$work"
"$build/bench/make_bench_payload" "$work/payload" >/dev/null

# A release build of its own around that payload (the tool and the installer, no tests).
cmake -S "$source" -B "$work/build" -G Ninja -DBUILD_TESTING=OFF \
  -DVEXA_PAYLOAD_DIR="$work/payload" >/dev/null
ninja -C "$work/build" windows >/dev/null

# The walk finds its programs in BUILD/windows: the test programs of the main build, and
# the benchmark's installer.
mkdir -p "$work/walk/windows"
cp "$build"/windows/*.exe "$work/walk/windows/"
cp -r "$build/windows/payload" "$work/walk/windows/" 2>/dev/null || true
setup=$work/build/windows/vexa-setup.exe
cp "$setup" "$work/walk/windows/vexa-setup.exe"

size=$(stat -c %s "$setup")
closing=$(grep -a -b -o ARNI "$setup" | sed -n 12p | cut -d: -f1)
steps=$(( (closing + 4 + 10000) / 10001 ))
echo "carrier: $size bytes; stub: $(stat -c %s "$work/build/windows/vexa-stub.exe") bytes"
echo "closing marker at $closing: $steps steps, pacing floor $((steps * 25)) ms"
"$build/wine_walk" --timing "$runs" "$work/walk"
