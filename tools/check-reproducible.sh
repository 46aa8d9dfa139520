#!/usr/bin/env bash
# check-reproducible.sh BUILD_DIR: builds the installer a second time, from scratch with the
# "release" preset in another folder (the same payload folder), and compares it with
# BUILD_DIR's, byte for byte.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
other=$(mktemp -d /tmp/vexa-repro-XXXXXX)
trap 'rm -rf "$other"' EXIT
payload=$(sed -n 's/^VEXA_PAYLOAD_DIR:[A-Z]*=//p' "$build/CMakeCache.txt")
cd "$source"
cmake --preset release -B "$other" -DVEXA_PAYLOAD_DIR="$payload" >/dev/null
cmake --build "$other" --target windows >"$other/build.log" 2>&1 || { tail -30 "$other/build.log" >&2; exit 1; }
if cmp "$build/windows/vexa-setup.exe" "$other/windows/vexa-setup.exe"; then
  echo "reproducible: $(sha256sum <"$other/windows/vexa-setup.exe" | cut -c1-16)" \
    "($(stat -c %s "$other/windows/vexa-setup.exe") bytes)"
else
  echo "the second build differs" >&2
  exit 1
fi
