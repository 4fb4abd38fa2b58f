# Sourced by the scripts: the environment of the project's own Wine prefix and
# helpers to start a private X display. Nothing here installs anything.

ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
BUILD_DIR=${BUILD_DIR:-$ROOT/build}

export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono/Gecko installer prompts; no menu entries written into the real home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# A Japanese system: the ANSI code page is 932 only under this locale.
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8

XVFB_PID=

# Starts Xvfb on a free display and exports DISPLAY.
start_xvfb() {
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local num
  read -r -t 20 num <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$num" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$num"
}

stop_xvfb() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}
