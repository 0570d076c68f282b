#!/usr/bin/env bash
# Writes the presets (presets/*.rlp) with raylume itself, so that they are
# ordinary parameter files of this version, as the dialog's Save writes them.
# The values are the ones the README's preset table lists; tests/cli_test.sh
# checks that the two agree.
#   scripts/presets.sh [RAYLUME]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RAYLUME="${1:-$ROOT/build/native/raylume}"
mkdir -p "$ROOT/presets"
# Natural: little colour and rainbow, gentler spikes, no ring: for stretched photographs.
"$RAYLUME" --save-settings "$ROOT/presets/Natural.rlp" --color-saturation 5 --rainbow-intensity 10 \
  --intensity 40 --length 40 --spike-sharpness 60 --secondary-spike-intensity 30 --soft-flare-intensity 30 \
  --ring-flare-intensity 0
# Cross45: four long, sharp spikes turned 45 degrees.
"$RAYLUME" --save-settings "$ROOT/presets/Cross45.rlp" --angle 45 --number-of-points 4 --intensity 55 \
  --length 60 --spike-sharpness 70 --color-saturation 15 --rainbow-intensity 25 --secondary-spike-intensity 40 \
  --soft-flare-intensity 40 --ring-flare-intensity 10 --quantity 40
# SixPoint: six sharp spikes, one pointing straight up, on fewer stars.
"$RAYLUME" --save-settings "$ROOT/presets/SixPoint.rlp" --number-of-points 6 --angle 0 --intensity 50 \
  --length 55 --spike-sharpness 80 --color-saturation 10 --rainbow-intensity 15 --secondary-spike-intensity 20 \
  --soft-flare-intensity 35 --ring-flare-intensity 0 --quantity 40
