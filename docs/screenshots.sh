#!/usr/bin/env bash
# Regenerates the screenshots in docs/ under a virtual X display.
#   docs/screenshots.sh            all scenes
#   docs/screenshots.sh window     only the named ones
# A scene is a set-up in docs/shoot.cpp; list it in SCENES to have it drawn
# into docs/NAME.png by default.
set -euo pipefail
cd "$(dirname "$0")/.."
./deps.sh cmake ninja-build g++ pkg-config qtbase5-dev libqwt-qt5-dev libmatio-dev zlib1g-dev libtirpc-dev rpcsvc-proto xvfb xauth fonts-liberation

SCENES=(window window-dark graph-spectrum graph-zoom graph-phase graph-iq trace-analyzer trace-scope)
((${#@})) && SCENES=("$@")

BUILD=${BUILD:-build/shots}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$BUILD" --target orvex-shoot orvex-instrument-sim orvexvisa > /dev/null

for scene in "${SCENES[@]}"; do
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$BUILD/orvex-shoot" "$scene" "docs/$scene.png"
  echo "docs/$scene.png"
done
