#!/usr/bin/env bash
# Writes an archive in the payload's format to standard output, for tests:
#
#   make_archive.sh NAME DATA [NAME DATA ...]
#
# Names are UTF-8 (any text, even one no file system would take), data is
# text. The entries' data follows the table in order, each entry's offset
# where its data lies, unless ARCHIVE_OFFSETS="O1 O2 ..." gives the offsets
# to write instead.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

u32() {
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) \
    $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}

count=0
header=37
while [ $# -ge 2 ]; do
  printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE >"$work/name$count"
  printf '%s' "$2" >"$work/data$count"
  units=$(($(wc -c <"$work/name$count") / 2 + 1))
  header=$((header + 4 + 2 * units + 8))
  count=$((count + 1))
  shift 2
done
read -r -a offsets <<<"${ARCHIVE_OFFSETS:-}"

printf 'QorZuravazevezu.Archive.ZUKA\0'
u32 "$header"
u32 "$count"
at=$header
for ((i = 0; i < count; i++)); do
  u32 $(($(wc -c <"$work/name$i") / 2 + 1))
  cat "$work/name$i"
  printf '\0\0'
  size=$(wc -c <"$work/data$i")
  u32 "$size"
  u32 "${offsets[$i]:-$at}"
  at=$((at + size))
done
for ((i = 0; i < count; i++)); do
  cat "$work/data$i"
done
