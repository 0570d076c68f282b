#!/usr/bin/env bash
# Benchmark of the whole raylume run against source-extractor on the same
# star field (not a test: it prints figures).
#
# Generates a 4000 x 3000 16-bit RGB field of 2000 stars with the project's
# generator, stretched (gamma 2.5, as a user stretches a linear frame), as a
# TIFF for raylume and, with the same stars in grey, as a FITS file for
# source-extractor (which takes one plane). Then times, alternating, the whole
# raylume run (read, analyse, render, write) and source-extractor's detection,
# each RUNS times (default 3), and prints the medians, their ratio and
# raylume's peak memory against the image's decoded size. Also runs rl_bench
# for the engine's per-stage figures unless --no-stages is given, and (unless
# --no-windows) the Windows build under Wine and the preview's frame times.
#
# Then the same at Length 100 and with every value at its maximum, and all
# three on a 62-megapixel frame (9576 x 6388), each with its peak memory and
# its ratios to the factory run and to source-extractor.
#
#   scripts/bench.sh [--runs N] [--no-stages] [--no-windows]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
RUNS=3
STAGES=1
WINDOWS=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) RUNS="$2"; shift 2 ;;
    --no-stages) STAGES=0; shift ;;
    --no-windows) WINDOWS=0; shift ;;
    *) echo "usage: scripts/bench.sh [--runs N] [--no-stages] [--no-windows]" >&2; exit 2 ;;
  esac
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
need=()
command -v source-extractor >/dev/null || need+=(source-extractor)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
[ -x build/native/raylume ] || bash scripts/build.sh

WORK=build/bench
mkdir -p "$WORK"
field=(--seed 2026 --width 4000 --height 3000 --stars 2000 --peak 0.05:3 --sigma 0.9:2.5 --noise 0.003
  --sky 0.03 --gradient 0.02,0.01 --nebulae 2 --gamma 2.5 --depth 16)
build/native/starfield "${field[@]}" -o "$WORK/field.tif" >/dev/null
build/native/starfield "${field[@]}" --gray -o "$WORK/field-grey.pgm" >/dev/null
build/native/raylume "$WORK/field-grey.pgm" "$WORK/field-grey.fits" --quiet \
  --intensity 0 --secondary-spike-intensity 0 --soft-flare-intensity 0 --ring-flare-intensity 0

# source-extractor: detection with its defaults, no convolution, a small catalogue.
printf 'X_IMAGE\nY_IMAGE\nFLUX_AUTO\n' >"$WORK/sex.param"
sex_run() {
  (cd "$WORK" && source-extractor field-grey.fits -CATALOG_NAME sex.cat -CATALOG_TYPE ASCII_HEAD \
    -PARAMETERS_NAME sex.param -FILTER N -VERBOSE_TYPE QUIET 2>/dev/null)
}
raylume_run() {
  /usr/bin/time -f "%M" -o "$WORK/raylume.mem" build/native/raylume "$WORK/field.tif" "$WORK/field-out.tif" \
    --stars-csv "$WORK/raylume.csv" --quiet
}
now() { date +%s.%N; }

