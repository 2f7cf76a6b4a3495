#!/usr/bin/env bash
# The main job, end to end: builds the stub, builds the example package from
# examples/ with it, and installs that package, all under wine.
# Usage (Debian 12, as root): scripts/demo.sh
# With a DISPLAY the package runs as a user would start it (splash, message
# box at the end); without one it runs unattended on a private Xvfb screen.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
scripts/fetch-minizip.sh
cmake --preset windows >/dev/null
cmake --build --preset windows

build="$root/build/windows"
example="$build/example"      # examples/app and examples/setup with qSetup.exe, from the build
installed="$build/demo-installed"
run() { cmake/wine-run.sh "$build" "$@"; }

attended=${DISPLAY:+yes}
cmake/wine-session.sh start "$build"
trap 'cmake/wine-session.sh stop "$build"' EXIT

echo "== builder: kelvane.exe in $example"
rm -f "$example/install_test.exe"
(cd "$example" && run "$build/kelvane.exe")
ls -l "$example/install_test.exe"

echo "== loader: install_test.exe"
rm -rf "$installed"
if [ -n "$attended" ]; then
  (cd "$example" && KZQPATHI="Z:${installed//\//\\}" run install_test.exe)
else
  (cd "$example" && run install_test.exe 1 "Z:${installed//\//\\}")
fi
echo "== installed into $installed"
find "$installed" -type f | sort
