# Sourced by the benchmarks: a scratch folder, the stand-in server in its
# fast sink with the account bench/bench, a private X display and a running
# wineserver, all removed again when the script ends. Sets WORK, URL and
# CONTROL; offers win (a Unix path as Wine shows it) and median.
WORK=$(mktemp -d /tmp/zinpost-bench.XXXXXX)
CONTROL=
source "$ROOT/scripts/wine-env.sh"
bench_cleanup() {
  wine_session_stop
  rm -rf "$WORK"
}
trap bench_cleanup EXIT

# Starts the server and the Wine side; call after the files are made.
bench_start() {
  start_standin "$WORK/ports.json" "$WORK/server.log" --sink --account bench:bench --idle-exit 900
  URL="http://127.0.0.1:$(standin_port http)/api/"
  CONTROL=$(standin_port control)
  wine_session_start
}

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# The login form curl sends, as the program's own login would.
VERSION=$(sed -n 's/^project(.* VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
LOGIN_FORM="username=bench&password=bench&app_name=Tessaly Sendlet&app_ver=$VERSION.0&device_key=&deviceName=KVORTAMLEXWINDOC"
