#!/usr/bin/env bash
# End-to-end runs of raylume as a user types them: files of every kind in and
# out, the catalogue, settings saved and reloaded, presets, stars only and
# single stars hidden or shown, several inputs, and every refusal with its
# exit code. Ctrl+C leaves no output.
#   tests/cli_test.sh STARFIELD RAYLUME WORKDIR
set -uo pipefail
STARFIELD="$1"
RAYLUME="$2"
DIR="$3/cli"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
rm -rf "$DIR"
mkdir -p "$DIR/out"
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect CODE TEXT COMMAND...: the command exits with CODE and its stderr holds TEXT.
expect() {
  local code="$1" text="$2"
  shift 2
  "$@" >"$DIR/stdout" 2>"$DIR/stderr"
  local rc=$?
  if [ "$rc" != "$code" ]; then
    fail "$* exited $rc, not $code: $(cat "$DIR/stderr")"
  elif [ -n "$text" ] && ! grep -q -- "$text" "$DIR/stderr"; then
    fail "$* did not say '$text': $(cat "$DIR/stderr")"
  fi
}

same() { cmp -s "$1" "$2"; }

"$STARFIELD" --seed 5 --width 320 --height 200 --stars 40 --peak 0.3:2 --sigma 1.2:2 --margin 8 \
  -o "$DIR/in.ppm" -o "$DIR/in.tif" >/dev/null || fail "starfield"

# A run with the dialog's options, the catalogue and the settings.
expect 0 "" "$RAYLUME" "$DIR/in.tif" "$DIR/out.tif" --quantity 80 --angle 15 --number-of-points 6 \
  --save-settings "$DIR/chosen.rlp" --stars-csv "$DIR/stars.csv" --stars-json "$DIR/stars.json" --quiet
[ "$(stat -c %s "$DIR/chosen.rlp" 2>/dev/null)" = 255 ] || fail "a parameter file is 255 bytes"
same "$DIR/in.tif" "$DIR/out.tif" && fail "the filter drew nothing on a field of bright stars"
head -n 1 "$DIR/stars.csv" |
  grep -q '^index,x,y,diameter,brightness,red,green,blue,state,selected,intensity,size,ellipticity,concentration,relative_size,saturated,extended$' ||
  fail "the catalogue's header: $(head -n 1 "$DIR/stars.csv")"
[ "$(wc -l <"$DIR/stars.csv")" -gt 5 ] || fail "the catalogue lists the stars"
grep -q '"sources": \[' "$DIR/stars.json" || fail "the JSON catalogue"
grep -q '"relative_size": [0-9.]*, "saturated": [a-z]*, "extended": [a-z]*}' "$DIR/stars.json" ||
  fail "the JSON catalogue lists the shape measures"

# The saved settings give the same picture.
expect 0 "" "$RAYLUME" "$DIR/in.tif" "$DIR/again.tif" --load-settings "$DIR/chosen.rlp" --quiet
same "$DIR/out.tif" "$DIR/again.tif" || fail "loading the saved settings gave another picture"

# Presets: each file holds the values the README's table lists for it, is
# found by name in any case or by path, and later options override it.
for preset in Natural Cross45 SixPoint; do
  values="$(grep "^| \`$preset\` |" "$ROOT/README.md" | cut -d'`' -f4)"
  [ -n "$values" ] || fail "the README lists no values for the preset $preset"
  # shellcheck disable=SC2086
  expect 0 "" "$RAYLUME" $values --save-settings "$DIR/documented-$preset.rlp"
  expect 0 "" "$RAYLUME" --preset "$(echo "$preset" | tr '[:upper:]' '[:lower:]')" --save-settings "$DIR/loaded-$preset.rlp"
  same "$ROOT/presets/$preset.rlp" "$DIR/documented-$preset.rlp" || fail "presets/$preset.rlp holds other values than the README's"
  same "$ROOT/presets/$preset.rlp" "$DIR/loaded-$preset.rlp" || fail "--preset $preset loads other values"
