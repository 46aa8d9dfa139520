#!/usr/bin/env bash
# wine-run.sh BUILD PREFIX PROGRAM [ARGS...]: runs a console test program under 32-bit Wine
# in the given prefix, on this host's road (tools/wine-road.sh), booting the prefix first
# when it does not exist yet.
set -euo pipefail
build=$1 prefix=$2; shift 2
mapfile -t road < <("$(dirname "$0")/wine-road.sh" "$build")
[ ${#road[@]} -ge 1 ] || exit 1
echo "${road[0]}"
[ -z "${road[1]:-}" ] || PATH=${road[1]}:$PATH
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
) 9>"$prefix.lock"
rc=0
wine "$@" || rc=$?
exit $rc
