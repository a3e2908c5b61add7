#!/bin/sh
# Runs every test: the full build (engines, command line, desktop program
# under the offscreen platform), then the engine tests again in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -eu
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DARBEL_SANITIZE=ON \
  -DARBEL_BUILD_GUI=OFF -DARBEL_BUILD_BENCH=OFF -DARBEL_WERROR=ON
cmake --build build-sanitize
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j2 -L engine
