#!/usr/bin/env bash
# Benchmarks: builds Release and runs every benchmark with its comparison
# (cp, numpy, pandas, ...) in the same run. Figures go to stdout.
# Usage: bench/run.sh [NAME...]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
PY=/usr/bin/python3
./deps.sh cmake ninja-build g++ pkg-config qtbase5-dev libqwt-qt5-dev libmatio-dev libtirpc-dev rpcsvc-proto python3-numpy python3-pandas python3-scipy time iproute2 python3-pyvisa python3-pyvisa-py
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build/bench > /dev/null
WORK=${BENCH_DIR:-$(mktemp -d)}
trap 'rm -rf "$WORK"' EXIT
export PY WORK BUILD=$PWD/build/bench
names=("$@")
[ ${#names[@]} -gt 0 ] || names=($(ls bench/*.sh | xargs -n1 basename | sed -n 's/^bench_\(.*\)\.sh$/\1/p'))
for n in "${names[@]}"; do
  echo "== $n"
  bash "bench/bench_$n.sh"
done
