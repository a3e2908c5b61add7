#!/bin/sh
# Installs the build into a scratch prefix and checks what a distribution
# needs: the program, its information file and help page where the program
# looks for them, the desktop entry, the metainfo and the icon.
set -eu
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
for f in \
  bin/arbel-video-repair \
  share/arbel-video-repair/Info.plist \
  share/arbel-video-repair/index.html \
  share/applications/com.arbelsoftware.ArbelVideoRepair.desktop \
  share/metainfo/com.arbelsoftware.ArbelVideoRepair.metainfo.xml \
  share/icons/hicolor/scalable/apps/com.arbelsoftware.ArbelVideoRepair.svg
do
  if [ ! -f "$prefix/$f" ]; then
    echo "missing after install: $f"
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
exit $status
