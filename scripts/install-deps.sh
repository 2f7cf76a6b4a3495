#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12, as root.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

# wine64-preloader: without it wine64 maps its fixed low areas only after the
# C library has set up its heap, which Linux (6.9 and later) may place
# anywhere in the gigabyte above the program; now and then the heap then sits
# on the page wine needs for the shared user data, and the process dies at
# start ("failed to map the shared user data: c0000018"). The preloader
# reserves those areas before anything else is mapped.
packages=(
  cmake ninja-build g++ clang pkg-config
  zlib1g-dev libminizip-dev libgtest-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 wine64-preloader xvfb xdotool
  unzip zip icoutils python3 dpkg-dev fonts-dejavu-core fonts-wqy-microhei
  osslsigncode openssl python3-pefile
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
