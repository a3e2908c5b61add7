#!/bin/sh
# Validates the desktop entry and the AppStream metainfo in the folder given.
# Exits 77 (skipped) when a validator is not installed.
set -u
dir=$1
id=com.arbelsoftware.ArbelVideoRepair
failed=0
missing=0

if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$dir/$id.desktop" || failed=1
else
  echo "SKIPPED: desktop-file-validate is not installed (Debian package desktop-file-utils)"
  missing=1
fi

if command -v appstreamcli >/dev/null 2>&1; then
  appstreamcli validate --no-net "$dir/$id.metainfo.xml" || failed=1
else
  echo "SKIPPED: appstreamcli is not installed (Debian package appstream)"
  missing=1
fi

[ "$failed" -ne 0 ] && exit 1
[ "$missing" -ne 0 ] && exit 77
exit 0
