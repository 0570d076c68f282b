#!/usr/bin/env bash
# Installs the GIMP plug-in for the current user: raylume-gimp and the presets
# into its own folder among GIMP 2.10's plug-ins,
#   ${GIMP2_DIRECTORY:-~/.config/GIMP/2.10}/plug-ins/raylume-gimp/
# (GIMP2_DIRECTORY is where GIMP itself looks for the user's profile when it
# is set). GIMP finds the plug-in the next time it starts: Filters > Light
# and Shadow > Raylume...
#   scripts/install_gimp_plugin.sh [BUILD_FOLDER]      (default build/native)
#   scripts/install_gimp_plugin.sh --uninstall
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
PROFILE="${GIMP2_DIRECTORY:-${XDG_CONFIG_HOME:-$HOME/.config}/GIMP/2.10}"
DEST="$PROFILE/plug-ins/raylume-gimp"

if [ "${1:-}" = "--uninstall" ]; then
  rm -rf "$DEST"
  echo "install_gimp_plugin: removed $DEST"
  exit 0
fi

BUILD="${1:-$ROOT/build/native}"
if [ ! -x "$BUILD/raylume-gimp" ]; then
  echo "install_gimp_plugin: $BUILD/raylume-gimp is missing: build it first" \
    "(scripts/build.sh, with libgimp2.0-dev installed)" >&2
  exit 1
fi
mkdir -p "$DEST/presets"
# A new file renamed over the old one, so that a GIMP running it meanwhile keeps its copy.
install -m 755 "$BUILD/raylume-gimp" "$DEST/raylume-gimp.new"
mv -f "$DEST/raylume-gimp.new" "$DEST/raylume-gimp"
install -m 644 "$ROOT"/presets/*.rlp "$DEST/presets/"
echo "install_gimp_plugin: installed $DEST/raylume-gimp"
