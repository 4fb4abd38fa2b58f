#!/usr/bin/env bash
# Runs a Windows test program in a fresh Wine prefix of its own: a copy of
# the booted template prefix that nothing ever ran in, with its own
# wineserver and its own X display (its windows never take the focus from
# the tests that run beside it), removed afterwards.
#
#   in-fresh-prefix.sh PREFIX_TEMPLATE PROGRAM [ARGUMENT...]
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
template=$1
shift
source "$ROOT/scripts/wine-env.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/zinpost-install.XXXXXX")
export WINEPREFIX="$work/prefix"
cleanup() {
  wine_session_stop
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "$template" "$WINEPREFIX" || exit 1
# The prefix's own display, wineserver and services.
wine_session_start
# Wine's background processes inherit standard output: a file, not ctest's pipe.
wine "$@" >"$work/output" 2>&1 </dev/null
status=$?
cat "$work/output"
exit $status