done
expect 0 "" "$RAYLUME" "$DIR/in.tif" "$DIR/natural.tif" --preset "$ROOT/presets/Natural.rlp" --quiet
expect 0 "" "$RAYLUME" "$DIR/in.tif" "$DIR/natural-again.tif" $(grep '^| `Natural` |' "$ROOT/README.md" | cut -d'`' -f4) --quiet
same "$DIR/natural.tif" "$DIR/natural-again.tif" || fail "--preset PATH gave another picture than its values"
expect 0 "" "$RAYLUME" --preset Cross45 --angle 10 --save-settings "$DIR/turned.rlp"
same "$DIR/turned.rlp" "$ROOT/presets/Cross45.rlp" && fail "an option after --preset did not override it"
expect 2 "no preset named 'Sparkly' (there are " "$RAYLUME" "$DIR/in.tif" "$DIR/x.tif" --preset Sparkly

# A stretched deep field with galaxies: --stars-only hides what the shape rule
# calls extended, and nothing else; hiding the same rows through a hide file
# gives the same picture.
"$STARFIELD" --seed 3 --width 480 --height 360 --stars 220 --profile moffat --alpha 1.8:2.2 --peak 0.05:3 \
  --galaxies 30 --galaxy-peak 0.1:0.8 --galaxy-radius 2:10 --seeing 0.9 --separation 12 --noise 0.004 \
  --sky 0.02 --margin 8 --gamma 3 -o "$DIR/deep.tif" --csv "$DIR/deep-truth.csv" >/dev/null || fail "starfield --galaxies"
expect 0 "" "$RAYLUME" "$DIR/deep.tif" "$DIR/deep-factory.tif" --stars-csv "$DIR/deep-factory.csv" --quiet
expect 0 "hidden as extended" "$RAYLUME" "$DIR/deep.tif" "$DIR/deep-stars.tif" --stars-only --stars-csv "$DIR/deep-stars.csv"
same "$DIR/deep-factory.tif" "$DIR/deep-stars.tif" && fail "--stars-only changed nothing on a field with galaxies"
# state is column 9, selected 10, extended the last.
[ "$(awk -F, 'NR > 1 && $NF == 1 && $10 == 1' "$DIR/deep-factory.csv" | wc -l)" -gt 0 ] ||
  fail "no extended source got effects at factory settings"
awk -F, 'NR > 1 && (($NF == 1) != ($9 == "hidden"))' "$DIR/deep-stars.csv" | grep -q . &&
  fail "--stars-only hid other sources than the extended ones: $(awk -F, 'NR > 1 && (($NF == 1) != ($9 == "hidden"))' "$DIR/deep-stars.csv" | head -n 3)"
awk -F, 'NR == 1 || $NF == 1' "$DIR/deep-factory.csv" >"$DIR/extended.csv"
expect 0 "" "$RAYLUME" "$DIR/deep.tif" "$DIR/deep-hidden.tif" --hide-file "$DIR/extended.csv" --quiet
same "$DIR/deep-stars.tif" "$DIR/deep-hidden.tif" || fail "hiding the extended rows by file differs from --stars-only"

# --hide at a true star with effects hides that one source and no other;
# --show gives it back its effects; a point with nothing in reach is noted.
star="$(awk -F, 'NR == FNR { if (FNR > 1 && $10 == 1) { x[FNR] = $2; y[FNR] = $3 } next }
  FNR > 1 { for (i in x) if (($2 - x[i]) ^ 2 + ($3 - y[i]) ^ 2 < 0.5) { print $2 "," $3; exit } }' \
  "$DIR/deep-factory.csv" "$DIR/deep-truth.csv")"
[ -n "$star" ] || fail "no true star with effects on the deep field"
expect 0 "" "$RAYLUME" "$DIR/deep.tif" "$DIR/deep-one.tif" --hide "$star" --stars-csv "$DIR/deep-one.csv" --quiet
changed="$(paste -d'|' <(cut -d, -f9,10 "$DIR/deep-factory.csv") <(cut -d, -f9,10 "$DIR/deep-one.csv") | awk -F'|' '$1 != $2')"
[ "$changed" = "auto,1|hidden,0" ] || fail "--hide $star changed '$changed', not one source from auto to hidden"
same "$DIR/deep-factory.tif" "$DIR/deep-one.tif" && fail "--hide $star left the picture as it was"
expect 0 "" "$RAYLUME" "$DIR/deep.tif" "$DIR/deep-back.tif" --hide "$star" --show "$star,3" \
  --stars-csv "$DIR/deep-back.csv" --quiet
