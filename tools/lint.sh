#!/usr/bin/env bash
# clang-format over every tracked C and C++ file; then clang-tidy (.clang-tidy) and cppcheck
# over the project's own sources, compiled as the native build compiles them and, once they
# have been built, as the cross build (BUILD_DIR/windows) and the fuzz build (build-fuzz) do.
# Exits non-zero on any finding.
# Usage: tools/lint.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
jobs=$(nproc)
status=0

echo "lint: clang-format over the tracked sources" >&2
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror || status=1

cmake --preset dev -B "$build" >/dev/null
[ -f "$build/windows/compile_commands.json" ] ||
  echo "lint: $build/windows not built yet; checking the native sources only" >&2

own_dirs=(engine pack ui desktop tests bench payload)
for db in "$build" "$build/windows" build-fuzz; do
  [ -f "$db/compile_commands.json" ] || continue
  # Our own sources (of the fuzz build: only its own), as a regex over the database's
  # absolute paths and as cppcheck filters, which match paths relative to the tree.
  if [ "$db" = build-fuzz ]; then
    regex="^$root/tests/fuzz/"
    filters=(--file-filter='tests/fuzz/*')
  else
    regex="^$root/($(IFS='|'; echo "${own_dirs[*]}"))/|^$root/tools/[^/]*\\.cpp\$"
    filters=()
    for dir in "${own_dirs[@]}"; do filters+=(--file-filter="$dir/*"); done
    filters+=(--file-filter='tools/*.cpp')
  fi

  tidy=(run-clang-tidy -p "$db" -quiet -j "$jobs")
  if [ "$db" = "$build/windows" ]; then
    # clang finds the MinGW C headers but not the cross compiler's C++ library.
    cxx=$(grep -m1 -o '"command": *"[^ ]*' "$db/compile_commands.json" | sed 's/.*"//')
    for dir in $("$cxx" -E -x c++ -v - </dev/null 2>&1 | grep '^ .*/c++'); do
      tidy+=(-extra-arg=-isystem"$dir")
    done
    # The platform's own declarations (WinMain in winbase.h) name their parameters
    # otherwise; the native pass keeps this check for our headers.
    tidy+=(-checks=-readability-inconsistent-declaration-parameter-name)
  fi
  echo "lint: clang-tidy over the sources of $db" >&2
  # run-clang-tidy echoes every invocation; only the findings are of interest.
  "${tidy[@]}" "$regex" >"$db/lint-tidy.log" 2>&1 || status=1
  grep -v -e '^clang-tidy' -e 'warnings\? generated\.$' -e '^Suppressed [0-9]* warnings' \
    -e '^Use -header-filter' -e 'warnings\? treated as errors$' -e '^$' "$db/lint-tidy.log" >&2 ||
    true

  # The cross compiler defines _WIN32 itself; cppcheck has to be told.
  extra=()
  if [ "$db" = "$build/windows" ]; then
    extra=(-D_WIN32 -D__MINGW32__ --platform=win32A --library=windows)
  fi
  echo "lint: cppcheck over the sources of $db" >&2
  cppcheck --project="$db/compile_commands.json" "${filters[@]}" \
    --enable=warning,performance,portability --library=googletest "${extra[@]}" --std=c++20 \
    --inline-suppr --quiet -j "$jobs" --error-exitcode=1 || status=1
done
[ $status -eq 0 ] && echo "lint: clean" >&2
exit $status
