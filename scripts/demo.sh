#!/bin/sh
# The main job on the bundled samples: repair the damaged recording with the
# healthy reference from the same camera, then show what ffprobe sees.
set -eu
cd "$(dirname "$0")/.."
mkdir -p build/demo
./build/cli/arbel-repair repair --force --reference samples/reference.mov \
  --output build/demo/repaired.mov samples/damaged.mov
if command -v ffprobe >/dev/null 2>&1; then
  ffprobe -v error -show_entries stream=codec_name,nb_frames,duration -of compact build/demo/repaired.mov
fi
