#!/usr/bin/env bash
# Applies the one clang-format configuration to the whole tree.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' | xargs clang-format -i
