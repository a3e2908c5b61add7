#!/bin/sh
# The main job on the bundled samples: check the damaged recording and its
# healthy reference from the same camera.
set -eu
cd "$(dirname "$0")/.."
./build/cli/arbel-repair check --reference samples/reference.mov samples/damaged.mov
