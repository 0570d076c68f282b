#!/usr/bin/env bash
# The GIMP plug-in inside the real GIMP 2.10, driven by Script-Fu in batch
# mode, its results held against raylume's on the same pixels and values:
#  - a 16-bit RGB and a 16-bit grey star field as loaded: identical to raylume
#    on the same files;
#  - a rectangular selection: outside it not one sample changes, inside it
#    the picture is the one without a selection;
#  - effects on a new layer: the layer below keeps its pixels, the new one in
#    Screen mode holds raylume's Effects Only;
#  - a run with the last values after scripted runs only: factory values;
#  - every precision GIMP has (8/16/32-bit integers, half, float, double,
#    linear and with the space's curve, RGB and grey, with alpha): the
#    engine's precisions identical to raylume, the others within their own
#    rounding, and pixels no effect reached keeping their exact bytes;
#  - values out of range, a bad drawable and an indexed image: GIMP's calling
#    or execution error, the image as it was, no crash;
#  - the plug-in killed while it runs (what GIMP does when the user cancels
#    its progress): the image as it was, no layer added;
#  - the dialog under Xvfb: captured as a picture; Cancel leaving the image
#    as it was; a preset chosen from its menu and OK giving raylume's picture
#    with that preset, whose values the last-values run then uses.
# GIMP's profile, the product's folders and caches live in a temporary folder.
#   tests/gimp_test.sh BUILD_FOLDER [--screenshot FILE]   (FILE: keep the dialog's picture there too)
set -uo pipefail
BUILD="$(cd "$1" && pwd)"
SHOT="${3:-}"
[ "${2:-}" = "--screenshot" ] || SHOT=""
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DIR="$BUILD/gimp-test"
STARFIELD="$BUILD/starfield"
RAYLUME="$BUILD/raylume"
CHECK="$BUILD/rl_raster_check"
GIMP=gimp-console-2.10
started=$(date +%s)
echo "== the GIMP plug-in in GIMP 2.10"

rm -rf "$DIR"
mkdir -p "$DIR"
export GIMP2_DIRECTORY="$DIR/profile" XDG_DATA_HOME="$DIR/data" XDG_CACHE_HOME="$DIR/cache" \
  XDG_CONFIG_HOME="$DIR/config" RAYLUME_COMMON_DATA_HOME="$DIR/common"
unset DISPLAY

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  echo "FAIL: $*" >&2
  failed=$((failed + 1))
}
# check NAME COMMAND...: the command succeeds; its output is shown when it does not.
check() {
  local name="$1"
  shift
  local out
  if out="$("$@" 2>&1)"; then pass; else fail "$name: $out"; fi
}
finish() {
  echo "gimp_test: $(($(date +%s) - started)) s"
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
  exit $?
}

for tool in "$GIMP" xvfb-run xwd xdotool xwdtopnm pnmtopng; do
  command -v "$tool" >/dev/null || { fail "$tool is not installed (scripts/bootstrap.sh installs it)"; finish; }
done
for program in "$BUILD/raylume-gimp" "$STARFIELD" "$RAYLUME" "$CHECK"; do
  [ -x "$program" ] || { fail "$program is not built"; finish; }
done
bash "$ROOT/scripts/install_gimp_plugin.sh" "$BUILD" >/dev/null || { fail "the plug-in did not install"; finish; }

# ---- the pictures ----
"$STARFIELD" --seed 5 --width 320 --height 200 --stars 40 --peak 0.3:2 --sigma 1.2:2 --margin 8 \
  -o "$DIR/field.tif" >/dev/null || fail "starfield"
"$STARFIELD" --seed 6 --width 300 --height 220 --stars 35 --peak 0.3:2 --gray --margin 8 \
  -o "$DIR/field-grey.tif" >/dev/null || fail "starfield --gray"
