#!/usr/bin/env bash
# Sets everything up and runs the main job: the real plug-in is loaded under
# Wine by the host simulator, which prints the filter's property list and the
# factory parameters it hands out.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
bash scripts/build.sh
source scripts/wine-env.sh
raylume_wine_start
trap raylume_wine_stop EXIT
wine build/mingw/rlhost.exe build/mingw/RaylumePro2.8bf info
