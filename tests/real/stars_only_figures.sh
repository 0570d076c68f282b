#!/usr/bin/env bash
# The stars-only figures on the real-image set: of the hand-labelled sources
# that get effects at factory settings, how many galaxies --stars-only hides
# and how many stars (saturated ones counted apart too) it keeps. A label is
# matched to the nearest catalogue entry within 2.5 pixels.
#   tests/real/stars_only_figures.sh RAYLUME IMAGES_FOLDER [WORK_FOLDER]
# IMAGES_FOLDER is what tests/real/extract.sh made.
set -euo pipefail
RAYLUME="$1"
IMAGES="$2"
WORK="${3:-$(mktemp -d)}"
LABELS="$(cd "$(dirname "$0")" && pwd)/labels.csv"
mkdir -p "$WORK"
for image in $(tail -n +2 "$LABELS" | cut -d, -f1 | sort -u); do
  "$RAYLUME" "$IMAGES/$image.tif" "$WORK/$image-plain.tif" --stars-csv "$WORK/$image-plain.csv" --quiet 2>/dev/null
  "$RAYLUME" "$IMAGES/$image.tif" "$WORK/$image-stars.tif" --stars-only --stars-csv "$WORK/$image-stars.csv" --quiet 2>/dev/null
done
# For each label: the nearest entry of the plain catalogue; whether it was
# selected there, and whether the same entry (index) is selected with --stars-only.
awk -F, -v work="$WORK" '
  function load(file, key,   line, n, f) {
    n = 0
    while ((getline line < file) > 0) {
      if (line ~ /^index/) continue
      split(line, f, ",")
      n++; X[key, n] = f[2]; Y[key, n] = f[3]; SEL[key, n] = f[10]
    }
    close(file); COUNT[key] = n
  }
  FNR > 1 {
    image = $1; x = $2; y = $3; class = $4
    if (!((image, "p") in COUNT)) { load(work "/" image "-plain.csv", image SUBSEP "p"); load(work "/" image "-stars.csv", image SUBSEP "s") }
    best = 0; bestD = 6.25
    for (i = 1; i <= COUNT[image, "p"]; i++) {
      d = (X[image, "p", i] - x) ^ 2 + (Y[image, "p", i] - y) ^ 2
      if (d <= bestD) { bestD = d; best = i }
    }
    if (!best || SEL[image, "p", best] != 1) { skipped[class]++; next }
    # The same source in the stars-only catalogue (the analysis is the same: same position).
    kept = 0
    for (i = 1; i <= COUNT[image, "s"]; i++)
      if (X[image, "s", i] == X[image, "p", best] && Y[image, "s", i] == Y[image, "p", best]) { kept = SEL[image, "s", i] == 1; break }
    total[class]++; if (kept) keptCount[class]++
  }
  END {
    g = total["galaxy"]; s = total["star"] + total["saturated_star"]; ss = total["saturated_star"]
    gh = g - keptCount["galaxy"]; sk = keptCount["star"] + keptCount["saturated_star"]; ssk = keptCount["saturated_star"]
    printf "galaxies hidden: %d of %d (%.1f %%)\n", gh, g, g ? 100 * gh / g : 0
    printf "stars kept: %d of %d (%.1f %%), saturated stars kept: %d of %d (%.1f %%)\n", sk, s, s ? 100 * sk / s : 0, ssk, ss, ss ? 100 * ssk / ss : 0
    printf "(labels without effects at factory settings, not counted: %d galaxies, %d stars, %d saturated stars)\n", skipped["galaxy"], skipped["star"], skipped["saturated_star"]
  }' "$LABELS"
