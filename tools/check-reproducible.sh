#!/usr/bin/env bash
# check-reproducible.sh BUILD_DIR: builds the installer a second time in another folder
# and compares it with BUILD_DIR's, byte for byte.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
other=$(mktemp -d /tmp/vexa-repro-XXXXXX)
trap 'rm -rf "$other"' EXIT
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/windows/CMakeCache.txt"; }
cmake -S "$source" -B "$other" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE="$(cache CMAKE_BUILD_TYPE)" \
  -DVEXA_PACK="$(cache VEXA_PACK)" -DVEXA_MAKE_ICONS="$(cache VEXA_MAKE_ICONS)" \
  -DVEXA_MAKE_HELP="$(cache VEXA_MAKE_HELP)" \
  -DVEXA_PAYLOAD_DIR="$(cache VEXA_PAYLOAD_DIR)" >/dev/null
ninja -C "$other" vexa-setup >/dev/null
if cmp "$build/windows/vexa-setup.exe" "$other/vexa-setup.exe"; then
  echo "reproducible: $(sha256sum <"$other/vexa-setup.exe" | cut -c1-16) ($(stat -c %s "$other/vexa-setup.exe") bytes)"
else
  echo "the second build differs" >&2
  exit 1
fi
