#!/usr/bin/env bash
# Builds everything: the native core, tools and tests (build/native), the
# same under AddressSanitizer/UBSan (build/asan) and the tests under
# ThreadSanitizer (build/tsan), both with --sanitize, and the
# Windows plug-in with its Wine tests, its manual, RaylumePro2.chm, and its
# installer, RaylumePro2-Setup-<version>.exe (build/mingw).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
bash scripts/bootstrap.sh
JOBS="$(nproc)"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$JOBS"
# The Linux product: raylume_<version>_amd64.deb (the tool, presets, manual
# page, bash completion and the GIMP plug-in).
(cd build/native && cpack -G DEB >/dev/null)
echo "build: $(ls build/native/raylume_*_amd64.deb)"
if [ "${1:-}" = "--sanitize" ]; then
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRAYLUME_SANITIZE=ON >/dev/null
  cmake --build build/asan -j "$JOBS"
  # ThreadSanitizer over the threaded engine: the unit tests and the runs
  # through the host simulator (analysis sections, band rendering).
  cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAYLUME_TSAN=ON >/dev/null
  cmake --build build/tsan -j "$JOBS" --target rl_tests rl_host_tests
fi
cmake -S . -B build/mingw -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DRAYLUME_NATIVE_TOOLS="$ROOT/build/native" >/dev/null
cmake --build build/mingw -j "$JOBS"
bash scripts/build_help.sh build/mingw
bash scripts/build_installer.sh build/mingw
echo "build: RaylumePro2.8bf is $ROOT/build/mingw/RaylumePro2.8bf"
