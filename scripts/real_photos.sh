#!/usr/bin/env bash
# The contact sheet of real photographs, docs/real-photos.png: crops of five
# of the test set's photographs (Debian's stellarium-data, extracted by
# tests/real/extract.sh), each as it is | at factory settings | with
# --stars-only. Run after scripts/build.sh (scripts/main.sh calls it).
#   scripts/real_photos.sh [BUILD_DIR]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
BUILD="${1:-build/native}"
REAL="$BUILD/real"
[ -f "$REAL/m13.tif" ] || bash tests/real/extract.sh "$REAL"
WORK="$BUILD/real-sheet"
mkdir -p "$WORK" docs
rows=()
# image | crop X,Y,W,H: galaxies among stars, and two star clusters
for entry in fornax_cluster:250,420,400,300 virgo_cluster:1380,1150,400,300 hercules_cluster:440,300,400,300 \
             m13:310,360,400,300 n2506:350,350,400,300; do
  image=${entry%%:*}; crop=${entry#*:}
  "$BUILD/raylume" "$REAL/$image.tif" "$WORK/$image-factory.tif" --quiet
  "$BUILD/raylume" "$REAL/$image.tif" "$WORK/$image-stars-only.tif" --stars-only --quiet
  "$BUILD/rl_side_by_side" "$REAL/$image.tif" "$WORK/$image-factory.tif" "$WORK/$image-stars-only.tif" \
    "$WORK/$image.png" --crop "$crop"
  rows+=("$WORK/$image.png")
done
convert "${rows[@]}" -background '#202020' -gravity north -splice 0x8 -append -gravity north -chop 0x8 +repage docs/real-photos.png
echo "docs/real-photos.png: ${#rows[@]} photographs, each as it is | factory settings | --stars-only"
