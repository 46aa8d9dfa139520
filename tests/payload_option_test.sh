#!/usr/bin/env bash
# payload_option_test.sh SOURCE_DIR: a release build configured with -DVEXA_PAYLOAD_DIR (given
# relative to where cmake runs) carries exactly that folder's eleven files, not the demo.
set -euo pipefail
source=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/vexa-payload-option-XXXXXX)
trap 'rm -rf "$work"' EXIT

mkdir "$work/tiny"
for name in $(sed -n 's/^TARGET_FILE([A-Z_]*, "\(.*\)")$/\1/p' "$source/engine/target_files.def"); do
  printf 'tiny payload: %s\r\n' "$name" >"$work/tiny/$name"
done

cd "$work"
cmake -S "$source" -B build -G Ninja -DBUILD_TESTING=OFF -DVEXA_PAYLOAD_DIR=tiny >configure.log
ninja -C build windows >build.log || { tail -30 build.log; exit 1; }

pack=build/vexa-pack
"$pack" pack tiny -o expected.rsrc --resource >/dev/null
if ! "$pack" verify build/windows/vexa-setup.exe --expect-archive expected.rsrc; then
  echo "the carrier does not hold the archive of the folder given as VEXA_PAYLOAD_DIR" >&2
  exit 1
fi
echo "carrier of $(stat -c %s build/windows/vexa-setup.exe) bytes holds the tiny payload"
