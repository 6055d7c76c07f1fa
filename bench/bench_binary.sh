#!/usr/bin/env bash
# Whole-file binary conversion of 50,000,000 samples: IQW interleaved ->
# IQW block and IQW -> SPW binary, beside cp and numpy in the same run.
set -euo pipefail
cd "$(dirname "$0")" && exec "$PY" binary.py "$BUILD/orvex-cli" "$WORK"
