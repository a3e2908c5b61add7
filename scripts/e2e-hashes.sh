#!/bin/sh
# Prints one line per end-to-end repair: the test, a hash of its repaired file
# and the file's size, then the same for the bundled sample. Run it before and
# after a change that must not alter any result, and compare:
#   ./scripts/e2e-hashes.sh > before.txt; ...; ./scripts/e2e-hashes.sh | diff before.txt -
# Uses the build in build/ (./scripts/build.sh first), or in $ARBEL_BUILD_DIR.
set -eu
cd "$(dirname "$0")/.."
log=$(mktemp)
trap 'rm -f "$log"' EXIT
export ARBEL_RESULT_HASH_LOG="$log" QT_QPA_PLATFORM=offscreen
for selection in "-L e2e" "-R AviEndToEnd"; do
  # shellcheck disable=SC2086
  ctest --test-dir "${ARBEL_BUILD_DIR:-build}" $selection -j2 >/dev/null 2>&1 || echo "warning: some tests of $selection failed" >&2
done
sort "$log"
out=$(mktemp -d)
"./${ARBEL_BUILD_DIR:-build}/cli/arbel-repair" repair --reference samples/reference.mov --output "$out/repaired.mov" \
  samples/damaged.mov >/dev/null 2>&1 || echo "warning: the sample repair failed" >&2
printf 'sample %s %s\n' "$(sha256sum < "$out/repaired.mov" | cut -c1-16)" "$(stat -c %s "$out/repaired.mov")"
rm -rf "$out"
