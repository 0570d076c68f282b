#!/usr/bin/env bash
# Sets everything up and runs every test: native, native under sanitizers,
# and the Windows builds under Wine.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
start=$(date +%s)
bash scripts/build.sh --sanitize
status=0
echo "== the real photographs (from Debian's stellarium-data)"
bash tests/real/extract.sh build/native/real || status=1
echo "== native tests"
ctest --test-dir build/native --output-on-failure || status=1
timeout 600 bash tests/gimp_test.sh build/native || status=1
echo "== the Debian package: installed, used and removed"
timeout 600 bash tests/package_test.sh build/native || status=1
echo "== native tests under AddressSanitizer and UBSan"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/asan --output-on-failure || status=1
echo "== native tests under ThreadSanitizer"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/rl_tests --gtest_brief=1 || status=1
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/rl_host_tests --gtest_brief=1 || status=1
echo "== fuzzing the readers of hostile input (about a minute each)"
bash scripts/fuzz.sh 60 || status=1
echo "== Windows tests under Wine"
source scripts/wine-env.sh
raylume_wine_start
trap raylume_wine_stop EXIT
ctest --test-dir build/mingw --output-on-failure || status=1
echo "== all tests finished in $(( $(date +%s) - start )) s: $([ $status = 0 ] && echo PASSED || echo FAILED)"
exit $status
