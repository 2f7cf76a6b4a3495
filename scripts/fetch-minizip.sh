#!/usr/bin/env bash
# Fetches minizip's sources for the Windows build from Debian's zlib source
# package into .deps/zlib (ignored by git). The native build uses libminizip-dev.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest="$root/.deps/zlib"
[ -f "$dest/contrib/minizip/unzip.c" ] && exit 0

list=/etc/apt/sources.list.d/kelvane-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  # The main suite only: the security suite's source files are not served here.
  cat > "$list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  apt-get update -qq
fi

work=$(mktemp -d)
(cd "$work" && apt-get source -qq --only-source zlib/bookworm >/dev/null 2>&1 || \
   { apt-get update -qq && apt-get source -qq --only-source zlib/bookworm >/dev/null; })
mkdir -p "$root/.deps"
rm -rf "$dest"
mv "$work"/zlib-*/ "$dest"
rm -rf "$work"
test -f "$dest/contrib/minizip/unzip.c"
