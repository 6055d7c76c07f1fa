#!/usr/bin/env bash
# Regenerates the graph screenshots in docs/ under a virtual X display.
#   docs/graph-shots.sh                  all three views
#   docs/graph-shots.sh graph-spectrum   only the named ones
set -euo pipefail
cd "$(dirname "$0")/.."

SCENES=(graph-spectrum graph-phase graph-iq)
((${#@})) && SCENES=("$@")

BUILD=build/shots
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$BUILD" --target orvex-graphshots > /dev/null

for scene in "${SCENES[@]}"; do
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$BUILD/orvex-graphshots" "$scene" "docs/$scene.png"
  echo "docs/$scene.png"
done
