#!/usr/bin/env bash
# Sets everything up and runs the main job on the bundled sample: a star field
# made by the project's deterministic generator is filtered by the real
# Windows plug-in (loaded under Wine by the host simulator, as an image editor
# loads it) and by the native `raylume` tool.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
bash scripts/build.sh
SAMPLE=build/sample
mkdir -p "$SAMPLE"
build/native/starfield --seed 7 --width 1200 --height 800 --stars 400 --sigma 0.9:2.2 --peak 0.05:3 \
  --noise 0.004 --sky 0.04 --gradient 0.02,0.01 --nebulae 2 --margin 4 \
  -o "$SAMPLE/starfield.ppm" -o "$SAMPLE/starfield.tif" --csv "$SAMPLE/stars.csv"
echo "== sample: $SAMPLE/starfield.ppm (1200 x 800, 16-bit RGB)"

source scripts/wine-env.sh
raylume_wine_start
trap raylume_wine_stop EXIT
echo "== the plug-in as a host sees it"
wine build/mingw/rlhost.exe build/mingw/RaylumePro2.8bf info
echo "== a filter run of RaylumePro2.8bf under Wine, without the dialog"
wine build/mingw/rlhost.exe build/mingw/RaylumePro2.8bf run --no-dialog \
  --image "$SAMPLE/starfield.ppm" --output "$SAMPLE/starfield-windows.ppm"
echo "== the same filter natively"
build/native/raylume "$SAMPLE/starfield.ppm" "$SAMPLE/starfield-raylume.ppm"
build/native/raylume --list "$SAMPLE/starfield.ppm" > "$SAMPLE/light-sources.txt"
head -n 12 "$SAMPLE/light-sources.txt"
echo "== results: $SAMPLE/starfield-windows.ppm and $SAMPLE/starfield-raylume.ppm"