[ "$(awk -F, 'NR > 1 && $9 == "shown"' "$DIR/deep-back.csv" | wc -l)" = 1 ] || fail "--show after --hide shows the star"
expect 0 "no light source in reach" "$RAYLUME" "$DIR/deep.tif" "$DIR/deep-none.tif" --hide 2,2,0.5
same "$DIR/deep-factory.tif" "$DIR/deep-none.tif" || fail "a --hide that reached nothing changed the picture"
expect 2 "takes X,Y or X,Y,R" "$RAYLUME" "$DIR/deep.tif" "$DIR/x.tif" --show 10
expect 2 "takes X,Y or X,Y,R" "$RAYLUME" "$DIR/deep.tif" "$DIR/x.tif" --hide 10,20,-1
echo "a,b" >"$DIR/nocolumns.csv"
expect 2 "naming an x and a y column" "$RAYLUME" "$DIR/deep.tif" "$DIR/x.tif" --hide-file "$DIR/nocolumns.csv"
printf 'x,y\n10,twenty\n' >"$DIR/badrow.csv"
expect 2 "line 2 of the hide file" "$RAYLUME" "$DIR/deep.tif" "$DIR/x.tif" --hide-file "$DIR/badrow.csv"

# Lossless conversion between formats when nothing is drawn; the extension chooses.
none=(--intensity 0 --secondary-spike-intensity 0 --soft-flare-intensity 0 --ring-flare-intensity 0 --quiet)
expect 0 "" "$RAYLUME" "$DIR/in.ppm" "$DIR/plain.fits" "${none[@]}"
expect 0 "" "$RAYLUME" "$DIR/plain.fits" "$DIR/plain.png" "${none[@]}"
expect 0 "" "$RAYLUME" "$DIR/plain.png" "$DIR/plain.ppm" "${none[@]}"
same "$DIR/in.ppm" "$DIR/plain.ppm" || fail "PPM -> FITS -> PNG -> PPM with nothing drawn changed the picture"
head -c 2 "$DIR/plain.fits" | grep -q SI || fail "a .fits output is a FITS file"
head -c 4 "$DIR/plain.png" | grep -q PNG || fail "a .png output is a PNG file"

# The listing.
expect 0 "" "$RAYLUME" --list "$DIR/in.tif" --quiet
grep -q "NumberOfLightSources = [1-9]" "$DIR/stdout" || fail "no light sources listed"

# Several inputs into a folder, the result replacing its input only when complete.
cp "$DIR/in.tif" "$DIR/inplace.tif"
expect 0 "" "$RAYLUME" "$DIR/in.tif" "$DIR/in.ppm" -o "$DIR/out" --quiet
[ -s "$DIR/out/in.tif" ] && [ -s "$DIR/out/in.ppm" ] || fail "-o FOLDER writes every input"
expect 0 "" "$RAYLUME" "$DIR/inplace.tif" "$DIR/inplace.tif" --quiet
same "$DIR/inplace.tif" "$DIR/out/in.tif" || fail "filtering a file onto itself"

