#!/usr/bin/env bash
# The Debian package as a user meets it: installed with dpkg, the tool run from
# /usr/bin with a preset found in its installed place, the manual page and the
# bash completion there, the GIMP plug-in run by GIMP from the system's
# plug-in folder, then removed with nothing left behind.
#   tests/package_test.sh BUILD_FOLDER      (as root: dpkg installs system-wide)
set -uo pipefail
BUILD="$(cd "$1" && pwd)"
DIR="$BUILD/package-test"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
passed=0
failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=$((failed + 1))
}
ok() { passed=$((passed + 1)); }
check() {
  local name="$1"
  shift
  if "$@" >/dev/null 2>&1; then ok; else fail "$name"; fi
}
rm -rf "$DIR"
mkdir -p "$DIR"
DEB="$(ls "$BUILD"/raylume_*_amd64.deb 2>/dev/null | head -n 1)"
if [ -z "$DEB" ]; then
  fail "no package in $BUILD (scripts/build.sh makes it with cpack)"
  echo "$passed passed, $failed failed"
  exit 1
fi
echo "== the package $(basename "$DEB")"
$SUDO dpkg -i "$DEB" >"$DIR/install.log" 2>&1 || fail "dpkg -i: $(tail -n 3 "$DIR/install.log")"
dpkg -L raylume >"$DIR/files" 2>/dev/null || fail "dpkg knows no package raylume"

# The tool from its installed place, a preset by name, the same picture as the build's.
"$BUILD/starfield" --seed 3 --width 240 --height 160 --stars 25 --peak 0.3:2 --margin 8 -o "$DIR/in.tif" >/dev/null
check "raylume --version" /usr/bin/raylume --version
check "an installed preset by name" /usr/bin/raylume "$DIR/in.tif" "$DIR/natural.tif" --preset Natural --quiet
"$BUILD/raylume" "$DIR/in.tif" "$DIR/natural-build.tif" --preset Natural --quiet
check "the installed tool draws as the built one" cmp "$DIR/natural.tif" "$DIR/natural-build.tif"
check "the manual page" sh -c "zcat /usr/share/man/man1/raylume.1.gz | grep -q 'SAFE WRITING'"
completion() {
  bash -c 'source /usr/share/bash-completion/completions/raylume
    COMP_WORDS=(raylume "$@"); COMP_CWORD=$(($# )); _raylume; printf "%s\n" "${COMPREPLY[@]}"' _ "$@"
}
check "completion of options" sh -c "$(declare -f completion); completion --pre | grep -qx -- --preset"
check "completion of presets" sh -c "$(declare -f completion); completion --preset Na | grep -qx Natural"

# The GIMP plug-in from the system's plug-in folder, in a fresh profile:
# with the last values of a profile that has none it draws the factory values.
if command -v gimp-console-2.10 >/dev/null; then
  export GIMP2_DIRECTORY="$DIR/profile" XDG_CONFIG_HOME="$DIR/config" XDG_DATA_HOME="$DIR/data" \
    XDG_CACHE_HOME="$DIR/cache"
  args="$(printf ' 0%.0s' $(seq 1 15))"
  timeout 300 env -u DISPLAY gimp-console-2.10 -i -d -f -b "(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE \"$DIR/in.tif\" \"in.tif\"))) (d (car (gimp-image-get-active-drawable img)))) (plug-in-raylume RUN-WITH-LAST-VALS img d$args) (gimp-file-save RUN-NONINTERACTIVE img d \"$DIR/gimp.tif\" \"gimp.tif\"))" \
    -b '(gimp-quit 0)' >"$DIR/gimp.log" 2>&1
  /usr/bin/raylume "$DIR/in.tif" "$DIR/factory.tif" --quiet
  if [ -f "$DIR/gimp.tif" ]; then
    check "the installed GIMP plug-in draws as raylume" "$BUILD/rl_raster_check" diff "$DIR/gimp.tif" "$DIR/factory.tif"
  else
    fail "GIMP did not run the installed plug-in: $(grep -i -m 3 'error\|raylume' "$DIR/gimp.log")"
  fi
fi

# Removal leaves none of the package's files.
$SUDO dpkg -r raylume >"$DIR/remove.log" 2>&1 || fail "dpkg -r: $(tail -n 3 "$DIR/remove.log")"
left=""
while read -r path; do
  [ -f "$path" ] || [ -L "$path" ] && left="$left $path"
done <"$DIR/files"
[ -z "$left" ] && ok || fail "files left after removal:$left"
if dpkg -s raylume >/dev/null 2>&1 && ! dpkg -s raylume | grep -q 'deinstall'; then fail "the package is still installed"; fi
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
