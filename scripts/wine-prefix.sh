#!/usr/bin/env bash
# Creates the project's Wine prefix inside the build folder: Japanese font
# replacements, a virtual desktop, no crash dialog. Idempotent.
#   scripts/wine-prefix.sh [DIR]   another prefix of the same kind in DIR
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/wine-env.sh"
LOG="$BUILD_DIR/wineboot.log"
if [ $# -ge 1 ]; then export WINEPREFIX=$1; LOG="$1.log"; fi

# Bump when the prefix configuration below changes.
PREFIX_VERSION=2
MARKER="$WINEPREFIX/.zinpost-prefix-$PREFIX_VERSION"
[ -f "$MARKER" ] && exit 0

echo "setup: creating Wine prefix $WINEPREFIX"
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
trap 'WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true; stop_xvfb' EXIT
start_xvfb
wineboot -i >"$LOG" 2>&1

reg() { wine reg add "$@" /f >>"$LOG" 2>&1; }
for face in "MS UI Gothic" "MS Shell Dlg" "MS Shell Dlg 2" "MS Gothic" "MS PGothic" "Tahoma"; do
  reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d IPAGothic
done
reg 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default
reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768
reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
wineserver -w
touch "$MARKER"
