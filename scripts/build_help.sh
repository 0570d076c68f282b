#!/usr/bin/env bash
# Compiles the instruction manual: the pages of help/ and the pictures of
# docs/ they name (made by scripts/screenshots.sh and scripts/main.sh, kept
# in git once, copied in here) into RaylumePro2.chm beside the plug-in, with
# chmcmd from Debian's fp-utils (scripts/bootstrap.sh installs it).
#   scripts/build_help.sh [FOLDER]    default: build/mingw, where RaylumePro2.8bf is
# A page that links to a page or picture that is not there fails the build.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$(mkdir -p "${1:-$ROOT/build/mingw}" && cd "${1:-$ROOT/build/mingw}" && pwd)"
STAGE="$OUT/help-stage"
PROJECT=RaylumePro2.hhp
MANUAL=RaylumePro2.chm

command -v chmcmd >/dev/null || { echo "build_help: chmcmd is missing (package fp-utils; run scripts/bootstrap.sh)" >&2; exit 1; }

rm -rf "$STAGE"
mkdir -p "$STAGE/pictures"
cp "$ROOT"/help/*.htm "$ROOT"/help/*.css "$ROOT"/help/*.hhc "$ROOT"/help/*.hhk "$ROOT/help/$PROJECT" "$STAGE/"

# The pages refer to pictures as pictures/NAME.png; each comes from docs/NAME.png.
for picture in $(grep -oh 'pictures/[A-Za-z0-9_.-]*\.png' "$ROOT"/help/*.htm | sort -u); do
  source="$ROOT/docs/${picture#pictures/}"
  if [ ! -f "$source" ]; then
    echo "build_help: $source is missing (scripts/screenshots.sh or scripts/main.sh makes it)" >&2
    exit 1
  fi
  cp "$source" "$STAGE/$picture"
done

# chmcmd follows the links of every page and adds what they name; it only
# warns about a missing target, which here is an error.
log="$STAGE/chmcmd.log"
if ! (cd "$STAGE" && chmcmd "$PROJECT") >"$log" 2>&1; then
  cat "$log" >&2
  echo "build_help: chmcmd failed" >&2
  exit 1
fi
if grep -q "couldn't find it" "$log"; then
  grep "couldn't find it" "$log" >&2
  echo "build_help: a page of help/ links to something that is not there" >&2
  exit 1
fi
if [ "$(head -c 4 "$STAGE/$MANUAL")" != "ITSF" ]; then
  echo "build_help: $STAGE/$MANUAL is not a compiled help file" >&2
  exit 1
fi
mv "$STAGE/$MANUAL" "$OUT/$MANUAL"
rm -rf "$STAGE"
echo "build_help: $OUT/$MANUAL"