# Refusals, each with its sentence and exit code; nothing is written.
expect 2 "needs a value" "$RAYLUME" "$DIR/in.tif" "$DIR/x.tif" --quantity
expect 2 "not an empty one" "$RAYLUME" "$DIR/in.tif" "$DIR/x.tif" --number-of-points ""
expect 2 "from 1 to 32" "$RAYLUME" "$DIR/in.tif" "$DIR/x.tif" --points 99
expect 2 "from -90.0 to 90.0" "$RAYLUME" "$DIR/in.tif" "$DIR/x.tif" --angle 150
expect 2 "unknown option" "$RAYLUME" "$DIR/in.tif" "$DIR/x.tif" --sparkle 3
expect 2 "contradicts" "$RAYLUME" "$DIR/in.tif" "$DIR/x.tif" --format png
expect 2 "cannot tell the format" "$RAYLUME" "$DIR/in.tif" "$DIR/x.abc"
expect 3 "cannot read" "$RAYLUME" "$DIR/missing.tif" "$DIR/x.tif"
head -c 3000 "$DIR/in.tif" >"$DIR/cut.tif"
expect 3 "cannot read" "$RAYLUME" "$DIR/cut.tif" "$DIR/x.tif"
echo "just text" >"$DIR/text.png"
expect 3 "not a TIFF, PNG, FITS" "$RAYLUME" "$DIR/text.png" "$DIR/x.tif"
expect 4 "does not exist" "$RAYLUME" "$DIR/in.tif" "$DIR/nowhere/x.tif"
expect 4 "settings" "$RAYLUME" "$DIR/in.tif" "$DIR/x.tif" --save-settings "$DIR/nowhere/s.rlp"
expect 2 "cannot read settings" "$RAYLUME" "$DIR/in.tif" "$DIR/x.tif" --load-settings "$DIR/missing.rlp"
head -c 20 "$DIR/chosen.rlp" >"$DIR/short.rlp"
expect 2 "holds 20 bytes" "$RAYLUME" "$DIR/in.tif" "$DIR/x.tif" --load-settings "$DIR/short.rlp"
[ -e "$DIR/x.tif" ] && fail "a refused run wrote its output"

# Low memory: effects that could not be drawn are said, and nothing is
# written unless a partial picture is accepted. (Not under AddressSanitizer,
# which needs far more address space than any limit here.)
# (grep reads all of ldd's output: with -q it may stop early, and ldd's
# broken pipe would fail the pipeline under pipefail.)
if ! ldd "$RAYLUME" 2>/dev/null | grep libasan >/dev/null; then
  # What a run needs is known before the long work: far too little memory is
  # refused at once, with the figures, and nothing is written; accepted, the
  # run goes on and says that effects may be missing.
  "$STARFIELD" --seed 5 --width 2400 --height 1600 --stars 300 --peak 0.3:2 --sigma 1.2:2 -o "$DIR/mid.tif" >/dev/null
  (ulimit -v 120000; "$RAYLUME" "$DIR/mid.tif" "$DIR/low.tif" --length 100 --quiet 2>"$DIR/stderr"); rc=$?
  [ "$rc" = 5 ] || fail "a run far short of memory exits 5 before the work, not $rc: $(cat "$DIR/stderr")"
  grep -q "needs about [0-9]* MiB more (the engine's copy of the image [0-9]* MiB.*effects at these settings, [0-9]* MiB) and about [0-9]* MiB are available" "$DIR/stderr" ||
    fail "the refusal gives what the run needs and what is available: $(cat "$DIR/stderr")"
  [ -e "$DIR/low.tif" ] && fail "a refused run wrote its output"
  (ulimit -v 120000; "$RAYLUME" "$DIR/mid.tif" "$DIR/low.tif" --length 100 --accept-partial --quiet 2>"$DIR/stderr"); rc=$?
  grep -q "going on (--accept-partial): some effects may be missing" "$DIR/stderr" ||
    fail "--accept-partial goes on past the estimate and says so: $(cat "$DIR/stderr")"
  case "$rc" in
    0) [ -s "$DIR/low.tif" ] || fail "--accept-partial exited 0 without a picture" ;;
    5) [ -e "$DIR/low.tif" ] && fail "a run out of memory wrote its picture" ;;
    *) fail "--accept-partial exits 0 (or 5 when even the image had no memory), not $rc" ;;
  esac
  rm -f "$DIR/low.tif" "$DIR/mid.tif"
  (ulimit -v 150000; "$RAYLUME" "$DIR/in.tif" "$DIR/low.tif" --length 100 --quiet 2>"$DIR/stderr"); rc=$?
  if [ "$rc" = 6 ]; then
    grep -q "Low memory" "$DIR/stderr" || fail "the low-memory warning reaches the user"
    [ -e "$DIR/low.tif" ] && fail "a partial picture was written without --accept-partial"
    # Where memory runs out differs from run to run (threads): accepted, the
    # picture is written, unless this time memory ran out for the image itself.
    (ulimit -v 150000; "$RAYLUME" "$DIR/in.tif" "$DIR/low.tif" --length 100 --accept-partial --quiet 2>/dev/null); rc=$?
    if [ "$rc" = 0 ]; then
      [ -s "$DIR/low.tif" ] || fail "--accept-partial wrote no picture"
    elif [ "$rc" = 5 ]; then
      [ -e "$DIR/low.tif" ] && fail "a run out of memory wrote its picture"
    else
      fail "--accept-partial exits 0 (or 5 when even the image had no memory), not $rc"
    fi
  elif [ "$rc" != 0 ] && [ "$rc" != 5 ]; then
    fail "a run short of memory exits 0, 5 or 6, not $rc: $(cat "$DIR/stderr")"
  fi
