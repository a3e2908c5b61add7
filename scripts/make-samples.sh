#!/bin/sh
# Regenerates the bundled samples from clips that ffmpeg encodes:
#   samples/reference.mov  a healthy one-second clip (H.264 320x240 at 30 fps,
#                          24-bit stereo PCM, one audio chunk after every frame)
#   samples/damaged.mov    two seconds from the same camera settings, cut off
#                          when the power failed: no movie atom, the last
#                          frames lost
# Needs ffmpeg and a configured build with the tests (scripts/build.sh).
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
cmake --build "$BUILD" --target arbel-make-camera-clip arbel-repair
"$BUILD/tests/mov/arbel-make-camera-clip" --cache "$BUILD/clip-cache" --layout generic \
  --reference-seconds 1 --seconds 2 --damage truncated \
  --reference samples/reference.mov --damaged samples/damaged.mov
"$BUILD/cli/arbel-repair" check --reference samples/reference.mov samples/damaged.mov
