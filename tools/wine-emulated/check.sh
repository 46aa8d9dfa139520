#!/usr/bin/env bash
# check.sh BUILD_DIR: the emulated road's preloaded fixes, each against the qemu fault it
# undoes (qemu_check.c). Runs on every host: qemu-i386 emulates the i386 program either way.
# Without the fixes the faults are expected (shown, not required: a fixed qemu may lack
# them); with the fixes every check must pass.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath -m "$1")
mapfile -t road < <(VEXA_WINE_ROAD=emulated "$here/../wine-road.sh" "$build")
[ -n "${road[1]:-}" ] || exit 1
preload=$(dirname "${road[1]}")/preload/lib/i386-linux-gnu/libvexa-qemu.so
program=$build/wine-emulated/qemu_check
gcc -m32 -O2 -pthread -Wall -Wextra -Werror -o "$program" "$here/qemu_check.c"

echo "qemu-i386 alone:"
qemu-i386 "$program" || true
echo "with the preloaded fixes:"
qemu-i386 -E LD_PRELOAD="$preload" "$program"
