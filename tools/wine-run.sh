#!/usr/bin/env bash
# wine-run.sh PREFIX PROGRAM [ARGS...]: runs a console test program under 32-bit Wine in
# the given prefix, booting the prefix first when it does not exist yet.
set -euo pipefail
prefix=$1; shift
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
