#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (run as root). qemu-user
# and gcc-multilib carry Wine where the host cannot execute 32-bit code (tools/wine-road.sh);
# they are installed everywhere, so that road is tested on every host.
# Idempotent: when every package is present it prints nothing and exits 0.
set -euo pipefail

native_pkgs=(cmake ninja-build g++ make pkg-config
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  googletest libgtest-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-tidy cppcheck valgrind
  xvfb xdotool imagemagick osslsigncode openssl jq
  libcli11-dev nlohmann-json3-dev help2man dpkg-dev file
  qemu-user gcc-multilib)
wine_pkgs=(wine wine32:i386 wine64)

installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed$'; }

missing=()
for p in "${native_pkgs[@]}" "${wine_pkgs[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
echo "setup: installing ${missing[*]}" >&2
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
# The i386 index of the security suite sometimes fails to download; the main suite suffices.
apt-get update -qq >/dev/null 2>&1 || true
apt-get install -y -qq --no-install-recommends "${native_pkgs[@]}" >/dev/null

# Pinned to the main suite so the amd64 and i386 Wine libraries agree. When an amd64
# library came from the security suite and its i386 twin cannot, both (and the other
# installed packages built from the same source) are pinned to the i386 candidate.
pins=()
for attempt in 1 2 3 4 5 6; do
  if out=$(apt-get install -y -q -t bookworm --no-install-recommends --allow-downgrades \
      "${wine_pkgs[@]}" "${pins[@]}" 2>&1); then
    echo "setup: done" >&2
    exit 0
  fi
  unmet=$( (grep -oE 'Depends: [a-z0-9.+-]+:i386' <<<"$out" | sed 's/Depends: //; s/:i386//' | sort -u) || true)
  if [ -z "$unmet" ]; then
    echo "$out" >&2
    exit 1
  fi
  for pkg in $unmet; do
    ver=$(apt-cache policy "$pkg:i386" | awk '/Candidate:/ {print $2}')
    src=$(apt-cache show "$pkg:i386" 2>/dev/null | awk -F': ' '/^Source:/ {print $2; exit}' | cut -d' ' -f1)
    src=${src:-$pkg}
    pins+=("$pkg:i386=$ver")
    for bin in $(dpkg-query -W -f='${binary:Package} ${source:Package}\n' | awk -v s="$src" '$2 == s {print $1}'); do
      apt-cache madison "${bin%%:*}" | grep -q " $ver " && pins+=("${bin%%:*}=$ver")
    done
  done
  echo "setup: pinning ${pins[*]}" >&2
done
echo "$out" >&2
exit 1
