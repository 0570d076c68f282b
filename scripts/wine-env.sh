# Sourced by the scripts that run Windows programs: a Wine prefix inside the
# build folder, a persistent wineserver and a virtual display.
ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export WINEPREFIX="$ROOT/build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

raylume_wine_start() {
  # The display comes first: a prefix made without one keeps a desktop that
  # cannot create windows.
  if [ -z "${DISPLAY:-}" ] || [ -n "${RAYLUME_OWN_XVFB:-}" ]; then
    local n=97
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    RAYLUME_XVFB_PID=$!
    for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    export DISPLAY=":$n"
    export RAYLUME_OWN_XVFB=1
  fi
  if [ ! -f "$WINEPREFIX/.raylume-ready" ]; then
    echo "wine: creating the prefix (first run only)"
    mkdir -p "$WINEPREFIX"
    timeout 300 wineboot -i >/dev/null 2>&1 || true
    timeout 120 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
    timeout 60 wineserver -w >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.raylume-ready"
  fi
  wineserver -p >/dev/null 2>&1 || true
  timeout 120 wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
}

raylume_wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${RAYLUME_XVFB_PID:-}" ]; then kill "$RAYLUME_XVFB_PID" 2>/dev/null || true; fi
}
