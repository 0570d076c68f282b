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
# The same pixels as FITS: raylume with every effect off converts without loss.
build/native/raylume "$SAMPLE/starfield.ppm" "$SAMPLE/starfield.fits" --quiet \
  --intensity 0 --secondary-spike-intensity 0 --soft-flare-intensity 0 --ring-flare-intensity 0
echo "== sample: $SAMPLE/starfield.tif, .fits and .ppm (1200 x 800, 16-bit RGB)"

source scripts/wine-env.sh
raylume_wine_start
trap raylume_wine_stop EXIT
echo "== the plug-in as a host sees it"
wine build/mingw/rlhost.exe build/mingw/RaylumePro2.8bf info
echo "== a filter run of RaylumePro2.8bf under Wine, without the dialog"
wine build/mingw/rlhost.exe build/mingw/RaylumePro2.8bf run --no-dialog \
  --image "$SAMPLE/starfield.ppm" --output "$SAMPLE/starfield-windows.ppm"
echo "== the same filter natively with raylume: 16-bit TIFF, FITS with its catalogue, PPM"
build/native/raylume "$SAMPLE/starfield.tif" "$SAMPLE/starfield-raylume.tif" --stars-csv "$SAMPLE/light-sources.csv"
build/native/raylume "$SAMPLE/starfield.fits" "$SAMPLE/starfield-raylume.fits" --stars-json "$SAMPLE/light-sources.json"
build/native/raylume "$SAMPLE/starfield.ppm" "$SAMPLE/starfield-raylume.ppm"
head -n 6 "$SAMPLE/light-sources.csv"
echo "== before and after: docs/sample-before-after.png"
mkdir -p docs
build/native/rl_side_by_side "$SAMPLE/starfield.tif" "$SAMPLE/starfield-raylume.tif" docs/sample-before-after.png \
  --crop 226,360,480,360
echo "== the presets on the sample (factory, Natural, Cross45, SixPoint): docs/presets.png"
for preset in Natural Cross45 SixPoint; do
  build/native/raylume "$SAMPLE/starfield.tif" "$SAMPLE/starfield-$preset.tif" --preset "$preset" --quiet
done
build/native/rl_side_by_side "$SAMPLE/starfield-raylume.tif" "$SAMPLE/starfield-Natural.tif" \
  "$SAMPLE/starfield-Cross45.tif" "$SAMPLE/starfield-SixPoint.tif" docs/presets.png --crop 226,360,300,240
echo "== a stretched deep field with galaxies: as it is, at factory settings, with --stars-only: docs/stars-only.png"
build/native/starfield --seed 1 --width 1200 --height 900 --stars 1400 --profile moffat --alpha 1.8:2.2 \
  --peak 0.05:3 --galaxies 150 --galaxy-peak 0.1:0.8 --galaxy-radius 2:10 --seeing 0.9 --separation 12 \
  --noise 0.003 --sky 0.01 --nebulae 1 --margin 8 --gamma 3 \
  -o "$SAMPLE/deepfield.tif" --csv "$SAMPLE/deepfield-stars.csv" --galaxy-csv "$SAMPLE/deepfield-galaxies.csv"
build/native/raylume "$SAMPLE/deepfield.tif" "$SAMPLE/deepfield-raylume.tif" --quiet
build/native/raylume "$SAMPLE/deepfield.tif" "$SAMPLE/deepfield-stars-only.tif" --stars-only \
  --stars-csv "$SAMPLE/deepfield-light-sources.csv"
build/native/rl_side_by_side "$SAMPLE/deepfield.tif" "$SAMPLE/deepfield-raylume.tif" \
  "$SAMPLE/deepfield-stars-only.tif" docs/stars-only.png --crop 160,520,360,270
echo "== real photographs (Debian's stellarium-data): as they are, at factory settings, with --stars-only: docs/real-photos.png"
bash scripts/real_photos.sh build/native
echo "== the dialog's preview (drawn through OpenGL by its background task) beside the final render: docs/preview-vs-final.png"
wine build/mingw/rl_preview_tool.exe shot docs/preview-vs-final.png
echo "== results: $SAMPLE/starfield-windows.ppm, $SAMPLE/starfield-raylume.{tif,fits,ppm}"