# The dialog's: larger than its preview, with sky, noise and nebulae.
"$STARFIELD" --seed 3 --width 900 --height 600 --stars 120 --peak 0.2:2 --sigma 1.2:2.2 --nebulae 2 --sky 0.02 \
  --noise 0.003 --margin 8 -o "$DIR/dialog.tif" >/dev/null || fail "starfield (dialog)"
# Long enough to be stopped while it runs: Length 100 on 3000 x 2000 takes
# raylume 15 to 20 s here.
"$STARFIELD" --seed 9 --width 3000 --height 2000 --stars 400 --peak 0.3:2 --margin 8 \
  -o "$DIR/big.tif" >/dev/null || fail "starfield (large)"

# The values of the runs, by the procedure's argument names, which are also
# raylume's long options. The precision sweep draws smaller effects, so that
# many pixels stay untouched.
VALUES="quantity 80 intensity 70 length 60 angle 12.5 number-of-points 6 spike-sharpness 40 color-saturation 60
color-hue -20 rainbow-intensity 30 rainbow-frequency 40 secondary-spike-intensity 45 soft-flare-intensity 35
ring-flare-intensity 25 effects-only 0"
SWEEP="quantity 40 intensity 60 length 25 angle -30 number-of-points 5 spike-sharpness 60 color-saturation 40
color-hue 10 rainbow-intensity 40 rainbow-frequency 60 secondary-spike-intensity 30 soft-flare-intensity 40
ring-flare-intensity 30 effects-only 0"
options() { awk '{ for (i = 1; i <= NF; i += 2) printf "--%s %s ", $i, $(i + 1) }' <<<"$1"; }
alist() { awk '{ for (i = 1; i <= NF; i += 2) printf "(\"%s\" . %s) ", $i, $(i + 1) }' <<<"$1"; }

# Every precision GIMP offers, with the image mode: name, precision, rgb|grey, alpha or not.
SWEEP_CASES="u8-gamma U8-GAMMA rgb 0
u8-linear U8-LINEAR rgb 0
u8-gamma-alpha U8-GAMMA rgb 1
u16-linear U16-LINEAR rgb 0
u16-linear-grey U16-LINEAR grey 0
u32-gamma U32-GAMMA rgb 0
u32-linear-alpha U32-LINEAR rgb 1
half-linear HALF-LINEAR rgb 0
half-gamma-grey-alpha HALF-GAMMA grey 1
float-gamma FLOAT-GAMMA rgb 0
float-linear FLOAT-LINEAR rgb 0
float-linear-alpha FLOAT-LINEAR rgb 1
double-linear DOUBLE-LINEAR rgb 0
double-gamma-grey DOUBLE-GAMMA grey 0"
# The engine's own sample types: the plug-in works on GIMP's bytes.
native_depth() { case "$1" in U8-* | U16-* | FLOAT-*) echo yes ;; *) echo no ;; esac; }

