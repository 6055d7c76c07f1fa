#!/usr/bin/env bash
# Hex 16-bit, DAB-V1 and MAT-file (mixed) save and load of 1,000,000
# samples through orvex-cli, beside numpy/scipy/pandas in the same run.
set -euo pipefail
cd "$(dirname "$0")" && exec "$PY" hexmat.py "$BUILD/orvex-cli" "$WORK"
