#!/usr/bin/env bash
# Takes a picture of the result dialog with Japanese texts, to look at what a
# person would see: glyphs, icon, layout. Needs a build (scripts/test.sh).
#   tests/result/screenshot.sh [output.png]   (default: build/result-dialog.png)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$ROOT/scripts/wine-env.sh"
OUT=$(realpath -m "${1:-$BUILD_DIR/result-dialog.png}")
EXE="$BUILD_DIR/mingw/tests/result/result_tests.exe"
[ -f "$EXE" ] || { echo "build first: $EXE is missing" >&2; exit 1; }

trap wine_session_stop EXIT
wine_session_start
ZINPOST_SCREENSHOT="$OUT" "$ROOT/scripts/wine-exec" "$EXE" \
  --gtest_also_run_disabled_tests --gtest_filter=ResultDialog.DISABLED_Screenshot
echo "screenshot: $OUT"
