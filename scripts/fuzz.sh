#!/bin/sh
# Runs every fuzz target for a number of executions (default one million),
# each from its committed seeds, and merges what they found into a working
# corpus under build-fuzz/corpus. Crashes are written to build-fuzz/findings;
# a finding that stays becomes a named file under fuzz/regressions/<target>/.
#   ./scripts/fuzz.sh [runs] [target ...]
# Needs clang: it configures build-fuzz itself.
set -eu
cd "$(dirname "$0")/.."
runs=${1:-1000000}
[ $# -gt 0 ] && shift
targets=${*:-"mov_analysis_fuzz mov_scan_fuzz mov_writer_fuzz avi_header_fuzz avi_scan_fuzz avi_repair_fuzz mov_repair_fuzz"}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DARBEL_BUILD_FUZZ=ON \
  -DARBEL_BUILD_GUI=OFF -DARBEL_BUILD_TESTS=OFF -DARBEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz >/dev/null
mkdir -p build-fuzz/findings
for t in $targets; do
  corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  echo "== $t"
  UBSAN_OPTIONS=halt_on_error=1 ./build-fuzz/fuzz/"$t" -runs="$runs" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/findings/"$t"- "$corpus" fuzz/regressions/"$t" 2>&1 |
    grep -E "stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss|ERROR|SUMMARY|misleading|cov:.*DONE" || true
done
