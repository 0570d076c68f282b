#!/usr/bin/env bash
# The layers include only what lies below them: the portable engine none of
# the front ends or the Windows shell, the Windows shell (OpenGL, preview,
# dialogs) not the host adapter. Prints every include that crosses, and fails.
set -euo pipefail
ROOT="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$ROOT"
status=0
check() {
  local dirs="$1" forbidden="$2" hits
  # shellcheck disable=SC2086
  hits="$(grep -nE "^#include \"($forbidden)/" $(find $dirs -name '*.cpp' -o -name '*.h') || true)"
  if [ -n "$hits" ]; then
    echo "layering: $dirs must not include $forbidden/:"
    echo "$hits"
    status=1
  fi
}
check "params image analysis effects support" "host|gl|preview|ui|tools"
check "gl preview ui" "host|tools"
[ "$status" = 0 ] && echo "layering: 1 passed, 0 failed"
exit "$status"
