#!/usr/bin/env bash
# Builds Orvex (Release) and starts the window.
set -euo pipefail
cd "$(dirname "$0")"
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build/run --target orvex orvex-cli
exec build/run/orvex "$@"
