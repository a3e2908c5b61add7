#!/bin/sh
# Installs every Debian 12 package that the build, the programs and the tests need.
# The preview plays through Qt Multimedia's GStreamer backend, which needs the
# demuxers (base, good) and the H.264, AAC and MJPEG decoders (libav).
# qt6-base-dev carries Qt Network (the update check) besides Widgets; libplist
# reads the information file and the published version list. xdotool moves
# the pointer when the screens are looked at under Xvfb.
set -eu
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential g++ clang cmake ninja-build pkg-config git \
  libgtest-dev libgmock-dev libbenchmark-dev \
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev \
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav \
  libplist-dev libavcodec-dev libavformat-dev libavutil-dev \
  ffmpeg xvfb xauth xdotool imagemagick desktop-file-utils appstream \
  valgrind time ca-certificates
