#!/usr/bin/env bash
# stub_weight.sh [BUILD_DIR]: where the carrier's bytes go. The stub (vexa-stub.exe) is the
# carrier without its payload archive (RCDATA 4); its link map (BUILD_DIR/windows/
# vexa-stub.map) tells which objects and runtime pieces fill each section.
set -euo pipefail
build=${1:-build}
exe=$build/windows/vexa-stub.exe
map=$build/windows/vexa-stub.map
for f in "$exe" "$map" "$build/windows/vexa-setup.exe"; do
  [ -f "$f" ] || { echo "stub_weight: $f missing; build first" >&2; exit 1; }
done
echo "carrier $(stat -c %s "$build/windows/vexa-setup.exe") bytes, stub $(stat -c %s "$exe") bytes"
echo
echo "sections (raw size in the file, 512-byte aligned):"
i686-w64-mingw32-objdump -h "$exe" | awk '
  function hex(s,   n, i, d) {
    sub(/^0x/, "", s); n = 0
    for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(tolower(s), i, 1)) - 1
    return n
  }
  /^ *[0-9]+ \./ { raw = hex($3); printf "  %-8s %6d\n", $2, $2 == ".bss" ? 0 : int((raw + 511) / 512) * 512 }'
echo
echo "input sections by object (bytes; the largest of each output section):"
awk '
  function hex(s,   n, i, d) {
    sub(/^0x/, "", s); n = 0
    for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(tolower(s), i, 1)) - 1
    return n
  }
  /^\.[a-z_]+ / { out = $1 }
  # An input section line names its size and object, on one line or after a long name.
  /^ \.[^ ]+ +0x[0-9a-f]+ +0x[0-9a-f]+ / { add(out, $3, $4); next }
  /^ \.[^ ]+$/ { pending = 1; next }
  pending && /^ +0x[0-9a-f]+ +0x[0-9a-f]+ / { add(out, $2, $3) }
  { pending = 0 }
  function add(section, size, object) {
    if (section !~ /^\.(text|rdata|data|eh_frame|idata)$/) return
    sub(/.*\//, "", object)
    if (section == ".idata") sub(/\(.*/, "", object)  # imports: by library
    bytes[section, object] += hex(size)
  }
  END {
    for (key in bytes) {
      split(key, part, SUBSEP)
      printf "%s %d %s\n", part[1], bytes[key], part[2]
    }
  }' "$map" | sort -k1,1 -k2,2nr | awk '
  $1 != last { shown = 0; last = $1; print "  " $1 }
  shown++ < 8 && $2 > 0 { printf "    %6d %s\n", $2, $3 }'
