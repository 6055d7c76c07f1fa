#!/usr/bin/env bash
# Serving 50,000,000 samples (a 400 MB symbols reply) to a loopback client,
# beside a plain socket transfer of the same bytes in the same run, with the
# longest stall of the serving event loop. Targets: >= 0.7x plain, < 100 ms.
set -euo pipefail
"$BUILD/bench/bench_server" "${SAMPLES:-50000000}"
