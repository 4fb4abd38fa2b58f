#!/usr/bin/env bash
# The run command: sets up and builds, starts the stand-in Tessaly server
# with a demo account and content-group tree on loopback, configures a user
# through the program's own settings code, and starts zinpost.exe under Wine
# with the given files (or sample files) as the Explorer extension would.
# Prints what the server stored and leaves a screenshot of the result window
# in build/run/result.png.
#
#   scripts/run.sh [file...]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2 --target zinpost zinpostresult ZinExt zinpost_demo >/dev/null

RUN_DIR="$ROOT/build/run"
rm -rf "$RUN_DIR"
mkdir -p "$RUN_DIR/samples" "$RUN_DIR/data"

files=()
if [ $# -gt 0 ]; then
  for f in "$@"; do files+=("$(realpath "$f")"); done
else
  printf 'Tessaly センドレットのサンプル文書です。\r\n' >"$RUN_DIR/samples/議事録.txt"
  head -c 300000 /dev/urandom >"$RUN_DIR/samples/measurements.bin"
  printf '%%PDF-1.4\n%% sample\n' >"$RUN_DIR/samples/見積書 2026.pdf"
  files=("$RUN_DIR/samples/議事録.txt" "$RUN_DIR/samples/measurements.bin" "$RUN_DIR/samples/見積書 2026.pdf")
fi

source scripts/wine-env.sh
trap wine_session_stop EXIT
# On the caller's display when there is one: the windows can be watched.
wine_session_start --use-display

start_standin "$RUN_DIR/ports.json" "$RUN_DIR/standin.log" --demo --data-dir "$RUN_DIR/data"
HTTP_PORT=$(standin_port http)
echo "stand-in server: http://127.0.0.1:$HTTP_PORT/api/ (account demo/demo, folder 開発部)"

wine_args=()
for f in "${files[@]}"; do wine_args+=("$(win "$f")"); done

status=0
scripts/wine-exec build/mingw/tools/demo/zinpost_demo.exe "$(win "$ROOT/build/mingw/bin/zinpost.exe")" \
  "http://127.0.0.1:$HTTP_PORT/api/" demo demo 3 "開発部" "$(win "$RUN_DIR/result.bmp")" "${wine_args[@]}" || status=$?
[ -f "$RUN_DIR/result.bmp" ] && convert "$RUN_DIR/result.bmp" "$RUN_DIR/result.png" && rm -f "$RUN_DIR/result.bmp"

stop_standin
echo "--- stored by the server ---"
python3 tools/standin --print-stored --data-dir "$RUN_DIR/data"
[ -f "$RUN_DIR/result.png" ] && echo "screenshot of the result window: $RUN_DIR/result.png"
exit $status
