#!/usr/bin/env bash
# The Windows installer in a fresh Wine prefix of its own (made in a temporary
# folder and removed at the end, with its wineserver):
#   1. an older version installed silently into a /D= folder, with a host
#      folder on the command line and two Photoshop versions in the registry
#      (one whose folder is missing);
#   2. an upgrade over it with the real installer: the files, the manual in the
#      common folder, the host copies (a stale one refreshed), the OpenGL
#      settings written by the installation entry with the new version, the
#      shortcuts, the uninstall entry; the user's files and registry
#      preferences kept;
#   3. the Options shortcut started as the shell would, its dialog closed
#      through the simulator's dialog driver (rlshortcut);
#   4. the silent uninstall named by the uninstall entry: everything put down
#      goes, the user's settings, logs and preferences stay;
#   5. an install in the default folder, a reinstall into another folder (a
#      move), and an uninstall with /REMOVEUSERDATA, which also removes the
#      user's data and the product's registry keys.
#
#   tests/win/installer_test.sh BUILD_DIR RLSHORTCUT_EXE
#
# Exit status 0 passed, 1 failed, 77 skipped (no makensis).
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD_DIR="$(cd "${1:?usage: installer_test.sh BUILD_DIR RLSHORTCUT_EXE}" && pwd)"
RLSHORTCUT="${2:?usage: installer_test.sh BUILD_DIR RLSHORTCUT_EXE}"
start=$(date +%s)

if ! command -v makensis >/dev/null 2>&1; then
  echo "SKIPPED: makensis is not installed (Debian package nsis)"
  exit 77
fi
VERSION="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")"
OLD_VERSION="1.9.0.0"
PLUGIN="$BUILD_DIR/RaylumePro2.8bf"
SETUP="$BUILD_DIR/RaylumePro2-Setup-$VERSION.exe"
# An installer older than what it packs is rebuilt, so the test never passes on stale bytes.
if [ ! -f "$SETUP" ] || [ "$PLUGIN" -nt "$SETUP" ] || [ "$BUILD_DIR/RaylumePro2.chm" -nt "$SETUP" ] ||
  [ "$ROOT/installer/raylume.nsi" -nt "$SETUP" ]; then
  bash "$ROOT/scripts/build_installer.sh" "$BUILD_DIR" || exit 1
fi

TMP="$(mktemp -d /tmp/raylume-installer-test.XXXXXX)"
LOG="$TMP/wine.log"
export WINEPREFIX="$TMP/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
XVFB_PID=""
cleanup() {
  WINEPREFIX="$TMP/prefix" timeout 30 wineserver -k >/dev/null 2>&1 || true
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  rm -rf "$TMP"
}
trap cleanup EXIT

# The display comes before the prefix (a prefix made without one cannot
# create windows). One from the caller (scripts/test.sh) is used as it is.
if [ -z "${DISPLAY:-}" ]; then
  n=140
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  export DISPLAY=":$n"
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "== $* ($(( $(date +%s) - start )) s)"; }
w() { timeout 120 wine "$@" </dev/null 2>>"$LOG"; }

# Runs a command line exactly as typed at a Windows prompt (wine would quote
# arguments with spaces, which /D= does not allow), from a batch file.
run_line() { # name command-line
  printf '@echo off\r\n%s\r\nexit /b %%ERRORLEVEL%%\r\n' "$2" >"$C/rltest/$1.bat"
  timeout 180 wine cmd /c "C:\\rltest\\$1.bat" </dev/null >>"$LOG" 2>&1
}
# Waits until every process of the prefix has ended (the uninstaller goes on
# in a copy of itself after the one started returns).
settle() { timeout 120 wineserver -w >/dev/null 2>&1 || true; }

