#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12, as root.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang pkg-config
  zlib1g-dev libminizip-dev libgtest-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev binutils-mingw-w64-x86-64
  wine wine64 xvfb xdotool x11-apps
  unzip zip icoutils python3 dpkg-dev fonts-dejavu-core
  osslsigncode openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
