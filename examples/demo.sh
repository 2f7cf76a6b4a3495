#!/usr/bin/env bash
# Builds the stub, builds the example package from examples/app and
# examples/setup (with the example setup program built from examples/qsetup),
# and runs it under wine.
#   examples/demo.sh [INSTALL_FOLDER]
# With a DISPLAY (a desktop) the loader's window and the setup program's
# closing message show there. Without one the run goes to a private Xvfb
# screen and is unattended. Either way the app is installed into
# INSTALL_FOLDER (default: build/windows/example/installed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${KELVANE_BUILD:-$root/build/windows}")  # the windows preset's tree
target=$(realpath -m "${1:-$build/example/installed}")
cd "$root"

cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" -j2 --target kelvane example
if [ -z "${DISPLAY:-}" ]; then
  cmake/wine-session.sh start "$build"
  trap '"$root/cmake/wine-session.sh" stop "$build"' EXIT
  # Two arguments: KZQAUTOI=1 (unattended, no window) and KZQPATHI.
  loaderargs=(1 "Z:$(echo "$target" | tr / '\\')")
else
  cmake/wine-session.sh prefix "$build"
  # No arguments, so the window shows; the install folder reaches the setup
  # program through the inherited environment.
  export KZQPATHI="Z:$(echo "$target" | tr / '\\')"
  loaderargs=()
fi

cd "$build/example"
rm -f install_test.exe
echo "== builder: the bare stub turns app/ and setup/ into install_test.exe"
"$root/cmake/wine-run.sh" "$build" "$build/kelvane.exe"
echo "== loader: install_test.exe extracts setup/ and starts qSetup.exe"
"$root/cmake/wine-run.sh" "$build" install_test.exe "${loaderargs[@]}"
echo "== installed into $target:"
find "$target" -type f | sort
