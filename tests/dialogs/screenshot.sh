#!/usr/bin/env bash
# Takes pictures of the program's dialogs with Japanese texts, to look at
# what a person would see. Needs a build (scripts/test.sh).
#   tests/dialogs/screenshot.sh [folder]   (default: build/dialogs)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$ROOT/scripts/wine-env.sh"
OUT=$(realpath -m "${1:-$BUILD_DIR/dialogs}")
EXE="$BUILD_DIR/mingw/tests/dialogs/dialog_tests.exe"
[ -f "$EXE" ] || { echo "build first: $EXE is missing" >&2; exit 1; }
mkdir -p "$OUT"

trap wine_session_stop EXIT
wine_session_start
ZINPOST_SCREENSHOT_DIR="$OUT" ZINPOST_SOURCE_DIR="$ROOT" ZINPOST_BINARY_DIR="$BUILD_DIR/mingw" "$ROOT/scripts/wine-exec" "$EXE" \
  --gtest_also_run_disabled_tests --gtest_filter='Screenshots.DISABLED_*'
for bmp in "$OUT"/*.bmp; do
  convert "$bmp" -trim "${bmp%.bmp}.png" && rm -f "$bmp"
done
ls "$OUT"
