#!/usr/bin/env bash
# Installs every package the build and the tests need, builds from scratch and
# runs the whole suite twice: a normal build, then one under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"

# The build's packages, then what the tests use to check interoperability.
./deps.sh cmake ninja-build g++ pkg-config qtbase5-dev libqwt-qt5-dev libmatio-dev zlib1g-dev libtirpc-dev rpcsvc-proto \
          xvfb xauth iproute2 util-linux python3-numpy python3-scipy sox python3-pyvisa python3-pyvisa-py lxi-tools fonts-liberation groff-base

run_suite() { # build dir, then cmake options
  local dir=$1; shift
  rm -rf "$dir"
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir"
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure
}

run_suite build/test -DCMAKE_BUILD_TYPE=Release
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DORVEX_SANITIZE=ON
