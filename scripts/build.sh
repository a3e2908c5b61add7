#!/bin/sh
# Configures and builds everything into build/ (release with debug information).
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARBEL_WERROR=ON "$@"
cmake --build build