ours=()
theirs=()
memory=()
for ((i = 0; i < RUNS; i++)); do
  t0=$(now); raylume_run; t1=$(now)
  ours+=("$(awk "BEGIN {print $t1 - $t0}")")
  memory+=("$(cat "$WORK/raylume.mem")")
  t0=$(now); sex_run; t1=$(now)
  theirs+=("$(awk "BEGIN {print $t1 - $t0}")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
m_ours=$(median "${ours[@]}")
m_theirs=$(median "${theirs[@]}")
peak_kib=$(printf '%s\n' "${memory[@]}" | sort -g | tail -n 1)
decoded_mib=$(awk "BEGIN {print 4000 * 3000 * 3 * 2 / 1048576}")
sources=$(($(wc -l <"$WORK/raylume.csv") - 1))
detected=$(grep -vc '^#' "$WORK/sex.cat" || true)
printf '\n== raylume vs source-extractor, 4000 x 3000 16-bit, %d runs each (medians)\n' "$RUNS"
printf 'raylume (TIFF in, analysis, render, TIFF out): %.2f s, %d light sources\n' "$m_ours" "$sources"
printf 'source-extractor (FITS, detection):            %.2f s, %d detections\n' "$m_theirs" "$detected"
printf 'ratio: %.2f x (goal: at most 2.5 x)\n' "$(awk "BEGIN {print $m_ours / $m_theirs}")"
printf 'raylume peak memory: %.0f MiB for a %.0f MiB image: %.2f x (goal: at most 3 x)\n' \
  "$(awk "BEGIN {print $peak_kib / 1024}")" "$decoded_mib" "$(awk "BEGIN {print $peak_kib / 1024 / $decoded_mib}")"
# Time (median) and peak memory (largest) of RUNS raylume runs of one file
# with some options: sets `m_time` and `m_peak_kib`.
measure() {
  local file="$1"; shift
  local times=() peaks=()
  for ((i = 0; i < RUNS; i++)); do
    local t0 t1
    t0=$(now)
    /usr/bin/time -f "%M" -o "$WORK/raylume.mem" build/native/raylume "$file" "$WORK/measured.tif" --quiet "$@"
    t1=$(now)
    times+=("$(awk "BEGIN {print $t1 - $t0}")")
    peaks+=("$(cat "$WORK/raylume.mem")")
  done
  m_time=$(median "${times[@]}")
  m_peak_kib=$(printf '%s\n' "${peaks[@]}" | sort -g | tail -n 1)
}
sex_time() {  # the median of RUNS source-extractor runs on a FITS file in $WORK
  local times=()
  for ((i = 0; i < RUNS; i++)); do
    local t0 t1
    t0=$(now)
    (cd "$WORK" && source-extractor "$1" -CATALOG_NAME sex.cat -CATALOG_TYPE ASCII_HEAD \
      -PARAMETERS_NAME sex.param -FILTER N -VERBOSE_TYPE QUIET 2>/dev/null)
    t1=$(now)
    times+=("$(awk "BEGIN {print $t1 - $t0}")")
  done
  median "${times[@]}"
}
MAXIMUM=(--quantity 100 --intensity 100 --length 100 --number-of-points 32 --spike-sharpness 100 --color-saturation 100
  --rainbow-intensity 100 --rainbow-frequency 100 --secondary-spike-intensity 100 --soft-flare-intensity 100
  --ring-flare-intensity 100)
report() {  # LABEL TIME PEAK_KIB IMAGE_MIB FACTORY_TIME SEX_TIME
  printf '%-34s %6.2f s  %5.0f MiB = %.2f x image   %5.2f x factory   %5.2f x source-extractor\n' "$1" "$2" \
    "$(awk "BEGIN {print $3 / 1024}")" "$(awk "BEGIN {print $3 / 1024 / $4}")" "$(awk "BEGIN {print $2 / $5}")" \
    "$(awk "BEGIN {print $2 / $6}")"
}

printf '\n== settings against the factory run (goal: any settings at most 3 x the factory time, memory at most 3 x the image)\n'
measure "$WORK/field.tif"
factory=$m_time
report "4000 x 3000, factory" "$m_time" "$m_peak_kib" "$decoded_mib" "$factory" "$m_theirs"
measure "$WORK/field.tif" --length 100
report "4000 x 3000, Length 100" "$m_time" "$m_peak_kib" "$decoded_mib" "$factory" "$m_theirs"
measure "$WORK/field.tif" "${MAXIMUM[@]}"
report "4000 x 3000, every value at maximum" "$m_time" "$m_peak_kib" "$decoded_mib" "$factory" "$m_theirs"

# A full-frame astro camera's 62 megapixels, the same sky scaled up.
big=(--seed 2026 --width 9576 --height 6388 --stars 10200 --peak 0.05:3 --sigma 0.9:2.5 --noise 0.003
  --sky 0.03 --gradient 0.02,0.01 --nebulae 6 --gamma 2.5 --depth 16)
if [ ! -s "$WORK/big.tif" ]; then
  build/native/starfield "${big[@]}" -o "$WORK/big.tif" >/dev/null
  build/native/starfield "${big[@]}" --gray -o "$WORK/big-grey.pgm" >/dev/null
  build/native/raylume "$WORK/big-grey.pgm" "$WORK/big-grey.fits" --quiet \
    --intensity 0 --secondary-spike-intensity 0 --soft-flare-intensity 0 --ring-flare-intensity 0
  rm -f "$WORK/big-grey.pgm"
fi
big_mib=$(awk "BEGIN {print 9576 * 6388 * 3 * 2 / 1048576}")
big_sex=$(sex_time big-grey.fits)
measure "$WORK/big.tif"
big_factory=$m_time
report "9576 x 6388, factory" "$m_time" "$m_peak_kib" "$big_mib" "$big_factory" "$big_sex"
measure "$WORK/big.tif" --length 100
report "9576 x 6388, Length 100" "$m_time" "$m_peak_kib" "$big_mib" "$big_factory" "$big_sex"
measure "$WORK/big.tif" "${MAXIMUM[@]}"
report "9576 x 6388, every value at maximum" "$m_time" "$m_peak_kib" "$big_mib" "$big_factory" "$big_sex"
printf '(source-extractor: %.2f s on the 4000 x 3000 frame, %.2f s on the 9576 x 6388 one)\n' "$m_theirs" "$big_sex"

if [ "$STAGES" = 1 ] && [ -x build/native/rl_bench ]; then
  printf '\n== engine stages (rl_bench)\n'
  build/native/rl_bench --benchmark_min_time=0.01
fi

# The Windows build against the native one on the same field: the engine
# must not depend on a fast allocator or C library (Wine's memcpy copies
# byte by byte). Wine's own process start (about 0.3 s) is included.
if [ "$WINDOWS" = 1 ] && [ -x build/mingw/raylume.exe ]; then
  source scripts/wine-env.sh
  raylume_wine_start
  printf '\n== raylume.exe under Wine vs native raylume, 4000 x 3000 16-bit (goal: at most 2 x)\n'
  for label in "Length 50" "Length 100" "every value at its maximum"; do
    case "$label" in
      "Length 50") args=(--length 50) ;;
      "Length 100") args=(--length 100) ;;
      *) args=("${MAXIMUM[@]}") ;;
    esac
    t0=$(now); build/native/raylume "$WORK/field.tif" "$WORK/out-native.tif" --quiet "${args[@]}"; t1=$(now)
    wine build/mingw/raylume.exe "$WORK/field.tif" "$WORK/out-wine.tif" --quiet "${args[@]}"; t2=$(now)
    printf '%-28s native %.2f s, Windows %.2f s: %.2f x\n' "$label" "$(awk "BEGIN {print $t1 - $t0}")" \
      "$(awk "BEGIN {print $t2 - $t1}")" "$(awk "BEGIN {print ($t2 - $t1) / ($t1 - $t0)}")"
  done
  raylume_wine_stop
fi

# The preview: time from a queued parameter set to a frame read back, on the
# card's path (llvmpipe under Wine) and the software path.
if [ "$WINDOWS" = 1 ] && [ -x build/mingw/rl_preview_tool.exe ]; then
  printf '\n== preview frames, 1000 x 700 preview of a 4000 x 3000 16-bit field (goal: under 100 ms per frame at fit-in-view)\n'
  source scripts/wine-env.sh
  raylume_wine_start
  wine build/mingw/rl_preview_tool.exe bench 2>&1 | grep -v '^          GL_'
  raylume_wine_stop
fi
