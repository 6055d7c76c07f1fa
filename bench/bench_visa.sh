#!/usr/bin/env bash
# Reading an 800 MB block ("SIM:BLOCK? 800000000") from the instrument
# simulator over loopback through Orvex's VISA library in the acquisition's
# 24 MB chunks, over a raw SOCKET and over VXI-11, beside a plain socket
# client and pyvisa with the pyvisa-py backend in the same run; median of
# ROUNDS rounds. Targets: >= 0.5x the plain socket on SOCKET, >= 3x pyvisa-py.
# VXI-11 needs the simulator's portmapper on port 111, so the whole run moves
# into a private network namespace where one is permitted.
set -euo pipefail
if [ -z "${ORVEX_NETNS:-}" ] && unshare -rn true 2>/dev/null; then
  exec unshare -rn env ORVEX_NETNS=1 bash -c 'ip link set lo up && exec bash "$0"' "$0"
fi
N=${VISA_BYTES:-800000000}
ROUNDS=${ROUNDS:-3}
PY=${PY:-/usr/bin/python3}
HERE=$(cd "$(dirname "$0")" && pwd)
LIB=$BUILD/liborvexvisa.so

vxi=()
[ -n "${ORVEX_NETNS:-}" ] && vxi=(--vxi11 0 --portmapper)
source "$HERE/startsim.sh"
start_sim "${vxi[@]}"

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# name, then the command that prints seconds; the median goes to $secs
measure() {
  local name=$1; shift
  secs=$(for ((r = 0; r < ROUNDS; r++)); do "$@"; done | median)
  printf '  %-28s %8.3f s %8.0f MB/s\n' "$name" "$secs" "$(awk -v n="$N" -v s="$secs" 'BEGIN {print n / s / 1e6}')"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", b / a}'; }

echo "  $((N / 1000000)) MB block generated in the simulator's memory (no file), median of $ROUNDS rounds"
measure "plain socket" "$BUILD/bench/bench_visa" plain "$port" "$N"; plain=$secs
measure "orvexvisa SOCKET" "$BUILD/bench/bench_visa" visa "$LIB" "TCPIP::127.0.0.1::$port::SOCKET" "$N"; sock=$secs
measure "pyvisa-py SOCKET" "$PY" -W ignore "$HERE/visa.py" "TCPIP::127.0.0.1::$port::SOCKET" "$N"; pysock=$secs
echo "  SOCKET: $(ratio "$sock" "$plain")x plain socket (target >= 0.5), $(ratio "$sock" "$pysock")x pyvisa-py (target >= 3)"
if [ ${#vxi[@]} -gt 0 ]; then
  rsrc=TCPIP::127.0.0.1::inst0::INSTR
  measure "orvexvisa VXI-11" "$BUILD/bench/bench_visa" visa "$LIB" "$rsrc" "$N"; v=$secs
  measure "pyvisa-py VXI-11" "$PY" -W ignore "$HERE/visa.py" "$rsrc" "$N"; pyv=$secs
  echo "  VXI-11: $(ratio "$v" "$plain")x plain socket, $(ratio "$v" "$pyv")x pyvisa-py (target >= 3)"
else
  echo "  VXI-11: skipped (no private network namespace for the portmapper)"
fi
