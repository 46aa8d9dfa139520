#!/usr/bin/env bash
# Applies the one clang-format configuration to the files tools/lint.sh checks: every
# tracked C and C++ file.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format -i
