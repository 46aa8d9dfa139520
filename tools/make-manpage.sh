#!/usr/bin/env bash
# make-manpage.sh TOOL OUT: the manual page vexa-pack(1), gzipped, from the tool's own help:
# the overview from --help, one section per command from COMMAND --help.
set -euo pipefail
tool=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
  echo "[COMMANDS]"
  for command in encode decode pack build verify list extract; do
    echo ".SS $command"
    echo ".nf"
    # Backslashes and leading dots would be read as roff.
    "$tool" "$command" --help | sed -e 's/\\/\\e/g' -e 's/^\./\\\&./'
    echo ".fi"
  done
} >"$work/commands.h2m"
# The page's date is the sources' (SOURCE_DATE_EPOCH), so two builds give the same page.
help2man --no-info --name="build and check Vexa installers" \
  --include="$work/commands.h2m" --output="$work/vexa-pack.1" "$tool"
gzip -9n <"$work/vexa-pack.1" >"$out"
