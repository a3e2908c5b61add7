#!/bin/sh
# Installs every Debian 12 package that the build, the programs and the tests need.
set -eu
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential g++ clang cmake ninja-build pkg-config git \
  libgtest-dev libgmock-dev libbenchmark-dev \
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev \
  libplist-dev libavcodec-dev libavformat-dev libavutil-dev \
  ffmpeg xvfb xauth imagemagick desktop-file-utils appstream \
  valgrind ca-certificates
