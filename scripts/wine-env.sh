# Sourced by the scripts: the environment of the project's own Wine prefix, a
# session (private X display and one wineserver), the stand-in server in the
# background, and Unix paths as Wine shows them. Nothing here installs
# anything.

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

# The session of a script: a private X display (with --use-display, the
# one in DISPLAY when there is one), one wineserver for all Wine processes
# (each would pay for its own start; one left over from an interrupted run is
# ended first), the prefix's background services started away from any
# output, and no proxy of the calling environment. wine_session_stop ends
# what was started, the stand-in server included.
wine_session_start() {
  if [ "${1:-}" != --use-display ] || [ -z "${DISPLAY:-}" ]; then start_xvfb; fi
  wineserver -k 2>/dev/null || true
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 || true
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
}

wine_session_stop() {
  stop_standin
  wineserver -k 2>/dev/null || true
  stop_xvfb
}

STANDIN_PID=
STANDIN_PORTS=

# Starts the stand-in server in the background and waits until it listens:
#   start_standin PORT_FILE LOG_FILE [server options...]
# standin_port DOOR then prints a door's port ("http", "control", ...).
start_standin() {
  STANDIN_PORTS=$1
  local log=$2
  shift 2
  rm -f "$STANDIN_PORTS"
  python3 "$ROOT/tools/standin" --port-file "$STANDIN_PORTS" "$@" >"$log" 2>&1 &
  STANDIN_PID=$!
  for _ in $(seq 200); do [ -s "$STANDIN_PORTS" ] && return 0; sleep 0.1; done
  echo "the stand-in server did not start: $(cat "$log")" >&2
  return 1
}

standin_port() {
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$STANDIN_PORTS" "$1"
}

# Asks the server to shut down (it ends its proxy and writes its store), and
# waits for it.
stop_standin() {
  [ -n "$STANDIN_PID" ] || return 0
  python3 -c 'import sys, urllib.request
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
opener.open("http://127.0.0.1:%s/shutdown" % sys.argv[1], b"{}", timeout=10)' \
    "$(standin_port control)" >/dev/null 2>&1 || kill "$STANDIN_PID" 2>/dev/null || true
  wait "$STANDIN_PID" 2>/dev/null || true
  STANDIN_PID=
}

# A Unix path as Wine shows it to Windows programs.
win() { printf 'Z:%s' "${1//\//\\}"; }