fi

# Files are never lost behind the user's back.
mkdir -p "$DIR/a" "$DIR/b" "$DIR/clash"
cp "$DIR/in.tif" "$DIR/a/x.tif"
cp "$DIR/in.tif" "$DIR/b/x.tif"
cp "$DIR/in.ppm" "$DIR/a/x.ppm"
# Two inputs of one name into one folder: refused before any work, naming both.
expect 2 "would both be written" "$RAYLUME" "$DIR/a/x.tif" "$DIR/b/x.tif" -o "$DIR/clash" --quiet
expect 2 "would both be written" "$RAYLUME" "$DIR/a/x.tif" "$DIR/a/x.ppm" -o "$DIR/clash" --stars-csv "$DIR/clash" --quiet
[ -z "$(ls "$DIR/clash")" ] || fail "a refused batch wrote $(ls "$DIR/clash")"
# A replaced output keeps its mode; a link is written through; a read-only file stays.
cp "$DIR/in.tif" "$DIR/private.tif" && chmod 600 "$DIR/private.tif"
expect 0 "" "$RAYLUME" "$DIR/in.tif" "$DIR/private.tif" --quiet
[ "$(stat -c %a "$DIR/private.tif")" = 600 ] || fail "a private output became $(stat -c %a "$DIR/private.tif")"
cp "$DIR/in.tif" "$DIR/target.tif" && ln -sf target.tif "$DIR/link.tif"
expect 0 "" "$RAYLUME" "$DIR/in.tif" "$DIR/link.tif" --quiet
[ -L "$DIR/link.tif" ] || fail "writing through a link replaced the link with a file"
same "$DIR/target.tif" "$DIR/private.tif" || fail "the link's target did not get the result"
cp "$DIR/in.tif" "$DIR/locked.tif" && chmod 444 "$DIR/locked.tif"
expect 4 "read-only" "$RAYLUME" "$DIR/in.tif" "$DIR/locked.tif" --quiet
same "$DIR/locked.tif" "$DIR/in.tif" || fail "a read-only output was changed"
# A multi-page TIFF is not written over (its other pages would go); elsewhere the loss is told.
if command -v tiffcp >/dev/null; then
  tiffcp "$DIR/in.tif" "$DIR/in.tif" "$DIR/pages.tif"
  cp "$DIR/pages.tif" "$DIR/pages-before.tif"
  expect 4 "2 pages" "$RAYLUME" "$DIR/pages.tif" "$DIR/pages.tif" --quiet
  same "$DIR/pages.tif" "$DIR/pages-before.tif" || fail "a multi-page TIFF was written over"
  expect 0 "only the first is filtered" "$RAYLUME" "$DIR/pages.tif" "$DIR/page1.tif" --quiet
else
  fail "tiffcp (libtiff-tools) is missing"
