#!/usr/bin/env bash
# Whole-program benchmark (not a test): zinpost.exe started as the Explorer
# extension starts it (CreateProcessW, only the quoted file paths), timed to
# its exit, against curl doing login, upload and logout as three
# `curl --http1.0` processes per file, and against a floor program that
# creates one window and ends (and one that creates none), all in one run
# into the stand-in server's fast sink. Also the upload request alone
# (our client against one curl POST) and the program's peak working set.
#
#   scripts/bench-program.sh [runs]     (default 5; medians count)
#
# Targets: 400 MiB whole program at most 1.5 x curl, its upload request at
# most 1.15 x curl; 1 MiB at most the floor + 60 ms; 100 files of 64 KiB in
# one start at most 0.6 x curl's 100 triples; peak working set after 400 MiB
# at most 4 MiB above the one after 1 MiB.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
RUNS=${1:-5}

cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2 --target zinpost zinpostresult program_bench floor_program upload_bench >/dev/null
BENCH="$ROOT/build/mingw/tests/bench/program_bench.exe"
FLOOR="$ROOT/build/mingw/tests/bench/floor_program.exe"
PROGRAM="$ROOT/build/mingw/bin/zinpost.exe"
UPLOAD_BENCH="$ROOT/build/mingw/tests/upload/upload_bench.exe"

source scripts/bench-env.sh

echo "Making the files in $WORK ..."
head -c $((400 * 1024 * 1024)) /dev/urandom >"$WORK/large.bin"
head -c $((1024 * 1024)) /dev/urandom >"$WORK/small.bin"
mkdir -p "$WORK/many"
for i in $(seq -w 0 99); do head -c $((64 * 1024)) /dev/urandom >"$WORK/many/f$i.bin"; done

bench_start

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.4f", b - a}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }

wine "$BENCH" configure "$URL" bench bench 1 >/dev/null

# Our program: every start's time and peak from the launcher.
ours() {
  local out="$WORK/ours.out"
  local args=()
  for f in "$@"; do args+=("$(win "$f")"); done
  if ! wine "$BENCH" run "$RUNS" "$(win "$PROGRAM")" "${args[@]}" >"$out" 2>"$WORK/ours.err"; then
    echo "the program failed: $(cat "$out" "$WORK/ours.err")" >&2
    exit 1
  fi
  tr -d '\r' <"$out"
}
seconds_of() { sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' | median; }
peak_of() { sed -n 's/.*peak_working_set=\([0-9]*\).*/\1/p' | sort -n | tail -1; }

# curl as a shell script would do it: three processes per file.
curl_triples() {
  local start end
  start=$(now)
  for f in "$@"; do
    curl -s -o /dev/null -c "$WORK/cookies" --http1.0 -H 'Content-type: application/x-www-form-urlencoded' \
      -d "$LOGIN_FORM" "${URL}authUserLogin"
    curl -s -o /dev/null -b "$WORK/cookies" --http1.0 -F group_id=1 -F file_delete_days=-1 -F is_encrypt=false \
      -F "file=@$f;filename=bench.bin;type=application/octet-stream" "${URL}uploadContentFile.json"
    curl -s -o /dev/null -b "$WORK/cookies" --http1.0 "${URL}authUserLogout"
  done
  end=$(now)
  elapsed "$start" "$end"
}
curl_median() {
  : >"$WORK/curl.all"
  for _ in $(seq "$RUNS"); do curl_triples "$@" >>"$WORK/curl.all"; echo >>"$WORK/curl.all"; done
  median <"$WORK/curl.all"
}

echo "Timing ($RUNS runs each) ..."
FLOOR_WINDOW=$(wine "$BENCH" run "$RUNS" "$(win "$FLOOR")" | tr -d '\r' | seconds_of)
FLOOR_NONE=$(wine "$BENCH" run "$RUNS" "$(win "$FLOOR")" nowindow | tr -d '\r' | seconds_of)

curl_triples "$WORK/large.bin" >/dev/null  # warm the page cache and the server
LARGE=$(ours "$WORK/large.bin"); LARGE_T=$(seconds_of <<<"$LARGE"); LARGE_PEAK=$(peak_of <<<"$LARGE")
LARGE_CURL=$(curl_median "$WORK/large.bin")
SMALL=$(ours "$WORK/small.bin"); SMALL_T=$(seconds_of <<<"$SMALL"); SMALL_PEAK=$(peak_of <<<"$SMALL")
SMALL_CURL=$(curl_median "$WORK/small.bin")
MANY=$(ours "$WORK"/many/*.bin); MANY_T=$(seconds_of <<<"$MANY")
MANY_CURL=$(curl_median "$WORK"/many/*.bin)

# The upload request alone: our client's request against one curl POST.
curl -s -o /dev/null -c "$WORK/cookies" --http1.0 -H 'Content-type: application/x-www-form-urlencoded' \
  -d "$LOGIN_FORM" "${URL}authUserLogin"
: >"$WORK/req.ours"; : >"$WORK/req.curl"
for _ in $(seq "$RUNS"); do
  wine "$UPLOAD_BENCH" "$URL" bench bench "$(win "$WORK/large.bin")" | tr -d '\r' >>"$WORK/req.ours"
  curl -s -o /dev/null -w '%{time_total}\n' --http1.0 -b "$WORK/cookies" -F group_id=1 -F file_delete_days=-1 \
    -F is_encrypt=false -F "file=@$WORK/large.bin;filename=bench.bin;type=application/octet-stream" \
    "${URL}uploadContentFile.json" >>"$WORK/req.curl"
done
REQ_T=$(seconds_of <"$WORK/req.ours")
REQ_CURL=$(median <"$WORK/req.curl")

echo
echo "Whole program, started as the Explorer extension starts it (median of $RUNS runs, seconds)"
printf '%-24s %9s %9s %7s   %s\n' work ours curl ratio target
printf '%-24s %9s %9s %7s   %s\n' "1 file of 400 MiB" "$LARGE_T" "$LARGE_CURL" "$(ratio "$LARGE_T" "$LARGE_CURL")" "ratio <= 1.5"
printf '%-24s %9s %9s %7s   %s\n' "1 file of 1 MiB" "$SMALL_T" "$SMALL_CURL" "$(ratio "$SMALL_T" "$SMALL_CURL")" \
  "ours <= floor + 0.060 = $(awk -v f="$FLOOR_WINDOW" 'BEGIN {printf "%.4f", f + 0.06}')"
printf '%-24s %9s %9s %7s   %s\n' "100 files of 64 KiB" "$MANY_T" "$MANY_CURL" "$(ratio "$MANY_T" "$MANY_CURL")" "ratio <= 0.6"
printf '%-24s %9s %9s %7s   %s\n' "upload request, 400 MiB" "$REQ_T" "$REQ_CURL" "$(ratio "$REQ_T" "$REQ_CURL")" "ratio <= 1.15"
echo
echo "Floor: a program with one window $FLOOR_WINDOW s, without a window $FLOOR_NONE s"
echo "1 MiB above the floor: $(awk -v a="$SMALL_T" -v f="$FLOOR_WINDOW" 'BEGIN {printf "%.0f", (a - f) * 1000}') ms (target: at most 60)"
growth=$(( LARGE_PEAK - SMALL_PEAK ))
echo "Peak working set: 1 MiB $SMALL_PEAK bytes, 400 MiB $LARGE_PEAK bytes, difference $(awk -v g=$growth 'BEGIN {printf "%.2f", g / 1048576}') MiB (target: at most 4)"
