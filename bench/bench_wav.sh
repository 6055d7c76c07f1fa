#!/usr/bin/env bash
# WAV (16-bit stereo) to IQW interleaved: orvex-cli convert beside scipy and
# sox doing the same conversion in the same run.
set -euo pipefail
cd "$(dirname "$0")" && exec "$PY" wav.py "$BUILD/orvex-cli" "$WORK"
