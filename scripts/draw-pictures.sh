#!/bin/sh
# Redraws the pictures (resources/pictures), the splash animation
# (resources/pictures/Splash-Screen_Animations_1.gif) and the icons
# (resources/icons) with tools/draw_pictures.cpp. Needs a configured build/.
set -eu
cd "$(dirname "$0")/.."
cmake --build build --target arbel-draw-pictures
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT
QT_QPA_PLATFORM=offscreen ./build/tools/arbel-draw-pictures resources/pictures "$frames" resources/icons
# 12 frames a second, looping for ever; one palette for the whole animation
# keeps the colours from shifting between frames.
convert -delay 8 -loop 0 "$frames"/frame-*.png +dither -colors 192 -layers Optimize \
  resources/pictures/Splash-Screen_Animations_1.gif
