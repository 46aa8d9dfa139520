#!/bin/sh
# Instructions per output byte of the installer's decoder on payload row 0, counted by
# callgrind inside LzhufDecode only (its libc stream calls included), so building the
# payload, encoding it and process start-up are left out.
# Usage: bench/callgrind.sh BUILD_DIR
set -eu
build=${1:?usage: callgrind.sh BUILD_DIR}
cmake --build "$build" --target decode_once make_bench_payload >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# The body is packed natively; under callgrind only the decode runs.
"$build/bench/decode_once" --write-body "$work/body"
"$build/bench/make_bench_payload" "$work/payload" >/dev/null

valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
    --collect-atstart=no --toggle-collect='LzhufDecode*' \
    "$build/bench/decode_once" "$work/body" "$work/decoded" 2>"$work/valgrind.log" || {
  cat "$work/valgrind.log" >&2
  exit 1
}
cmp "$work/decoded" "$work/payload/vexa32.exe"

instructions=$(sed -n 's/^totals: *\([0-9]*\).*/\1/p' "$work/callgrind.out")
bytes=$(wc -c <"$work/decoded")
if [ -z "$instructions" ] || [ "$instructions" -eq 0 ]; then
  echo "callgrind counted nothing inside LzhufDecode" >&2
  exit 1
fi
awk -v i="$instructions" -v b="$bytes" 'BEGIN {
  printf "decode: %.1f instructions per output byte (%d instructions, %d bytes)\n", i / b, i, b
}'
