#!/bin/sh
# Replays each fuzz target's corpus (the working one of scripts/fuzz.sh when
# there is one, else the committed seeds and regressions) in a build with
# source coverage, and prints the line coverage of the engine files it ran.
#   ./scripts/fuzz-coverage.sh [target ...]
set -eu
cd "$(dirname "$0")/.."
targets=${*:-"mov_analysis_fuzz mov_scan_fuzz mov_writer_fuzz mov_codec_fuzz avi_header_fuzz avi_scan_fuzz avi_repair_fuzz mov_repair_fuzz"}
cmake -S . -B build-coverage -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
  -DARBEL_BUILD_GUI=OFF -DARBEL_BUILD_BENCH=OFF >/dev/null
for t in $targets; do cmake --build build-coverage --target "${t}_replay" >/dev/null; done
for t in $targets; do
  corpus=build-fuzz/corpus/$t
  [ -d "$corpus" ] || corpus=fuzz/corpus/$t
  rm -f build-coverage/"$t".profraw
  LLVM_PROFILE_FILE=build-coverage/"$t".profraw ./build-coverage/fuzz/"${t}_replay" "$corpus" fuzz/regressions/"$t" >/dev/null
  llvm-profdata merge -o build-coverage/"$t".profdata build-coverage/"$t".profraw
  echo "== $t ($(ls "$corpus" | wc -l) inputs)"
  llvm-cov report ./build-coverage/fuzz/"${t}_replay" -instr-profile=build-coverage/"$t".profdata \
    engine/ 2>/dev/null | awk 'NR > 2 && $1 ~ /\.cpp$/ && $1 != "TOTAL" {printf "  %-36s lines %s\n", $1, $(NF-3)}'
done
