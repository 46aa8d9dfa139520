#!/usr/bin/env bash
# clang-tidy (.clang-tidy) and cppcheck over the project's own sources, compiled as the
# native build compiles them and, once they have been built, as the cross build
# (BUILD_DIR/windows) and the fuzz build (build-fuzz) do. Exits non-zero on any finding.
# Usage: tools/lint.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
jobs=$(nproc)

cmake -S . -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
[ -f "$build/windows/compile_commands.json" ] ||
  echo "lint: $build/windows not built yet; checking the native sources only" >&2

# Is this one of our tracked sources (of the fuzz build: only its own)?
own() {
  local rel=${1#"$root"/} db=$2
  case $rel in
    engine/* | pack/* | ui/* | desktop/* | tests/* | bench/* | payload/* | tools/*.cpp) ;;
    *) return 1 ;;
  esac
  [ "$db" != build-fuzz ] || [[ $rel == tests/fuzz/* ]] || return 1
  git ls-files --error-unmatch "$rel" >/dev/null 2>&1
}

# Copies the entries of our own sources from a compile database (CMake writes one
# five-line entry per source) into OUT/compile_commands.json and lists them in OUT/files.
select_own() {
  local db=$1 out=$2
  mkdir -p "$out"
  : >"$out/files"
  grep -o '"file": *"[^"]*"' "$db" | sed 's/^"file": *"//; s/"$//' | sort -u |
    while read -r file; do
      if own "$file" "$(dirname "$db")"; then echo "$file" >>"$out/files"; fi
    done
  awk -v list="$out/files" '
    BEGIN { while ((getline f < list) > 0) keep["\"" f "\""] = 1; print "["; n = 0 }
    /^\{/ { entry = ""; file = "" }
    /^  "file":/ { file = $2; sub(/,$/, "", file) }
    /^\{/, /^\}/ { line = $0; sub(/^\},?$/, "}", line); entry = entry line "\n" }
    /^\}/ { if (file in keep) { printf "%s%s", (n++ ? ",\n" : ""), substr(entry, 1, length(entry) - 1) } }
    END { print "\n]" }' "$db" >"$out/compile_commands.json"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for db in "$build" "$build/windows" build-fuzz; do
  [ -f "$db/compile_commands.json" ] || continue
  side=$work/$(basename "$db")
  select_own "$db/compile_commands.json" "$side"
  [ -s "$side/files" ] || continue
  tidy=(clang-tidy -p "$side" --quiet)
  if [ "$db" = "$build/windows" ]; then
    # clang finds the MinGW C headers but not the cross compiler's C++ library.
    cxx=$(grep -m1 -o '"command": *"[^ ]*' "$db/compile_commands.json" | sed 's/.*"//')
    for dir in $("$cxx" -E -x c++ -v - </dev/null 2>&1 | grep '^ .*/c++'); do
      tidy+=(--extra-arg=-isystem"$dir")
    done
    # The platform's own declarations (WinMain in winbase.h) name their parameters
    # otherwise; the native pass keeps this check for our headers.
    tidy+=(--checks=-readability-inconsistent-declaration-parameter-name)
  fi
  echo "lint: clang-tidy over $(wc -l <"$side/files") sources of $db" >&2
  xargs -r -a "$side/files" -P "$jobs" -n 1 "${tidy[@]}" 2>"$work/tidy.err" || status=1
  grep -v -e 'warnings\? generated\.$' -e '^Suppressed [0-9]* warnings' \
    -e '^Use -header-filter' -e 'warnings\? treated as errors$' "$work/tidy.err" >&2 || true

  # The cross compiler defines _WIN32 itself; cppcheck has to be told.
  extra=()
  if [ "$db" = "$build/windows" ]; then
    extra=(-D_WIN32 -D__MINGW32__ --platform=win32A --library=windows)
  fi
  echo "lint: cppcheck over the sources of $db" >&2
  cppcheck --project="$side/compile_commands.json" --enable=warning,performance,portability \
    --library=googletest "${extra[@]}" --std=c++20 --inline-suppr --quiet -j "$jobs" \
    --error-exitcode=1 || status=1
done
[ $status -eq 0 ] && echo "lint: clean" >&2
exit $status