reg_value() { # key value -> the data
  w reg query "$1" /v "$2" | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
reg_key_exists() { w reg query "$1" >/dev/null 2>&1; }
expect_value() { # key value expected
  local got
  got="$(reg_value "$1" "$2")"
  [ "$got" = "$3" ] || fail "$1 $2 is '$got', expected '$3'"
}
expect_file() { [ -f "$1" ] || fail "missing: $1"; }
expect_gone() { [ ! -e "$1" ] || fail "still there: $1"; }
expect_same() { cmp -s "$1" "$2" || fail "$2 differs from $1"; }

step "building an older version's installer and making a fresh prefix"
OLD_SETUP="$TMP/RaylumePro2-Setup-$OLD_VERSION.exe"
bash "$ROOT/scripts/build_installer.sh" "$BUILD_DIR" "$OLD_VERSION" "$OLD_SETUP" >/dev/null || exit 1
mkdir -p "$WINEPREFIX"
timeout 300 wineboot -i >/dev/null 2>&1
w reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
C="$WINEPREFIX/drive_c"
if [ ! -d "$C/windows" ]; then
  echo "FAIL: wineboot did not make the prefix"
  exit 1
fi
mkdir -p "$C/rltest"
cp "$SETUP" "$C/rltest/setup.exe"
cp "$OLD_SETUP" "$C/rltest/setup-old.exe"
LOCAL="$(w winepath -u "$(w cmd /c echo %LOCALAPPDATA% | tr -d '\r')")"
USER_DATA="$LOCAL/Corvane/RaylumePro2"

OPENGL_KEY='HKLM\Software\Corvane Software\RaylumePro\2.0\OpenGLSettings'
UPDATES_KEY='HKCU\Software\Corvane Software\RaylumePro\2.0\Product Updates'
UNINST_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\RaylumePro2'
PS_KEY='HKLM\SOFTWARE\Adobe\Photoshop'
PS_PLUGINS="$C/Program Files/Adobe/Adobe Photoshop 2022/Plug-ins"
PS_MISSING="$C/Program Files/Adobe/Adobe Photoshop CS6 (64 Bit)"
mkdir -p "$PS_PLUGINS"
w reg add "$PS_KEY\\130.0" /v ApplicationPath /d 'C:\Program Files\Adobe\Adobe Photoshop 2022\' /f >/dev/null
w reg add "$PS_KEY\\60.0" /v ApplicationPath /d 'C:\Program Files\Adobe\Adobe Photoshop CS6 (64 Bit)' /f >/dev/null
DIR_WIN='C:\Raylume Test\Raylume Pro 2'
DIR="$C/Raylume Test/Raylume Pro 2"
HOST1_WIN='C:\Host Apps\Plug ins'
HOST1="$C/Host Apps/Plug ins"
HOST2_WIN='C:\Other Editor\Filters'
HOST2="$C/Other Editor/Filters"
COMMON="$C/ProgramData/CorvaneSoftware/Raylume Pro 2"
MENU="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/Raylume Pro 2"

step "1. silent install of $OLD_VERSION into a chosen folder"
run_line install-old "C:\\rltest\\setup-old.exe /S /PLUGINDIR=\"$HOST1_WIN\" /D=$DIR_WIN" ||
  fail "the $OLD_VERSION installer exited with $?"
expect_file "$DIR/RaylumePro2.8bf"
expect_file "$HOST1/RaylumePro2.8bf"
expect_value "$UNINST_KEY" DisplayVersion "$OLD_VERSION"
expect_value "$OPENGL_KEY" InstalledProductVersion "$OLD_VERSION"

# What the user made since: a saved parameter set, a settings file, the
# OpenGL setting and an update preference chosen in the Options dialog; and
# a host copy that stands for an older plug-in.
mkdir -p "$USER_DATA/Settings" "$USER_DATA/Parameters"
cp "$ROOT/presets/Natural.rlp" "$USER_DATA/Parameters/My Wide Field.rlp"
printf 'user settings\r\n' >"$USER_DATA/Settings/LastUsed.rlp"
cp "$USER_DATA/Parameters/My Wide Field.rlp" "$USER_DATA/Settings/LastUsed.rlp" "$TMP/"
w reg add "$OPENGL_KEY" /v OpenGLOptimizationSetting /t REG_DWORD /d 3 /f >/dev/null
w reg add "$UPDATES_KEY" /v UpdateIntervalInDays /t REG_DWORD /d 30 /f >/dev/null
printf 'an older plug-in' >"$HOST1/RaylumePro2.8bf"

step "2. silent upgrade to $VERSION with another host folder"
run_line install "C:\\rltest\\setup.exe /S /PLUGINDIR=\"$HOST2_WIN\"" || fail "the installer exited with $?"
# The files where stated: the upgrade found the earlier folder.
expect_same "$PLUGIN" "$DIR/RaylumePro2.8bf"
for preset in "$ROOT"/presets/*.rlp; do expect_same "$preset" "$DIR/Presets/$(basename "$preset")"; done
expect_file "$DIR/Uninstall.exe"
expect_gone "$C/Program Files/Corvane Software"
expect_same "$BUILD_DIR/RaylumePro2.chm" "$COMMON/Raylume Pro 2.chm"
# Host folders: Photoshop's from the registry, the one named now, the one
# named at the first install brought up to date; no folder made for a
# Photoshop that is not there.
expect_same "$PLUGIN" "$PS_PLUGINS/RaylumePro2.8bf"
expect_same "$PLUGIN" "$HOST2/RaylumePro2.8bf"
expect_same "$PLUGIN" "$HOST1/RaylumePro2.8bf"
expect_gone "$PS_MISSING"
# The installation entry ran with the new version and kept the user's setting.
expect_value "$OPENGL_KEY" InstalledProductVersion "$VERSION"
expect_value "$OPENGL_KEY" OpenGLOptimizationSetting 0x3
expect_value "$UPDATES_KEY" UpdateIntervalInDays 0x1e
if ! ls "$USER_DATA/Logs/"*.log >/dev/null 2>&1 ||
  ! cat "$USER_DATA/Logs/"*.log | iconv -f UTF-16LE -t UTF-8 2>/dev/null | grep -q "Product version '$VERSION'"; then
  fail "no installation log names version $VERSION"
fi
expect_same "$TMP/My Wide Field.rlp" "$USER_DATA/Parameters/My Wide Field.rlp"
expect_same "$TMP/LastUsed.rlp" "$USER_DATA/Settings/LastUsed.rlp"
expect_file "$MENU/Raylume Pro 2 Options.lnk"
expect_file "$MENU/Raylume Pro 2 Manual.lnk"
expect_value "$UNINST_KEY" DisplayName "Raylume Pro 2"
expect_value "$UNINST_KEY" DisplayVersion "$VERSION"
expect_value "$UNINST_KEY" Publisher "Corvane Software"
expect_value "$UNINST_KEY" InstallLocation "$DIR_WIN"
expect_value "$UNINST_KEY" UninstallString "\"$DIR_WIN\\Uninstall.exe\""
expect_value "$UNINST_KEY" QuietUninstallString "\"$DIR_WIN\\Uninstall.exe\" /S"

step "3. the Options shortcut opens the Options dialog"
if w "$RLSHORTCUT" 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Raylume Pro 2\Raylume Pro 2 Options.lnk' \
  --timeout-ms 60000 >"$TMP/shortcut.out"; then
  tr -d '\r' <"$TMP/shortcut.out" >"$TMP/shortcut.txt"
  grep -qi '^target: C:\\windows\\system32\\rundll32.exe' "$TMP/shortcut.txt" || fail "the shortcut does not start rundll32"
  grep -qF "arguments: \"$DIR_WIN\\RaylumePro2.8bf\",ConfigureOptions" "$TMP/shortcut.txt" ||
    fail "the shortcut does not call ConfigureOptions of the installed plug-in"
  grep -qx 'closed: 64 Bit Raylume Pro 2 Plug-in Options' "$TMP/shortcut.txt" || fail "no Options dialog was closed"
else
  fail "rlshortcut exited with $? (4: no dialog, 5: rundll32 did not end)"
  tr -d '\r' <"$TMP/shortcut.out" >"$TMP/shortcut.txt"
fi
sed 's/^/   /' "$TMP/shortcut.txt"

step "4. silent uninstall through the uninstall entry"
run_line uninstall "$(reg_value "$UNINST_KEY" QuietUninstallString)" || fail "the uninstaller exited with $?"
settle
expect_gone "$DIR"
[ -d "$C/Raylume Test" ] || fail "the uninstaller removed the folder above its own"
expect_gone "$PS_PLUGINS/RaylumePro2.8bf"
[ -d "$PS_PLUGINS" ] || fail "the uninstaller removed Photoshop's plug-in folder"
expect_gone "$HOST1/RaylumePro2.8bf"
expect_gone "$HOST2/RaylumePro2.8bf"
# The plug-in folders the installations made go too; the folders above them stay.
expect_gone "$HOST1"
expect_gone "$HOST2"
[ -d "$C/Other Editor" ] || fail "the uninstaller removed a folder it did not make"
expect_gone "$COMMON/Raylume Pro 2.chm"
expect_gone "$MENU"
reg_key_exists "$UNINST_KEY" && fail "the uninstall entry is still there"
expect_same "$TMP/My Wide Field.rlp" "$USER_DATA/Parameters/My Wide Field.rlp"
expect_same "$TMP/LastUsed.rlp" "$USER_DATA/Settings/LastUsed.rlp"
ls "$USER_DATA/Logs/"*.log >/dev/null 2>&1 || fail "the uninstaller removed the user's logs"
expect_value "$OPENGL_KEY" OpenGLOptimizationSetting 0x3
expect_value "$UPDATES_KEY" UpdateIntervalInDays 0x1e

step "4b. a step that fails: a plug-in folder on a drive that does not exist; the command-line tool"
run_line install-baddrive "C:\\rltest\\setup.exe /S /NOHOSTS /TOOL /PLUGINDIR=\"Q:\\No Drive\\Plug-ins\" /D=$DIR_WIN"
rc=$?
[ "$rc" = 2 ] || fail "a silent install whose plug-in folder cannot be made exits $rc, not 2"
grep -q 'FAILED: could not make the plug-in folder Q:\\No Drive\\Plug-ins' "$DIR/Setup.log" 2>/dev/null ||
  fail "the failed step is not in Setup.log: $(cat "$DIR/Setup.log" 2>/dev/null)"
expect_same "$BUILD_DIR/raylume.exe" "$DIR/raylume.exe"
path="$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' Path)"
case ";$path;" in *";$DIR_WIN;"*) ;; *) fail "the product folder is not on the PATH: $path" ;; esac
w "$DIR_WIN\\raylume.exe" --version 2>/dev/null | grep -q "^raylume $VERSION" || fail "the installed raylume.exe does not run"
run_line uninstall-tool "\"$DIR_WIN\\Uninstall.exe\" /S" || fail "the uninstaller exited with $?"
settle
expect_gone "$DIR"
path="$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' Path)"
case ";$path;" in *";$DIR_WIN;"*) fail "the uninstaller left the product folder on the PATH: $path" ;; esac

step "5. default folder, a move to another folder, uninstall with /REMOVEUSERDATA"
DEFAULT="$C/Program Files/Corvane Software/Raylume Pro 2"
run_line install-default "C:\\rltest\\setup.exe /S" || fail "the installer exited with $?"
expect_same "$PLUGIN" "$DEFAULT/RaylumePro2.8bf"
expect_value "$UNINST_KEY" InstallLocation 'C:\Program Files\Corvane Software\Raylume Pro 2'
MOVED_WIN='C:\Moved\Raylume Pro 2'
MOVED="$C/Moved/Raylume Pro 2"
run_line install-moved "C:\\rltest\\setup.exe /S /NOHOSTS /D=$MOVED_WIN" || fail "the installer exited with $?"
expect_same "$PLUGIN" "$MOVED/RaylumePro2.8bf"
expect_gone "$C/Program Files/Corvane Software"
expect_value "$UNINST_KEY" InstallLocation "$MOVED_WIN"
# The host copy made from the first folder is still the installation's.
expect_same "$PLUGIN" "$PS_PLUGINS/RaylumePro2.8bf"
run_line uninstall-all "\"$MOVED_WIN\\Uninstall.exe\" /S /REMOVEUSERDATA" || fail "the uninstaller exited with $?"
settle
expect_gone "$MOVED"
expect_gone "$PS_PLUGINS/RaylumePro2.8bf"
expect_gone "$USER_DATA"
expect_gone "$C/ProgramData/CorvaneSoftware"
reg_key_exists "$UNINST_KEY" && fail "the uninstall entry is still there"
reg_key_exists 'HKLM\Software\Corvane Software' && fail "the product's HKLM key is still there"
reg_key_exists 'HKCU\Software\Corvane Software' && fail "the product's HKCU key is still there"

echo "== installer test: $failures failure(s) in $(( $(date +%s) - start )) s"
[ "$failures" = 0 ]
