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
trap wine_session_stop EXIT
wine_session_start

ctest --preset mingw "$@"
