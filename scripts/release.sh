#!/usr/bin/env bash
# Makes the release archives in dist/ (or the folder given):
#   kelvane-VERSION-windows.zip         kelvane.exe, the example's folders, README, notices
#   kelvane-VERSION-linux-x86_64.tar.gz the native kelvane with kelvane.exe beside it, the same
#   SHA256SUMS
# Builds the windows preset (the stub and the example) and the release preset
# (the native kelvane: Release, no sanitizers, zlib and minizip compiled in,
# the C++ and gcc runtimes linked statically). Archive members carry fixed
# owners and times. Usage: scripts/release.sh [DIST]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
dist=$(realpath -m "${1:-dist}")

[ -f .deps/zlib/deflate.c ] || scripts/fetch-minizip.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target kelvane example
cmake --preset release >/dev/null
cmake --build --preset release

version=$(sed -n 's/^project(kelvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# What both archives hold: the stub, the example, the README and the notices.
fill() {
  local into=$1
  mkdir -p "$into/example" "$into/licences"
  cp build/windows/kelvane.exe README.md "$into/"
  cp -r build/windows/example/app build/windows/example/setup "$into/example/"
  cat >"$into/licences/NOTICE" <<NOTICE
Kelvane $version, written by the Kelvane developers.
Its programs contain zlib and minizip (zlib's contrib/minizip), compiled from
Debian's zlib source package; their copyright and licence notices follow in
zlib.copyright and minizip.copyright, as Debian ships them.
NOTICE
  cp /usr/share/doc/zlib1g/copyright "$into/licences/zlib.copyright"
  cp /usr/share/doc/libminizip1/copyright "$into/licences/minizip.copyright"
}

windows=kelvane-$version-windows
linux=kelvane-$version-linux-$(uname -m)
fill "$stage/$windows"
fill "$stage/$linux"
cp build/release/kelvane "$stage/$linux/"

find "$stage" -exec touch -h -d @0 {} +
rm -rf "$dist"
mkdir -p "$dist"
(cd "$stage" && find "$windows" | LC_ALL=C sort | TZ=UTC zip -X -q -D "$dist/$windows.zip" -@)
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 -cf - "$linux" | gzip -9n >"$dist/$linux.tar.gz"
(cd "$dist" && sha256sum "$windows.zip" "$linux.tar.gz" >SHA256SUMS)

echo "The native kelvane needs only these libraries:"
ldd build/release/kelvane
ls -l "$dist"
