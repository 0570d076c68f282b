#!/usr/bin/env bash
# Screenshots of the filter's dialog on the sample image, as a user sees it in
# an image editor: the real plug-in loaded by the host simulator under Wine on
# a 1280 x 1024 virtual display, driven by window messages. Written to docs/:
#   dialog-factory.png        the dialog as it opens, factory settings
#   dialog-zoom-hide.png      zoomed in, the spikes of some stars hidden
#   dialog-effects-only.png   Effects Only
# The preview draws through the software path here (its frames reach the
# screen as a bitmap; a child window's buffer swap does not show on Xvfb).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
[ -x build/mingw/rlhost.exe ] || bash scripts/build.sh
SAMPLE=build/sample
if [ ! -f "$SAMPLE/starfield.ppm" ]; then
  mkdir -p "$SAMPLE"
  build/native/starfield --seed 7 --width 1200 --height 800 --stars 400 --sigma 0.9:2.2 --peak 0.05:3 \
    --noise 0.004 --sky 0.04 --gradient 0.02,0.01 --nebulae 2 --margin 4 -o "$SAMPLE/starfield.ppm"
fi
export RAYLUME_OWN_XVFB=1  # a display of exactly 1280 x 1024 of our own
source scripts/wine-env.sh
raylume_wine_start
# The software setting is stored for these runs only.
cleanup() {
  timeout 60 wine reg delete 'HKLM\Software\Corvane Software\RaylumePro\2.0\OpenGLSettings' /f >/dev/null 2>&1 || true
  raylume_wine_stop
}
trap cleanup EXIT
mkdir -p docs
# Factory settings: no values saved by earlier runs.
rm -f "$WINEPREFIX/drive_c/users/$(whoami)/AppData/Local/Corvane/RaylumePro2/Settings/LastSavedParameters.rlp" \
  "$WINEPREFIX/drive_c/users/$(whoami)/AppData/Local/Corvane/RaylumePro2/Settings/UISettings.bin"
shoot() { # name steps
  local name="$1" steps="$2"
  local args=(run --image "$SAMPLE/starfield.ppm" --opengl-setting 4 --dialog-action cancel --screenshot "docs/$name.png")
  [ -n "$steps" ] && args+=(--dialog-steps "$steps")
  timeout 300 wine build/mingw/rlhost.exe build/mingw/RaylumePro2.8bf "${args[@]}" | grep -E "Screenshot|Dialog|Message box"
}
shoot dialog-factory ""
shoot dialog-zoom-hide "zoom-in,wait:800,hide-tool,drag:300:40:600:300,wait:800"
shoot dialog-effects-only "effects-only,wait:800"
echo "screenshots: docs/dialog-factory.png docs/dialog-zoom-hide.png docs/dialog-effects-only.png"
