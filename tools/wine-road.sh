#!/usr/bin/env bash
# wine-road.sh BUILD_DIR: how this host runs the 32-bit Windows programs under Wine.
# Prints two lines: the road in one sentence, then the folder to put first on PATH (empty
# on the native road). Where the host cannot execute 32-bit code, or VEXA_WINE_ROAD=emulated
# asks for it, Debian's i386 Wine runs under qemu-user from a tree made in BUILD_DIR.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath -m "${1:?usage: wine-road.sh BUILD_DIR}")
loader=/usr/lib/wine/wine

# An i386 program the kernel refuses to load exits 126 with "Exec format error".
runs32() {
  local out rc=0
  out=$("$loader" --version 2>&1) || rc=$?
  [ "$rc" -eq 0 ] && return 0
  if grep -q 'Exec format error' <<<"$out" || [ "$rc" -eq 126 ]; then return 1; fi
  echo "wine-road: $loader --version failed ($rc): $out" >&2
  exit 1
}

case "${VEXA_WINE_ROAD:-}" in
  "")
    if runs32; then
      printf 'Wine road: native i386\n\n'
      exit 0
    fi
    reason="this host cannot execute 32-bit code" ;;
  native)
    if ! runs32; then
      echo "wine-road: VEXA_WINE_ROAD=native, but this host cannot execute 32-bit code" >&2
      exit 1
    fi
    printf 'Wine road: native i386\n\n'
    exit 0 ;;
  emulated) reason="VEXA_WINE_ROAD=emulated" ;;
  *)
    echo "wine-road: VEXA_WINE_ROAD must be native or emulated, not '$VEXA_WINE_ROAD'" >&2
    exit 2 ;;
esac

for tool in qemu-i386 gcc; do
  command -v "$tool" >/dev/null || { echo "wine-road: $tool is missing; run tools/setup.sh" >&2; exit 1; }
done

# The tree mirrors Wine's own layout, because the loader finds ntdll.so and its data
# relative to its own folder:
#   lib/wine/wine          a host script: qemu-i386 on the copied loader. Wine starts every
#                          child as <loader's folder>/wine, so children come here too.
#   lib/wine/wine.i386     the copied i386 loader
#   lib/i386-linux-gnu, share/wine      links to the installed Wine
#   preload/$LIB/libvexa-qemu.so        the fixes for the emulated Windows processes
#                                       (i386) and for wineserver (x86-64), which all
#                                       inherit the one LD_PRELOAD
#   bin/                   wine, wine-stable, wineserver for PATH
sources=("$here/wine-emulated/qemu_fixes.c" "$here/wine-emulated/host_fixes.c" "$loader" "$0")
stamp=$(cat "${sources[@]}" | sha256sum | cut -c1-16)
# One tree per version of its sources, so programs running from an older one keep working.
tree=$build/wine-emulated/$stamp
mkdir -p "$build/wine-emulated"
exec 9>"$build/wine-emulated/lock"
flock 9
if [ ! -d "$tree" ]; then
  work=$tree.new
  rm -rf "$work"
  mkdir -p "$work/lib/wine" "$work/bin" "$work/share" \
    "$work/preload/lib/i386-linux-gnu" "$work/preload/lib/x86_64-linux-gnu"
  cp "$loader" "$work/lib/wine/wine.i386"
  ln -s /usr/lib/i386-linux-gnu "$work/lib/i386-linux-gnu"
  ln -s /usr/share/wine "$work/share/wine"
  ln -s /usr/lib/wine/wineserver "$work/lib/wine/wineserver"
  cat >"$work/lib/wine/wine" <<SCRIPT
#!/bin/sh
# i386 Wine under qemu-user; see tools/wine-road.sh.
# Without the loader's re-exec (it would find no preloader and start this script again);
# but the loader answers --version and --help only on that first pass.
case "\${1:-}" in --version|--help) ;; *) export WINELOADERNOEXEC=1 ;; esac
export LD_PRELOAD='$tree/preload/\$LIB/libvexa-qemu.so'
exec qemu-i386 -0 '$tree/lib/wine/wine' '$tree/lib/wine/wine.i386' "\$@"
SCRIPT
  chmod +x "$work/lib/wine/wine"
  if ! gcc -m32 -shared -fPIC -O2 -fno-stack-protector -Wall -Wextra -Werror \
      -o "$work/preload/lib/i386-linux-gnu/libvexa-qemu.so" "$here/wine-emulated/qemu_fixes.c" \
      -ldl -lpthread 2>"$work/build.log" ||
    ! gcc -shared -fPIC -O2 -Wall -Wextra -Werror \
      -o "$work/preload/lib/x86_64-linux-gnu/libvexa-qemu.so" "$here/wine-emulated/host_fixes.c" \
      -ldl 2>>"$work/build.log"; then
    echo "wine-road: cannot build the preload libraries (gcc-multilib?): see $work/build.log" >&2
    exit 1
  fi
  ln -s ../lib/wine/wine "$work/bin/wine"
  ln -s ../lib/wine/wine "$work/bin/wine-stable"
  ln -s /usr/lib/wine/wineserver "$work/bin/wineserver"
  mv "$work" "$tree"
fi
printf 'Wine road: emulated i386 (%s)\n%s\n' "$reason" "$tree/bin"