# ---- the Script-Fu of the batch run ----
SCM="$DIR/cases.scm"
{
  cat <<EOF
(define run-values '($(alist "$VALUES") ("new-layer" . 0)))
(define sweep-values '($(alist "$SWEEP") ("new-layer" . 0)))
(define (with name value values) (cons (cons name value) values))
; The arguments in the order the procedure declares them, found by name.
(define (raylume-arguments values)
  (let ((count (list-ref (gimp-procedural-db-proc-info "plug-in-raylume") 6)))
    (let loop ((i 3) (out '()))
      (if (= i count)
          (reverse out)
          (let* ((name (cadr (gimp-procedural-db-proc-arg "plug-in-raylume" i)))
                 (entry (assoc name values)))
            (if (not entry) (error (string-append "the test gives no value for " name)))
            (loop (+ i 1) (cons (cdr entry) out)))))))
(define (drawable-of img) (car (gimp-image-get-active-drawable img)))
(define (raylume mode img drawable values)
  (apply plug-in-raylume (append (list mode img drawable) (raylume-arguments values))))
(define (open-image name) (car (gimp-file-load RUN-NONINTERACTIVE (string-append "$DIR/" name) name)))
(define (save img drawable name)
  (gimp-file-save RUN-NONINTERACTIVE img drawable (string-append "$DIR/" name) name))
(define (note . words) (gimp-message (apply string-append "RESULT " words)))
(define (fails? thunk) (catch #t (begin (thunk) #f)))

; As loaded: 16-bit RGB and 16-bit grey.
(let ((img (open-image "field.tif")))
  (raylume RUN-NONINTERACTIVE img (drawable-of img) run-values)
  (save img (drawable-of img) "out-rgb16.tif"))
(let ((img (open-image "field-grey.tif")))
  (raylume RUN-NONINTERACTIVE img (drawable-of img) run-values)
  (save img (drawable-of img) "out-grey16.tif"))

; A rectangular selection.
(let ((img (open-image "field.tif")))
  (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 60 40 150 90)
  (raylume RUN-NONINTERACTIVE img (drawable-of img) run-values)
  (gimp-selection-none img)
  (save img (drawable-of img) "out-selection.tif"))

; The effects on a new layer: each layer saved on its own.
(let* ((img (open-image "field.tif"))
       (picture (drawable-of img)))
  (raylume RUN-NONINTERACTIVE img picture (with "new-layer" 1 run-values))
  (let* ((layers (gimp-image-get-layers img))
         (top (vector-ref (cadr layers) 0))
         (copy (car (gimp-image-duplicate img))))
    (note "layers " (number->string (car layers)))
    (note "top-layer " (car (gimp-item-get-name top))
          (if (= (car (gimp-layer-get-mode top)) LAYER-MODE-SCREEN) " screen" " not-screen"))
    (gimp-image-remove-layer img top)
    (save img picture "out-below-layer.tif")
    (gimp-image-remove-layer copy (vector-ref (cadr (gimp-image-get-layers copy)) 1))
    (save copy (drawable-of copy) "out-effects-layer.tif")))

; Last values after scripted runs only.
(let ((img (open-image "field.tif")))
  (plug-in-raylume RUN-WITH-LAST-VALS img (drawable-of img) 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0)
  (save img (drawable-of img) "out-last-values.tif"))

; Refusals: each bad value alone, a drawable that does not exist, an indexed image.
(let ((img (open-image "field.tif")))
  (for-each
    (lambda (bad)
      (note (if (fails? (lambda () (raylume RUN-NONINTERACTIVE img (drawable-of img)
                                            (with (car bad) (cdr bad) run-values))))
                "refused " "accepted ")
            (car bad)))
    '(("quantity" . 101) ("quantity" . -1) ("intensity" . 101) ("length" . -5) ("angle" . 90.1)
      ("angle" . 12.34) ("number-of-points" . 0) ("number-of-points" . 33) ("spike-sharpness" . 200)
      ("color-saturation" . -101) ("color-hue" . 101) ("rainbow-intensity" . 101) ("rainbow-frequency" . -1)
      ("secondary-spike-intensity" . 101) ("soft-flare-intensity" . 101) ("ring-flare-intensity" . 101)
      ("effects-only" . 2) ("new-layer" . 2)))
  (note (if (fails? (lambda () (raylume RUN-NONINTERACTIVE img 987654 run-values))) "refused " "accepted ") "drawable")
  (save img (drawable-of img) "out-refused.tif"))
(let ((img (open-image "field.tif")))
  (gimp-image-convert-precision img PRECISION-U8-GAMMA)
  (gimp-image-convert-indexed img CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 64 FALSE FALSE "")
  (note (if (fails? (lambda () (raylume RUN-NONINTERACTIVE img (drawable-of img) run-values))) "refused " "accepted ")
        "indexed"))
EOF
  # The precision sweep. Kinds the engine has no samples of (32-bit integer,
  # half, double) are also saved as float for raylume.
  while read -r name precision mode alpha; do
    cat <<EOF
(let* ((img (open-image "field.tif")))
  (gimp-image-convert-precision img PRECISION-$precision)
  $([ "$mode" = grey ] && echo "(gimp-image-convert-grayscale img)")
  $([ "$alpha" = 1 ] && echo "(gimp-layer-add-alpha (drawable-of img))")
  (save img (drawable-of img) "in-$name.tif")
  $([ "$(native_depth "$precision")" = no ] && echo "(let ((copy (car (gimp-image-duplicate img))))
    (gimp-image-convert-precision copy PRECISION-FLOAT-${precision#*-})
    (save copy (drawable-of copy) \"in-$name-float.tif\"))")
  (raylume RUN-NONINTERACTIVE img (drawable-of img) sweep-values)
  (save img (drawable-of img) "out-$name.tif"))
EOF
  done <<<"$SWEEP_CASES"
} >"$SCM"

# ---- the batch run ----
t0=$(date +%s)
timeout 300 "$GIMP" -i -d -f -b "(load \"$SCM\")" -b '(gimp-quit 0)' >"$DIR/batch.log" 2>&1
rc=$?
echo "gimp_test: the batch run took $(($(date +%s) - t0)) s"
[ $rc = 0 ] || fail "GIMP's batch run exited $rc"
grep -q "batch command executed successfully" "$DIR/batch.log" ||
  fail "the Script-Fu cases stopped: $(grep -i error "$DIR/batch.log" | head -5)"
if grep -qi "crashed" "$DIR/batch.log"; then
  fail "a plug-in crashed: $(grep -i -A2 crashed "$DIR/batch.log" | head -6)"
else
  pass
fi

# As loaded, against raylume on the same files.
"$RAYLUME" "$DIR/field.tif" "$DIR/ref-rgb16.tif" $(options "$VALUES") --quiet || fail "raylume"
"$RAYLUME" "$DIR/field-grey.tif" "$DIR/ref-grey16.tif" $(options "$VALUES") --quiet || fail "raylume (grey)"
check "16-bit RGB as raylume" "$CHECK" diff "$DIR/out-rgb16.tif" "$DIR/ref-rgb16.tif"
check "the filter drew effects" "$CHECK" diff "$DIR/out-rgb16.tif" "$DIR/field.tif" --differ
check "16-bit grey as raylume" "$CHECK" diff "$DIR/out-grey16.tif" "$DIR/ref-grey16.tif"

# The selection: nothing outside it changes; inside it the picture is the
# one without a selection, stars outside included.
SELECTION=60,40,150,90
check "outside the selection unchanged" \
  "$CHECK" diff "$DIR/out-selection.tif" "$DIR/field.tif" --region $SELECTION --outside
check "inside the selection as the whole run" \
  "$CHECK" diff "$DIR/out-selection.tif" "$DIR/ref-rgb16.tif" --region $SELECTION
check "effects inside the selection" \
  "$CHECK" diff "$DIR/out-selection.tif" "$DIR/field.tif" --region $SELECTION --differ

# The new layer.
"$RAYLUME" "$DIR/field.tif" "$DIR/ref-effects.tif" $(options "$VALUES") --effects-only 1 --quiet ||
  fail "raylume --effects-only"
check "the layer below the new one unchanged" "$CHECK" diff "$DIR/out-below-layer.tif" "$DIR/field.tif"
check "the new layer holds the effects alone" \
  "$CHECK" diff "$DIR/out-effects-layer.tif" "$DIR/ref-effects.tif" --colours
if grep -q "RESULT layers 2" "$DIR/batch.log" && grep -q "RESULT top-layer Raylume effects screen" "$DIR/batch.log"; then
  pass
else
  fail "a new layer named 'Raylume effects' in Screen mode on top:" \
    "$(grep -E 'RESULT (layers|top-layer)' "$DIR/batch.log")"
fi

# Last values: scripted runs leave none, so the factory values are used.
"$RAYLUME" "$DIR/field.tif" "$DIR/ref-factory.tif" --quiet || fail "raylume at factory values"
check "last values after scripted runs are the factory values" \
  "$CHECK" diff "$DIR/out-last-values.tif" "$DIR/ref-factory.tif"

# Refusals.
bad=$(grep -c "RESULT refused" "$DIR/batch.log")
if [ "$bad" = 20 ] && ! grep -q "RESULT accepted" "$DIR/batch.log"; then pass; else
  fail "20 bad calls refused, got $bad: $(grep 'RESULT accepted' "$DIR/batch.log" | tr '\n' ' ')"
fi
for message in "quantity takes a whole number from 0 to 100, not 101" \
  "angle takes a number with at most one decimal from -90.0 to 90.0, not 12.34" \
  "number-of-points takes a whole number from 1 to 32, not 33" "effects-only takes 0 or 1, not 2" \
  "new-layer takes 0 or 1, not 2" "indexed images are not supported"; do
  if grep -qF "$message" "$DIR/batch.log"; then pass; else fail "GIMP did not report '$message'"; fi
done
grep -B1 -F "quantity takes a whole number" "$DIR/batch.log" | grep -q "Calling error for procedure 'plug-in-raylume'" ||
  fail "a value out of range is not GIMP's calling error"
check "refused calls left the image as it was" "$CHECK" diff "$DIR/out-refused.tif" "$DIR/field.tif"

# The precision sweep. Against raylume on the same samples: identical at the
# engine's own precisions; at the others the plug-in's float result is
# rounded once into the image's type: half floats by at most half a unit in
# their 11-bit significand (relative 2^-11), 32-bit integers by at most one
# step of 2^-32 (babl's float to integer conversion), doubles not at all. Pixels raylume left alone keep the
# image's exact samples at every precision. GIMP tags what it exports with
# its built-in profile for the precision; an image without a profile of its
# own is handed to the engine untagged (as sRGB) at the space's curve, so
# raylume is given those files untagged too.
while read -r name precision mode alpha; do
  input="$DIR/in-$name.tif"
  [ "$(native_depth "$precision")" = yes ] || input="$DIR/in-$name-float.tif"
  case "$precision" in
    *-GAMMA) "$CHECK" untag "$input" "$DIR/untagged-$name.tif" || fail "untag $input"
      input="$DIR/untagged-$name.tif" ;;
  esac
  "$RAYLUME" "$input" "$DIR/ref-$name.tif" $(options "$SWEEP") --quiet || fail "raylume on $input"
  if [ "$(native_depth "$precision")" = yes ]; then
    check "$name as raylume" "$CHECK" diff "$DIR/out-$name.tif" "$DIR/ref-$name.tif"
  else
    case "$precision" in
      HALF-*) bound="--relative 0.00048828125 --tolerance 3e-8" ;;
      U32-*) bound="--tolerance 2.33e-10" ;;
      *) bound="" ;;
    esac
    # shellcheck disable=SC2086
    check "$name within its rounding of raylume" "$CHECK" diff "$DIR/out-$name.tif" "$DIR/ref-$name.tif" $bound
    check "$name untouched pixels exact" "$CHECK" diff "$DIR/out-$name.tif" "$DIR/in-$name.tif" \
      --unchanged-in "$DIR/ref-$name.tif" "$input"
  fi
  check "$name drew effects" "$CHECK" diff "$DIR/out-$name.tif" "$DIR/in-$name.tif" --differ
done <<<"$SWEEP_CASES"

# ---- stopped while it runs ----
# GIMP answers a cancelled progress by closing the plug-in (it kills the
# process); a batch run has no progress bar to cancel, so the test kills the
# plug-in itself once it has run for a while, the same end for the plug-in.
cat >"$DIR/cancel.scm" <<EOF
(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE "$DIR/big.tif" "big.tif")))
       (picture (car (gimp-image-get-active-drawable img))))
  (gimp-message (if (catch #t (begin (plug-in-raylume RUN-NONINTERACTIVE img picture
                                        100 50 100 0 4 50 30 0 50 50 50 50 30 0 1) #f))
                    "RESULT stopped" "RESULT finished"))
  (gimp-message (string-append "RESULT layers " (number->string (car (gimp-image-get-layers img)))))
  (gimp-file-save RUN-NONINTERACTIVE img picture "$DIR/out-cancelled.tif" "out-cancelled.tif"))
