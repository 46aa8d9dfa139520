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

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/windows/CMakeCache.txt"; }
cmake -S "$source" -B "$work/windows-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DVEXA_PACK="$(cache VEXA_PACK)" -DVEXA_MAKE_ICONS="$(cache VEXA_MAKE_ICONS)" \
  -DVEXA_MAKE_HELP="$(cache VEXA_MAKE_HELP)" -DVEXA_VECTOR_DIR="$(cache VEXA_VECTOR_DIR)" \
  -DVEXA_PAYLOAD_DIR="$work/payload" >/dev/null
ninja -C "$work/windows-build" vexa-setup >/dev/null

# The walk finds its programs in BUILD/windows: the test programs of the main build, and
# the benchmark's installer.
mkdir -p "$work/walk/windows"
cp "$build"/windows/*.exe "$work/walk/windows/"
cp -r "$build/windows/payload" "$work/walk/windows/" 2>/dev/null || true
setup=$work/windows-build/vexa-setup.exe
cp "$setup" "$work/walk/windows/vexa-setup.exe"

rsrc=$work/windows-build/generated/payload.rsrc
size=$(stat -c %s "$setup")
closing=$(grep -a -b -o ARNI "$setup" | sed -n 12p | cut -d: -f1)
steps=$(( (closing + 4 + 10000) / 10001 ))
echo "carrier: $size bytes; stub (carrier minus RCDATA 4): $((size - $(stat -c %s "$rsrc"))) bytes"
echo "closing marker at $closing: $steps steps, pacing floor $((steps * 25)) ms"
"$build/wine_walk" --timing "$runs" "$work/walk"
