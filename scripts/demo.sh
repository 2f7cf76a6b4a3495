#!/usr/bin/env bash
# The main job (Debian 12, as root): installs what the build needs, then builds
# the stub, builds the example package with it and installs that package under
# wine (examples/demo.sh says how).
#   scripts/demo.sh [INSTALL_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/fetch-minizip.sh"
exec "$root/examples/demo.sh" "$@"