EOF
t0=$(date +%s)
timeout 300 "$GIMP" -i -d -f -b "(load \"$DIR/cancel.scm\")" -b '(gimp-quit 0)' >"$DIR/cancel.log" 2>&1 &
gimp_pid=$!
plugin=""
for _ in $(seq 1 600); do
  # The plug-in is a child of the GIMP that this test's timeout started.
  plugin=$(for child in $(pgrep -P "$gimp_pid"); do ps -o pid=,comm= --ppid "$child"; done |
    awk '$2 == "raylume-gimp" { print $1 }')
  [ -n "$plugin" ] && break
  sleep 0.1
done
if [ -n "$plugin" ]; then
  sleep 1.5
  kill -KILL "$plugin" 2>/dev/null
else
  fail "the plug-in never started in the run to be stopped"
fi
wait "$gimp_pid"
echo "gimp_test: the stopped run took $(($(date +%s) - t0)) s"
if grep -q "RESULT stopped" "$DIR/cancel.log"; then pass; else
  fail "the plug-in was not stopped while it ran: $(grep RESULT "$DIR/cancel.log" | tr '\n' ' ')"
fi
grep -q "RESULT layers 1" "$DIR/cancel.log" && pass || fail "a stopped run added a layer"
check "a stopped run left the image as it was" "$CHECK" diff "$DIR/out-cancelled.tif" "$DIR/big.tif"

