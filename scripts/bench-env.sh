# Sourced by the benchmarks: a scratch folder, the stand-in server in its
# fast sink with the account bench/bench, a private X display and a running
# wineserver, all removed again when the script ends. Sets WORK, URL and
# CONTROL; offers win (a Unix path as Wine shows it) and median.
WORK=$(mktemp -d /tmp/zinpost-bench.XXXXXX)
SERVER_PID=
CONTROL=
source "$ROOT/scripts/wine-env.sh"
bench_cleanup() {
  if [ -n "$CONTROL" ]; then
    curl -s -X POST "http://127.0.0.1:$CONTROL/shutdown" -d '{}' >/dev/null 2>&1 || true
  fi
  if [ -n "$SERVER_PID" ]; then wait "$SERVER_PID" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
  stop_xvfb
  rm -rf "$WORK"
}
trap bench_cleanup EXIT
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY

# Starts the server and the Wine side; call after the files are made.
bench_start() {
  python3 "$ROOT/tools/standin" --sink --account bench:bench --port-file "$WORK/ports.json" \
    --idle-exit 900 >"$WORK/server.log" 2>&1 &
  SERVER_PID=$!
  for _ in $(seq 200); do [ -s "$WORK/ports.json" ] && break; sleep 0.1; done
  port() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$WORK/ports.json" "$1"; }
  URL="http://127.0.0.1:$(port http)/api/"
  CONTROL=$(port control)
  start_xvfb
  wineserver -k 2>/dev/null || true
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 || true
}

win() { printf 'Z:%s' "${1//\//\\}"; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# The login form curl sends, as the program's own login would.
LOGIN_FORM='username=bench&password=bench&app_name=Tessaly Sendlet&app_ver=4.0.2.0&device_key=&deviceName=KVORTAMLEXWINDOC'
