#!/usr/bin/env bash
# Serving SAMPLES (default 50,000,000) samples, a 400 MB symbols reply, to a
# loopback client, beside a plain C socket and a plain Python socket server
# sending the same bytes in the same run, with the longest stall of the
# serving event loop. Targets: >= 0.8x the C socket, >= 1x Python, < 50 ms.
set -euo pipefail
N=${SAMPLES:-50000000}
ROUNDS=${ROUNDS:-3}
coproc PYSRV { exec "$PY" "$(dirname "$0")/server.py" "$N" "$ROUNDS"; }
pid=$PYSRV_PID
read -r port <&"${PYSRV[0]}"
"$BUILD/bench/bench_server" "$N" "$ROUNDS" "$port"
wait "$pid" 2>/dev/null || true