# ---- the dialog ----
# GIMP without its own interface runs the procedure interactively twice; the
# plug-in's dialog opens on a virtual display. The first is captured once its
# preview is drawn, then cancelled; in the second the pointer picks Cross45
# from the presets menu and presses OK. A run with the last values follows.
cat >"$DIR/dialog.scm" <<EOF
(define (open-image) (car (gimp-file-load RUN-NONINTERACTIVE "$DIR/dialog.tif" "dialog.tif")))
(define (dialog img)
  (plug-in-raylume RUN-INTERACTIVE img (car (gimp-image-get-active-drawable img)) 50 50 50 0 4 50 30 0 50 50 50 50 30 0 0))
(define (save img name)
  (gimp-file-save RUN-NONINTERACTIVE img (car (gimp-image-get-active-drawable img)) (string-append "$DIR/" name) name))
(let ((img (open-image)))
  (dialog img)
  (save img "out-dialog-cancelled.tif"))
(let ((img (open-image)))
  (dialog img)
  (save img "out-dialog-ok.tif"))
(let ((img (open-image)))
  (plug-in-raylume RUN-WITH-LAST-VALS img (car (gimp-image-get-active-drawable img)) 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0)
  (save img "out-dialog-repeated.tif"))
EOF
cat >"$DIR/dialog.sh" <<'EOF'
# Inside xvfb-run: GIMP in the background, the two dialogs answered with the
# pointer (without a window manager a click reaches a window whatever has the
# keyboard focus), GIMP waited for.
DIR="$1"
gimp-console-2.10 -i -d -f -b "(load \"$DIR/dialog.scm\")" -b '(gimp-quit 0)' >"$DIR/dialog.log" 2>&1 &
gimp_pid=$!
# dialog_window: the dialog's window once it is there.
dialog_window() {
  for _ in $(seq 1 600); do
    window=$(xdotool search --name '^Raylume Pro 2$' 2>/dev/null | head -n 1)
    [ -n "$window" ] && echo "$window" && return 0
    sleep 0.1
  done
  return 1
}
# dialog_gone: true once no dialog is open (the next may get the same window id).
dialog_gone() {
  for _ in $(seq 1 600); do
    xdotool search --name '^Raylume Pro 2$' >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}
