#!/bin/sh
# Installs the build into a scratch prefix and checks what a distribution
# needs: the program, its information file, help page and pictures where the
# program looks for them, the desktop entry, the metainfo and the icons; then
# that the installed program answers --version and --help without a display
# and starts from the installed tree.
set -eu
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

id=com.arbelsoftware.ArbelVideoRepair
status=0
missing() {
  echo "missing after install: $1"
  status=1
}
for f in \
  bin/arbel-video-repair \
  share/arbel-video-repair/Info.plist \
  share/arbel-video-repair/index.html \
  "share/arbel-video-repair/pictures/Button Small Hover.png" \
  "share/arbel-video-repair/pictures/Button Small Hover@2x.png" \
  share/arbel-video-repair/pictures/Splash-Screen_Animations_1.gif \
  share/applications/$id.desktop \
  share/metainfo/$id.metainfo.xml \
  share/icons/hicolor/scalable/apps/$id.svg
do
  [ -f "$prefix/$f" ] || missing "$f"
done
for size in 48 64 128 256 512; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  if [ ! -f "$icon" ]; then
    missing "share/icons/hicolor/${size}x${size}/apps/$id.png"
  elif command -v identify >/dev/null 2>&1 && [ "$(identify -format '%wx%h' "$icon")" != "${size}x${size}" ]; then
    echo "icon of the wrong size: $icon"
    status=1
  fi
done
if ! grep -q '<string>com.ArbelSoftware.ArbelVideoRepairI</string>' "$prefix/share/arbel-video-repair/Info.plist"; then
  echo "installed Info.plist lacks the bundle identifier"
  status=1
fi
if grep -q '@PROJECT_VERSION@' "$prefix/share/arbel-video-repair/Info.plist"; then
  echo "installed Info.plist still holds the version placeholder"
  status=1
fi

# --version and --help need no display: with none and a platform that would
# need one, the program must still answer.
program="$prefix/bin/arbel-video-repair"
for option in --version --help; do
  if ! out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" "$option" 2>&1); then
    echo "$option failed without a display: $out"
    status=1
  fi
  case "$option:$out" in
    --version:"arbel-video-repair "[0-9]*) ;;
    --help:Usage:*) ;;
    *) echo "$option printed: $out"; status=1 ;;
  esac
done

# The installed program starts and keeps running (its splash lasts eleven
# seconds); it is stopped after three.
log=$(mktemp)
QT_QPA_PLATFORM=offscreen "$program" >"$log" 2>&1 &
pid=$!
sleep 3
if kill -0 "$pid" 2>/dev/null; then
  kill "$pid"
  wait "$pid" 2>/dev/null || true
else
  wait "$pid" 2>/dev/null || true
  echo "the installed program did not keep running:"
  cat "$log"
  status=1
fi
rm -f "$log"
exit $status
