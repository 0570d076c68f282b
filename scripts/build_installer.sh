#!/usr/bin/env bash
# Builds the Windows installer, RaylumePro2-Setup-<version>.exe, beside the
# plug-in with makensis (Debian's nsis) from installer/raylume.nsi: the
# plug-in, the manual (scripts/build_help.sh) and presets/*.rlp.
#
#   scripts/build_installer.sh [BUILD_DIR [VERSION [OUTPUT]]]
#
# BUILD_DIR defaults to build/mingw; VERSION to the CMake project version of
# that build (four numbers); OUTPUT to BUILD_DIR/RaylumePro2-Setup-VERSION.exe.
# Without makensis it says so and does nothing.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="$(cd "${1:-$ROOT/build/mingw}" && pwd)"
VERSION="${2:-}"

if ! command -v makensis >/dev/null 2>&1; then
  echo "installer: makensis is not installed (Debian package nsis); no installer built"
  exit 0
fi
if [ -z "$VERSION" ]; then
  VERSION="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null || true)"
fi
if ! [[ "$VERSION" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  echo "installer: no four-part version (got '$VERSION'): configure $BUILD_DIR with CMake or pass one" >&2
  exit 1
fi
for f in RaylumePro2.8bf RaylumePro2.chm raylume.exe; do
  if [ ! -f "$BUILD_DIR/$f" ]; then
    echo "installer: $BUILD_DIR/$f is missing (scripts/build.sh builds it)" >&2
    exit 1
  fi
done
OUTPUT="${3:-$BUILD_DIR/RaylumePro2-Setup-$VERSION.exe}"
mkdir -p "$(dirname "$OUTPUT")"
OUTPUT="$(cd "$(dirname "$OUTPUT")" && pwd)/$(basename "$OUTPUT")"

# Written under a temporary name and renamed when complete.
tmp="$OUTPUT.tmp.exe"
rm -f "$tmp"
if ! makensis -V2 -NOCD -DVERSION="$VERSION" -DBUILD_DIR="$BUILD_DIR" -DSOURCE_DIR="$ROOT" -DOUTFILE="$tmp" \
  "$ROOT/installer/raylume.nsi"; then
  rm -f "$tmp"
  echo "installer: makensis failed" >&2
  exit 1
fi
mv -f "$tmp" "$OUTPUT"
echo "installer: $OUTPUT"