# click WINDOW X Y: a negative X or Y counts from the right or bottom edge.
click() {
  local WIDTH HEIGHT x="$2" y="$3"
  eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(WIDTH|HEIGHT)=')"
  [ "$x" -lt 0 ] && x=$((WIDTH + x))
  [ "$y" -lt 0 ] && y=$((HEIGHT + y))
  xdotool mousemove --window "$1" "$x" "$y" click 1
}
status=1
if first=$(dialog_window); then
  echo "dialog.sh: the first dialog is window $first"
  sleep 3 # the preview is drawn when the dialog is idle
  xwd -silent -id "$first" -out "$DIR/dialog.xwd"
  click "$first" -130 -22 # Cancel
  if dialog_gone && second=$(dialog_window); then
    echo "dialog.sh: the second dialog is window $second"
    sleep 2
    click "$second" -200 27 # the presets menu opens at its first entry
    sleep 1
    xdotool key Down Down Return # after "Factory settings", the presets by name: Cross45 first
    sleep 2
    click "$second" -50 -22 # OK
    echo "dialog.sh: OK pressed"
    status=0
  fi
fi
for _ in $(seq 1 600); do
  kill -0 "$gimp_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$gimp_pid" 2>/dev/null; then
  echo "dialog.sh: GIMP did not finish; ending it"
  for child in $(pgrep -P "$gimp_pid"); do kill "$child" 2>/dev/null; done
  kill "$gimp_pid" 2>/dev/null
  status=1
