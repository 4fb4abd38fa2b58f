#!/usr/bin/env bash
# Upload benchmark (not a test). Uploads the same 400 MiB file, and a 1 MiB
# file, to the stand-in server switched to its fast sink (the body is read
# and dropped), once with our client under Wine and once with
# `curl --http1.0` posting the same multipart form, and prints both times,
# their ratio and our client's peak working set.
#
#   scripts/bench-upload.sh [runs]     (default 3 runs each; the median counts)
#
# Targets: our 400 MiB time at most 1.5 times curl's; our peak working set
# after 400 MiB within 4 MiB of the one after 1 MiB.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
RUNS=${1:-3}

cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2 --target upload_bench >/dev/null
BENCH="$ROOT/build/mingw/tests/upload/upload_bench.exe"

source scripts/bench-env.sh

echo "Making the files in $WORK ..."
head -c $((400 * 1024 * 1024)) /dev/urandom >"$WORK/large.bin"
head -c $((1024 * 1024)) /dev/urandom >"$WORK/small.bin"

bench_start


# curl: log in once (the cookie jar keeps the session), then time the POSTs.
curl -s -c "$WORK/cookies" --http1.0 -H 'Content-type: application/x-www-form-urlencoded' \
  -d "$LOGIN_FORM" \
  "${URL}authUserLogin" >/dev/null
curl_time() {
  curl -s -o /dev/null -w '%{time_total}\n' --http1.0 -b "$WORK/cookies" \
    -F group_id=1 -F file_delete_days=-1 -F is_encrypt=false \
    -F "file=@$1;filename=bench.bin;type=application/octet-stream" "${URL}uploadContentFile.json"
}

# Our client: one process per upload, so each peak belongs to one file.
ours() {
  local out="$WORK/ours.out"
  if ! wine "$BENCH" "$URL" bench bench "$(win "$1")" >"$out" 2>"$WORK/ours.err"; then
    echo "our client failed: $(cat "$out" "$WORK/ours.err")" >&2
    exit 1
  fi
  cat "$out"
}

declare -A OUR_TIME CURL_TIME OUR_PEAK
for size in small large; do
  file="$WORK/$size.bin"
  curl_time "$file" >/dev/null          # warm the page cache and the server
  : >"$WORK/ours.all"; : >"$WORK/curl.all"
  for _ in $(seq "$RUNS"); do
    ours "$file" | tr -d '\r' >>"$WORK/ours.all"
    curl_time "$file" >>"$WORK/curl.all"
  done
  OUR_TIME[$size]=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' "$WORK/ours.all" | median)
  OUR_PEAK[$size]=$(sed -n 's/.*peak_working_set=\([0-9]*\).*/\1/p' "$WORK/ours.all" | sort -n | tail -1)
  CURL_TIME[$size]=$(median <"$WORK/curl.all")
done

sink=$(curl -s "http://127.0.0.1:$CONTROL/counters" | python3 -c 'import json,sys; c=json.load(sys.stdin); print(c["sink_uploads"], c["sink_bytes"])')
echo
echo "Uploads into the fast sink (median of $RUNS runs; the server counted: $sink uploads, bytes)"
printf '%-10s %12s %12s %8s %22s\n' file "ours (s)" "curl (s)" ratio "our peak working set"
for size in small large; do
  label=$([ "$size" = small ] && echo "1 MiB" || echo "400 MiB")
  ratio=$(awk -v a="${OUR_TIME[$size]}" -v b="${CURL_TIME[$size]}" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')
  printf '%-10s %12s %12s %8s %16s bytes\n' "$label" "${OUR_TIME[$size]}" "${CURL_TIME[$size]}" "$ratio" \
    "${OUR_PEAK[$size]}"
done
growth=$(( OUR_PEAK[large] - OUR_PEAK[small] ))
echo
echo "Peak working set, 400 MiB minus 1 MiB: $growth bytes ($(awk -v g=$growth 'BEGIN {printf "%.2f", g / 1048576}') MiB; target: at most 4 MiB)"
echo "Time ratio for 400 MiB: $(awk -v a="${OUR_TIME[large]}" -v b="${CURL_TIME[large]}" 'BEGIN {printf "%.2f", a / b}') (target: at most 1.5)"
