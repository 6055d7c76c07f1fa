#!/usr/bin/env bash
# Installs the build's packages where missing, builds Orvex (Release) and
# starts the window.
set -euo pipefail
cd "$(dirname "$0")"
./deps.sh
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build/run --target orvex orvex-cli orvex-instrument-sim orvex-manual
exec build/run/orvex "$@"
