#!/usr/bin/env bash
# make_icon.sh OUT.ico
#
# Writes the tests' branding icon: a 16x16 image all red and a 32x32 image
# all green (32-bit bitmaps, fully opaque), unlike the launcher's own icon,
# so that a test can tell whose icon a setup carries.
set -euo pipefail
out=$1
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16)); }
# side, pixel (blue, green, red, alpha as \x escapes)
image() {
  local side=$1 pixel=$2 i
  le32 40; le32 "$side"; le32 $((2 * side)); le16 1; le16 32
  le32 0; le32 0; le32 0; le32 0; le32 0; le32 0
  for ((i = 0; i < side * side; i++)); do printf '%b' "$pixel"; done
  head -c $(((side + 31) / 32 * 4 * side)) /dev/zero # the mask: every pixel shown
}
size() { echo $((40 + $1 * $1 * 4 + ($1 + 31) / 32 * 4 * $1)); }
tmp=$out.tmp
{
  le16 0; le16 1; le16 2
  printf '\x10\x10\x00\x00'; le16 1; le16 32; le32 "$(size 16)"; le32 38
  printf '\x20\x20\x00\x00'; le16 1; le16 32; le32 "$(size 32)"; le32 $((38 + $(size 16)))
  image 16 '\x00\x00\xff\xff'
  image 32 '\x00\xff\x00\xff'
} >"$tmp"
mv "$tmp" "$out"
