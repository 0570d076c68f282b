#!/usr/bin/env bash
# extract.sh OUTDIR [--with-gmos] [--no-verify]
#
# Builds the real-image test set described in README.md and labelled in
# labels.csv: eight photographs shipped by Debian's stellarium-data package,
# converted losslessly (8-bit values scaled by 257) to 16-bit RGB TIFF, named
# as in labels.csv's "image" column plus ".tif".
#
# Installs nothing. Needs: stellarium-data (the textures), imagemagick
# (/usr/bin/convert, or set CONVERT=...). With --with-gmos it also copies
# gmos.fits (an unlabelled negative sample: a spectrum with two cosmic-ray
# tracks) from python3-astroscrappy, either installed or, via GMOS_DEB=FILE,
# from a .deb fetched with `apt-get download python3-astroscrappy`.
#
# The labels are only valid for these exact pixels, so each source file's
# SHA-256 is checked; --no-verify skips that (the labels may then be wrong).
# Exit status: 0 done; 2 usage; 3 a tool or source file is missing; 4 a
# source file differs from the one that was labelled; 5 a conversion failed.
set -euo pipefail

usage() { echo "usage: $0 OUTDIR [--with-gmos] [--no-verify]" >&2; exit 2; }
[ $# -ge 1 ] || usage
out=$1; shift
with_gmos=0; verify=1
for a in "$@"; do
  case $a in
    --with-gmos) with_gmos=1 ;;
    --no-verify) verify=0 ;;
    *) usage ;;
  esac
done

die() { local code=$1; shift; echo "extract.sh: error: $*" >&2; exit "$code"; }

NEB=${STELLARIUM_NEBULAE:-/usr/share/stellarium/nebulae/default}
CONVERT=${CONVERT:-/usr/bin/convert}
[ -x "$CONVERT" ] || die 3 "$CONVERT not found: install the 'imagemagick' package (or set CONVERT)"
"$CONVERT" -version 2>/dev/null | grep -q ImageMagick \
  || die 3 "$CONVERT is not ImageMagick's convert: install the 'imagemagick' package (or set CONVERT)"
command -v sha256sum >/dev/null || die 3 "sha256sum not found (coreutils)"
[ -d "$NEB" ] || die 3 "$NEB not found: install the 'stellarium-data' package"

# output name | file in $NEB | SHA-256 of that file (stellarium-data 0.22.2-1)
SOURCES="
fornax_cluster|fornax_cluster.png|2a775f72722ec9a27299d4bae723911f8a3fd4b519f2d957811604e0f2cf5461
hercules_cluster|hercules_cluster.png|1398401ae7bb4a41072ae5e5ee5f0529dc27fbe41a1ccdfa85e0e8ad1af5d892
hydra_cluster|hydra_cluster.png|3d487153227aa867a9c5b6f6d9488d5c6a559e77ff9465353841bb294eeb3339
leo_cluster|leo_cluster.png|aab9bdcd2ef63c7ed92e8f054ad010a3eda8a01e65af4c94fd062833569bf95c
virgo_cluster|virgo_cluster.png|0b986e573f09db9b4feba7afdf8b83a4a8ce40fbc1bfd4e590b671eca44e258c
n691group|n691group-vasey.png|58ba5b8895367ee389ff4036dfdc61a3ff4740dd972885a0303978f7d97dcb3e
m13|m13.png|f1c492eb0f78d992fc4cad47b595c2c8995239b06815511cc5781677a670fcd4
n2506|n2506-vasey.png|ee7c9db43cb34ceb454947542719f56dc02763561fe4feb3645479373b6d52ef
"
GMOS_SHA=f682cbbc9ec55a61c2816ca10d58c4737e532aa67774047e6b889b03db38aae9
GMOS_PATH=usr/lib/python3/dist-packages/astroscrappy/tests/data/gmos.fits

check_sha() { # file expected
  [ "$verify" = 1 ] || return 0
  local got
  got=$(sha256sum "$1" | cut -d' ' -f1)
  [ "$got" = "$2" ] || die 4 "$1 has SHA-256 $got, not the labelled file's $2 (package updated? the labels may no longer fit; --no-verify to go on)"
}

# Check every source before writing anything.
while IFS='|' read -r name file sha; do
  [ -n "$name" ] || continue
  [ -f "$NEB/$file" ] || die 3 "$NEB/$file is missing: install the 'stellarium-data' package (version 0.22.2-1 was labelled)"
  check_sha "$NEB/$file" "$sha"
done <<<"$SOURCES"

gmos_src=
tmpdir=
cleanup() { [ -z "$tmpdir" ] || rm -rf "$tmpdir"; }
trap cleanup EXIT
if [ "$with_gmos" = 1 ]; then
  if [ -n "${GMOS_DEB:-}" ]; then
    [ -f "$GMOS_DEB" ] || die 3 "GMOS_DEB=$GMOS_DEB is not a file"
    tmpdir=$(mktemp -d)
    dpkg-deb --fsys-tarfile "$GMOS_DEB" | tar -x -C "$tmpdir" "./$GMOS_PATH" 2>/dev/null \
      || die 3 "$GMOS_DEB holds no $GMOS_PATH"
    gmos_src=$tmpdir/$GMOS_PATH
  else
    gmos_src=/$GMOS_PATH
    [ -f "$gmos_src" ] || die 3 "$gmos_src is missing: install 'python3-astroscrappy', or set GMOS_DEB to the .deb from 'apt-get download python3-astroscrappy'"
  fi
  check_sha "$gmos_src" "$GMOS_SHA"
fi

mkdir -p "$out"
while IFS='|' read -r name file sha; do
  [ -n "$name" ] || continue
  dst=$out/$name.tif
  # -alpha off: hercules_cluster and m13 carry an alpha channel that is fully
  # opaque, so dropping it changes no pixel. -type TrueColor keeps RGB even
  # for palette PNGs; -depth 16 scales each 8-bit value v to 257*v.
  "$CONVERT" "$NEB/$file" -alpha off -type TrueColor -depth 16 -compress none -strip "$dst" \
    || die 5 "converting $NEB/$file to $dst failed"
  desc=$("$CONVERT" "$dst" -format '%z %[channels]' info: 2>/dev/null) || die 5 "cannot read back $dst"
  case $desc in
    "16 srgb"*) ;;
    *) die 5 "$dst is '$desc', not 16-bit RGB" ;;
  esac
  echo "$dst"
done <<<"$SOURCES"

if [ "$with_gmos" = 1 ]; then
  cp "$gmos_src" "$out/gmos.fits"
  echo "$out/gmos.fits"
fi
