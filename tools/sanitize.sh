#!/usr/bin/env bash
# The native unit tests built with AddressSanitizer and UndefinedBehaviorSanitizer, and with
# the Huffman tree checked after every symbol (preset "sanitize": build-asan/, Debug, native
# side only); then run through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-asan

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize >"$out/build.log" || { cat "$out/build.log" >&2; exit 1; }

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if ctest --preset sanitize >"$out/ctest.log" 2>&1; then
  echo "sanitize: $(grep -E 'tests passed' "$out/ctest.log")"
else
  # ctest's summary names the failed tests; their output (with the sanitizer's report)
  # stands above it.
  grep -E 'ERROR: |runtime error|SUMMARY|LZHUF tree|\*\*\*Failed|\(Failed\)|\(Subprocess|tests passed' \
    "$out/ctest.log" >&2 || tail -40 "$out/ctest.log" >&2
  exit 1
fi
