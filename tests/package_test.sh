#!/usr/bin/env bash
# package_test.sh SOURCE_DIR OUT_DIR: the release road as a release engineer walks it.
#  1. A release build configured with -DVEXA_PAYLOAD_DIR (relative to where cmake runs)
#     carries exactly that folder's eleven files, not the demo.
#  2. cpack -G DEB in that build gives vexa-pack_VERSION_amd64.deb holding the tool, the
#     stub and the manual page.
#  3. The tool extracted from the package into an empty folder finds its stub by itself and
#     builds, from the same files, the installer the CMake build made, byte for byte.
# Leaves OUT_DIR/files and OUT_DIR/packaged-setup.exe for the Wine test that installs it.
set -euo pipefail
source=$(cd "$1" && pwd)
out=$(realpath -m "$2")
rm -rf "$out"
mkdir -p "$out/files"
cd "$out"

# A fresh payload, unlike the demo: texts, and a program of its own for row 0.
for name in $(sed -n 's/^TARGET_FILE([A-Z_]*, "\(.*\)")$/\1/p' "$source/engine/target_files.def"); do
  printf 'packaged payload: %s\r\nbuilt by the packaged tool\r\n' "$name" >"files/$name"
done

cmake --preset release -S "$source" -B "$out/build" -DVEXA_PAYLOAD_DIR=files >configure.log
cmake --build "$out/build" >build.log 2>&1 || { tail -30 build.log; exit 1; }
made=build/windows/vexa-setup.exe

build/vexa-pack pack files -o expected.rsrc --resource >/dev/null
if ! build/vexa-pack verify "$made" --expect-archive expected.rsrc >/dev/null; then
  echo "the carrier does not hold the archive of the folder given as VEXA_PAYLOAD_DIR" >&2
  exit 1
fi

(cd build && cpack -G DEB >../cpack.log 2>&1) || { tail -30 cpack.log; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
deb=build/vexa-pack_${version}_amd64.deb
[ -f "$deb" ] || { echo "no $deb; cpack made: $(ls build/*.deb 2>/dev/null)" >&2; exit 1; }
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for want in ./usr/bin/vexa-pack ./usr/share/vexa-pack/vexa-stub.exe \
    ./usr/share/man/man1/vexa-pack.1.gz; do
  grep -qx "$want" <<<"$contents" || { echo "$deb lacks $want; it holds:" $contents >&2; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6' <<<"$depends" || { echo "$deb depends on '$depends', not on libc6" >&2; exit 1; }

mkdir root
dpkg-deb -x "$deb" root
zcat root/usr/share/man/man1/vexa-pack.1.gz | grep -q '^\.SS build' ||
  { echo "the manual page has no section for build" >&2; exit 1; }
root/usr/bin/vexa-pack --version
root/usr/bin/vexa-pack build files -o packaged-setup.exe
if ! cmp "$made" packaged-setup.exe; then
  echo "the packaged tool's installer differs from the one the CMake build made" >&2
  exit 1
fi
echo "$deb: the packaged tool built the CMake build's installer ($(stat -c %s packaged-setup.exe) bytes)"
