#!/usr/bin/env bash
# Building the spectrum dialog for 2^20 samples (transform, polar
# conversion, curve) beside numpy fft + abs + angle of the same data.
set -euo pipefail
cd "$(dirname "$0")" && exec "$PY" graph.py "$BUILD/bench/bench_graph" "$WORK"
