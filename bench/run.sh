#!/usr/bin/env bash
# Benchmarks: builds Release and runs every benchmark with its comparison
# (cp, numpy, scipy, sox, pandas, ...) in the same run; each takes the median
# of ROUNDS (default 3) rounds. Figures go to stdout, headed by the machine.
# Usage: bench/run.sh [NAME...]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
PY=/usr/bin/python3
./deps.sh cmake ninja-build g++ pkg-config qtbase5-dev libqwt-qt5-dev libmatio-dev zlib1g-dev libtirpc-dev rpcsvc-proto python3-numpy python3-pandas python3-scipy sox time iproute2 python3-pyvisa python3-pyvisa-py
start=$(date +%s)
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build/bench --target orvex-cli orvexvisa orvex-instrument-sim bench_server bench_text bench_graph \
  bench_visa > /dev/null
built=$(date +%s)
WORK=${BENCH_DIR:-$(mktemp -d)}
trap 'rm -rf "$WORK"' EXIT
export PY WORK BUILD=$PWD/build/bench ROUNDS=${ROUNDS:-3}
names=("$@")
[ ${#names[@]} -gt 0 ] || names=($(ls bench/*.sh | xargs -n1 basename | sed -n 's/^bench_\(.*\)\.sh$/\1/p'))

echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) cores," \
  "$(awk '/^MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo) memory, kernel $(uname -r)"
# Free pages handed back to a hypervisor (virtio balloon feature bit 5) make
# huge pages slower, and Orvex then does without them.
report=no
for f in /sys/bus/virtio/drivers/virtio_balloon/virtio*/features; do
  [ -r "$f" ] && [ "$(cut -c6 "$f")" = 1 ] && report=yes
done
echo "huge pages: $(cat /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null || echo unknown);" \
  "free pages reported to a hypervisor: $report; work folder $WORK on $(df -P "$WORK" | awk 'NR==2 {print $1}')"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); build $((built - start)) s"
for n in "${names[@]}"; do
  t0=$(date +%s)
  echo "== $n"
  bash "bench/bench_$n.sh"
  echo "   ($(( $(date +%s) - t0 )) s; load average $(cut -d' ' -f1-3 /proc/loadavg))"
done
echo "total $(( $(date +%s) - start )) s"
