#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz", tests/fuzz: clang's libFuzzer with AddressSanitizer,
# UndefinedBehaviorSanitizer and the tree check) into build-fuzz/ and runs each for SECONDS
# (default 60), one after the other; prints runs and coverage per target.
# The corpus grows in build-fuzz/corpus/TARGET from run to run; tests/fuzz/corpus/TARGET
# keeps what long runs found beyond the generated seeds, and every run starts from it too.
# An input that breaks a rule fails the script and is kept in build-fuzz/artifacts/; once
# mended, add it to tests/fuzz/regressions/TARGET/. The normal test run replays both.
# Usage: tools/fuzz.sh [SECONDS [TARGET...]]   (targets: decode scan install)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode scan install)
out=build-fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >"$out/build.log" || { cat "$out/build.log" >&2; exit 1; }
bin=$out/tests/fuzz
rm -rf "$out/seeds"
"$bin/make_seeds" "$out/seeds"
mkdir -p "$out/artifacts" "$out/logs"

# Longer inputs only slow the decoder down (every symbol is followed by the tree check);
# 8 KiB still reach a tree rebuild.
max_len() { case $1 in decode) echo 8192 ;; *) echo 16384 ;; esac; }

status=0
for target in "${targets[@]}"; do
  corpus=$out/corpus/$target
  log=$out/logs/$target.log
  mkdir -p "$corpus"
  if "$bin/${target}_fuzz" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
      -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$out/artifacts/$target-" "$corpus" "$out/seeds/$target" \
      "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    outcome=ok
  else
    outcome=FAILED
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  line=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$line")
  echo "fuzz: $target: $outcome, ${runs:-?} runs in ${seconds} s, cov ${cov:-?}, ft ${ft:-?}," \
    "corpus $(find "$corpus" -type f | wc -l) inputs"
  if [ $outcome = FAILED ]; then
    grep -E 'fuzz check failed|ERROR: |runtime error|SUMMARY|Test unit written|LZHUF tree' "$log" >&2 || tail -20 "$log" >&2
  fi
done
exit $status
