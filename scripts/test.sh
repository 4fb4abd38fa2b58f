#!/usr/bin/env bash
# The test command: sets the machine up, builds every deliverable and every
# test, and runs all tests under Wine on a private X display. Exits non-zero
# on any failure.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2

# The stand-in server's own checks (plain Python, no Wine).
python3 -m unittest discover -s tools/standin/tests -t tools

source scripts/wine-env.sh
cleanup() {
  wineserver -k 2>/dev/null || true
  stop_xvfb
}
trap cleanup EXIT
start_xvfb
# One wineserver for the whole run: every test process would pay for its start.
# A wineserver left over from an interrupted run would refuse -p.
wineserver -k 2>/dev/null || true
wineserver -p
# Start the prefix's background services now, away from any test's output.
wine cmd /c exit >/dev/null 2>&1 || true
# Keep a proxy of the calling environment out of the tests.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY

ctest --preset mingw "$@"
