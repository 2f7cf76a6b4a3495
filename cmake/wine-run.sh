#!/usr/bin/env bash
# Runs a Windows program under wine with the build tree's private prefix.
#   wine-run.sh BUILD_DIR PROGRAM [ARGS...]
# The prefix lives in BUILD_DIR/wineprefix and is created on first use.
# Its TEMP and TMP name the variable KELVANE_TEMP, so each run can get a
# temporary folder of its own: set KELVANE_TEMP_DIR to a Unix folder.
set -euo pipefail
build=$(cd "$1" && pwd); shift
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-session.sh" prefix "$build"
source "$build/wine-env.sh"

if [ -n "${KELVANE_TEMP_DIR:-}" ]; then
  mkdir -p "$KELVANE_TEMP_DIR"
  KELVANE_TEMP="Z:$(cd "$KELVANE_TEMP_DIR" && pwd | tr / '\\')"
  export KELVANE_TEMP
fi
exec wine "$@"
