#!/usr/bin/env bash
# Scale benchmark (not a test): how the Explorer extension's right-click
# (Initialize + QueryContextMenu) costs with 100, 20,000 and 100,000 selected
# files, and how long the folder dialog takes to open on listings of 1,000,
# 10,000 and 50,000 groups (a wide tree, and one chain listed child first)
# and to patch a reopened tree when a tenth of the groups were renamed.
#
#   scripts/bench-scale.sh
#
# Prints one line per measurement: "<what> <count> <seconds>".
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2 --target scale_bench >/dev/null
BENCH="$ROOT/build/mingw/tests/bench/scale_bench.exe"

source scripts/wine-env.sh
trap wine_session_stop EXIT
wine_session_start

scripts/wine-exec "$BENCH" menu
scripts/wine-exec "$BENCH" folders
