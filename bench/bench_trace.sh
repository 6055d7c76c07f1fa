#!/usr/bin/env bash
# A trace of SAMPLES I/Q pairs (default 25000000, a 200 MB block) from the
# instrument simulator over a raw SOCKET: orvex-cli trace through Orvex's
# VISA library (the whole command: Init, set-up, transfer), beside a plain
# socket read and pyvisa-py's query_binary_values of the same answer, in the
# same run; median of ROUNDS rounds. Targets: >= 0.5x the plain socket and
# >= 3x pyvisa-py; peak memory at most the two float32 arrays plus one 24 MB
# chunk above the program's own footprint.
set -euo pipefail
N=${SAMPLES:-25000000}
ROUNDS=${ROUNDS:-3}
PY=${PY:-/usr/bin/python3}
HERE=$(cd "$(dirname "$0")" && pwd)
OUT=${WORK:-$(mktemp -d)}

source "$HERE/startsim.sh"
start_sim --type Ginkgo
rsrc=TCPIP::127.0.0.1::$port::SOCKET

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
mb() { awk -v n="$N" -v s="$1" 'BEGIN {printf "%.0f", 8 * n / s / 1e6}'; }
# One orvex-cli trace: prints its seconds; its peak resident KiB go to $OUT/rss.
orvex() {
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f %M -o "$OUT/rss" "$BUILD/orvex-cli" trace --device Ginkgo --resource "$rsrc" \
    --count "$N" "$@" > "$OUT/said"
  t1=$(date +%s.%N)
  grep -qx "samples: $N" "$OUT/said" || { echo "orvex-cli: wrong trace" >&2; exit 1; }
  awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.6f\n", b - a}'
}
rounds() { for ((r = 0; r < ROUNDS; r++)); do "$@"; done | median; }

echo "  $N samples ($((8 * N / 1000000)) MB block) generated in the simulator's memory (no file), median of $ROUNDS rounds"
plain=$(rounds "$PY" "$HERE/trace.py" plain "$port" "$N")
held=$(rounds "$PY" "$HERE/trace.py" held "$port" "$N")
small=$(N=1000 rounds orvex)
raw=$(rounds orvex --raw); rawrss=$(cat "$OUT/rss")
scaled=$(rounds orvex --no-raw)
pyv=$(rounds "$PY" -W ignore "$HERE/trace.py" pyvisa "$rsrc" "$N")
/usr/bin/time -f %M -o "$OUT/rss0" "$BUILD/orvex-cli" types > /dev/null
printf '  %-34s %8.3f s %6s MB/s\n' "plain socket, 24 MB buffer" "$plain" "$(mb "$plain")" \
  "plain socket into fresh memory" "$held" "$(mb "$held")" \
  "orvex-cli trace (raw)" "$raw" "$(mb "$raw")" "orvex-cli trace (scaled, --no-raw)" "$scaled" "$(mb "$scaled")" \
  "pyvisa-py query_binary_values" "$pyv" "$(mb "$pyv")"
awk -v p="$plain" -v h="$held" -v o="$raw" -v s="$scaled" -v y="$pyv" -v f="$small" 'BEGIN {
  printf "  raw: %.2fx plain socket (target >= 0.5), %.2fx pyvisa-py (target >= 3)\n", p / o, y / o
  printf "  scaled: %.2fx plain socket, %.2fx pyvisa-py\n", p / s, y / s
  printf "  orvex-cli start, Init and set-up alone (1000 samples): %.3f s; raw transfer %.2fx plain socket into fresh memory\n", f, h / (o - f) }'
awk -v n="$N" -v r="$rawrss" -v b="$(cat "$OUT/rss0")" 'BEGIN {
  bound = (8 * n + 24000000) / 1024
  printf "  peak memory %.0f MiB (program alone %.0f MiB): %.0f MiB above it, bound %.0f MiB\n", r / 1024, b / 1024, (r - b) / 1024, bound / 1024 }'
