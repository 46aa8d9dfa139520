#!/usr/bin/env bash
# The native unit tests built with AddressSanitizer and UndefinedBehaviorSanitizer, and with
# the Huffman tree checked after every symbol, in build-asan/ (Debug); then runs them. Only
# the native test programs are built, so the nested Windows build is not started.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-asan
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all"
flags="$sanitize -fno-omit-frame-pointer -DVEXA_CHECK_TREE"
tests=(engine_tests pack_tests ui_tests hostile_input_tests)

cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >/dev/null
ninja -C "$out" "${tests[@]}" >"$out/build.log" || { cat "$out/build.log" >&2; exit 1; }

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for test in "${tests[@]}"; do
  if "$out/$test" --gtest_brief=1 >"$out/$test.log" 2>&1; then
    echo "sanitize: $test: $(grep -E '^\[  PASSED  \]' "$out/$test.log")"
  else
    echo "sanitize: $test: FAILED" >&2
    grep -E '^\[  FAILED  \]|ERROR: |runtime error|SUMMARY|LZHUF tree' "$out/$test.log" >&2 || tail -30 "$out/$test.log" >&2
    status=1
  fi
done
exit $status
