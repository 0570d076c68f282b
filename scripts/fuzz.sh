#!/usr/bin/env bash
# Fuzzes the readers of hostile input with libFuzzer (clang from Debian), each
# target for SECONDS (default 60), everything under AddressSanitizer and UBSan:
#   fuzz_settings    parameter files, the interface settings file, old parameter blocks
#   fuzz_descriptor  scripting descriptors and registry entries, replayed into whole filter runs
#   fuzz_images      every image reader of raylume and of the host simulator
# Seeds come from tests/fuzz/corpus/TARGET; what a run finds is kept in
# build/fuzz/corpus/TARGET, a crash in build/fuzz/crash-* (and the script fails).
#   scripts/fuzz.sh [SECONDS]        e.g. scripts/fuzz.sh 3600 for an hour each
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
SECONDS_EACH="${1:-60}"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
if ! command -v clang++ >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "ok installed"; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
fi
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAYLUME_FUZZ=ON >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target fuzz_settings fuzz_descriptor fuzz_images
status=0
for target in settings descriptor images; do
  corpus="build/fuzz/corpus/$target"
  mkdir -p "$corpus"
  log="build/fuzz/$target.log"
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1 "build/fuzz/fuzz_$target" "$corpus" \
      "tests/fuzz/corpus/$target" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/crash-$target-" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    echo "fuzz_$target: $runs executions in ${SECONDS_EACH} s, no failure"
  else
    echo "fuzz_$target: FAILED (see $log)"
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
