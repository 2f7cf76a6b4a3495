#!/usr/bin/env bash
# A folder holding one file that fails to read part way, as on a failing
# disk: the file goes into a small ext2 image, the image is mounted read-only
# through a loop device, and the device is then cut short, so that every read
# past the cut ends in an I/O error. Needs root (mount, losetup).
#
#   shortdisk.sh mount FOLDER NAME SIZE READABLE
#       mounts at FOLDER a file system holding NAME: SIZE bytes of noise, of
#       which about the first READABLE can be read (the cut falls on a 512-byte
#       sector); the image is FOLDER.img
#   shortdisk.sh unmount FOLDER
#       unmounts it (the loop device goes with it) and removes the image
set -euo pipefail

mountshort() {
  local folder=$1 name=$2 size=$3 readable=$4
  local image=$folder.img source
  source=$(mktemp -d)
  trap 'rm -rf "$source"' RETURN
  head -c "$size" /dev/urandom >"$source/$name"
  # No journal: the file's data is all the image holds past the metadata.
  mkfs.ext4 -q -F -O ^has_journal -b 4096 -d "$source" "$image" $((size / 1024 + 8192))K >/dev/null
  # The cut: the image offset of byte READABLE of the file. It works only when
  # the file's extents lie in the image in the file's order, as mkfs writes them.
  local cut
  cut=$(debugfs -R "ex /$name" "$image" 2>/dev/null | awk -v at=$((readable / 4096)) -v rest=$((readable % 4096)) '
    { gsub(/\/ +/, "/") }
    $1 ~ /^[0-9]+\/[0-9]+$/ && $4 == "-" {
      if ($6 + 0 < last) bad = 1
      last = $8 + 0
      if (at >= $3 && at <= $5) cut = ($6 + at - $3) * 4096 + rest
    }
    END { if (bad || cut == "") exit 1; print cut }') ||
    { echo "shortdisk: cannot place the cut in $name" >&2; return 1; }
  mkdir -p "$folder"
  mount -o loop,ro "$image" "$folder"
  local device
  device=$(findmnt -n -o SOURCE --target "$folder")
  ls -la "$folder" >/dev/null  # the folder and the file's inode are read before the cut
  truncate -s $((cut / 512 * 512)) "$image"
  losetup -c "$device"
}

unmountshort() {
  local folder=$1
  if mountpoint -q "$folder"; then umount "$folder"; fi
  rm -f "$folder.img"
}

case ${1:-} in
  mount) shift; mountshort "$@" ;;
  unmount) shift; unmountshort "$@" ;;
  *) echo "usage: $0 mount FOLDER NAME SIZE READABLE | unmount FOLDER" >&2; exit 2 ;;
esac