fi
wait "$gimp_pid" 2>/dev/null
exit $status
EOF
t0=$(date +%s)
# Without a window manager the dialog opens under the pointer, whose tooltip
# would cover a control in the picture: GIMP's preference turns tooltips off.
echo "(show-tooltips no)" >>"$GIMP2_DIRECTORY/gimprc"
# A second try when the virtual display could not be had (another one may
# have taken the display number xvfb-run chose at the same moment).
answered=no
for attempt in 1 2; do
  if timeout 180 xvfb-run -a -s "-screen 0 1280x800x24" bash "$DIR/dialog.sh" "$DIR" >>"$DIR/xvfb.log" 2>&1; then
    answered=yes
    break
  fi
  [ $attempt = 1 ] && echo "gimp_test: the dialogs again, after: $(tr '\n' ' ' <"$DIR/xvfb.log")"
done
echo "gimp_test: the dialogs took $(($(date +%s) - t0)) s"
if [ $answered = yes ] && xwdtopnm "$DIR/dialog.xwd" 2>/dev/null | pnmtopng >"$DIR/gimp-dialog.png" 2>/dev/null; then
  size=$(xwdtopnm "$DIR/dialog.xwd" 2>/dev/null | head -c 64 | sed -n 2p)
  width=${size% *}
  if [ "${width:-0}" -ge 500 ]; then pass; else fail "the dialog is only ${width:-0} pixels wide"; fi
  [ -n "$SHOT" ] && cp "$DIR/gimp-dialog.png" "$SHOT"
else
  fail "the dialogs were not answered under Xvfb: $(tail -3 "$DIR/xvfb.log" "$DIR/dialog.log" 2>/dev/null)"
fi
check "Cancel in the dialog left the image as it was" "$CHECK" diff "$DIR/out-dialog-cancelled.tif" "$DIR/dialog.tif"
"$RAYLUME" "$DIR/dialog.tif" "$DIR/ref-dialog.tif" --preset "$ROOT/presets/Cross45.rlp" --quiet || fail "raylume --preset"
check "OK with the preset Cross45 as raylume --preset Cross45" "$CHECK" diff "$DIR/out-dialog-ok.tif" "$DIR/ref-dialog.tif"
check "the last values are the dialog's" "$CHECK" diff "$DIR/out-dialog-repeated.tif" "$DIR/ref-dialog.tif"

finish