fi
# The catalogue and the image are both written or neither: an image that cannot
# be written (past the file size limit) leaves no catalogue.
rm -f "$DIR/limited.csv"
(
  trap '' XFSZ
  ulimit -f 64
  "$RAYLUME" "$DIR/in.tif" "$DIR/limited.tif" --stars-csv "$DIR/limited.csv" --quiet 2>"$DIR/stderr"
)
rc=$?
[ "$rc" = 4 ] || fail "an image that cannot be written exits 4, not $rc: $(cat "$DIR/stderr")"
[ -e "$DIR/limited.csv" ] && fail "the catalogue was written although the image was not"
[ -e "$DIR/limited.tif" ] && fail "a partial image was left"
# What a killed run left behind goes at the next run into the folder.
touch "$DIR/out/old.tif.raylume-999999999-3.tmp" "$DIR/out/keep.raylume-notes.tmp"
expect 0 "removed 1 temporary" "$RAYLUME" "$DIR/in.tif" "$DIR/out/fresh.tif"
[ -e "$DIR/out/old.tif.raylume-999999999-3.tmp" ] && fail "a dead run's temporary file stayed"
[ -e "$DIR/out/keep.raylume-notes.tmp" ] || fail "a file that only looks like a temporary was removed"
# A palette PNG (as published pictures often are) is filtered as RGB, and says so.
"$STARFIELD" --seed 5 --width 120 --height 80 --stars 8 --peak 0.3:2 --margin 8 --depth 8 -o "$DIR/s8.ppm" >/dev/null
pnmquant 16 "$DIR/s8.ppm" 2>/dev/null | pnmtopng >"$DIR/palette.png" 2>/dev/null
expect 0 "palette image" "$RAYLUME" "$DIR/palette.png" "$DIR/palette-out.png"
# The IHDR's colour type (byte 25): 2, RGB.
[ "$(od -An -tu1 -j25 -N1 "$DIR/palette-out.png" | tr -d ' ')" = 2 ] || fail "a palette PNG's result is not RGB"
# A linear frame gets the warning that names the fix; a stretched one does not.
"$STARFIELD" --seed 3 --width 300 --height 200 --stars 30 --peak 0.05:3 --sky 0.002 --noise 0.0005 -o "$DIR/linear.tif" >/dev/null
expect 0 "Stretch the picture first" "$RAYLUME" "$DIR/linear.tif" "$DIR/linear-out.tif" --quiet
"$STARFIELD" --seed 3 --width 300 --height 200 --stars 30 --peak 0.05:3 --sky 0.002 --noise 0.0005 --gamma 3 -o "$DIR/stretched.tif" >/dev/null
"$RAYLUME" "$DIR/stretched.tif" "$DIR/stretched-out.tif" --quiet 2>&1 | grep -q "looks linear" && fail "a stretched picture was called linear"
# Messages name the file and the cause.
expect 3 "it is a folder" "$RAYLUME" "$DIR/a" "$DIR/clash/y.tif" --quiet
expect 4 "does not exist" "$RAYLUME" "$DIR/in.tif" -o "$DIR/no-such-folder" --quiet
expect 4 "does not exist" "$RAYLUME" "$DIR/in.tif" "$DIR/no-such-folder/y.tif" --quiet

# Ctrl+C: the run stops, says so, and leaves neither the output nor a temporary file.
"$STARFIELD" --seed 9 --width 3000 --height 2000 --stars 3000 --peak 0.1:3 --sigma 1:3 -o "$DIR/big.tif" >/dev/null
"$RAYLUME" "$DIR/big.tif" "$DIR/big-out.tif" --length 100 --quiet 2>"$DIR/stderr" &
pid=$!
sleep 0.7
kill -INT "$pid"
wait "$pid"
rc=$?
if [ "$rc" = 0 ]; then
  echo "note: the run finished before Ctrl+C reached it" >&2
else
  [ "$rc" = 130 ] || fail "Ctrl+C exits 130, not $rc"
  [ -e "$DIR/big-out.tif" ] && fail "a cancelled run left its output"
  grep -q cancelled "$DIR/stderr" || fail "a cancelled run says so"
fi
ls "$DIR" | grep -q 'raylume-' && fail "temporary files stayed behind: $(ls "$DIR" | grep raylume-)"
# A closed terminal (SIGHUP) cleans up as Ctrl+C does.
"$RAYLUME" "$DIR/big.tif" "$DIR/big-hup.tif" --length 100 --quiet 2>"$DIR/stderr" &
pid=$!
sleep 1.5
kill -HUP "$pid"
wait "$pid"
ls "$DIR" | grep -q 'raylume-' && fail "SIGHUP left temporary files: $(ls "$DIR" | grep raylume-)"

if [ "$failures" != 0 ]; then
  echo "raylume: $failures failure(s)" >&2
  exit 1
fi
echo "raylume: formats, catalogue, settings, presets, stars only, hide and show, several inputs, refusals and Ctrl+C behave"
