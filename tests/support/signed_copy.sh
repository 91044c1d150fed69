#!/usr/bin/env bash
# signed_copy.sh PROGRAM OUT
#
# Writes to OUT a copy of the Windows program PROGRAM that looks signed: a
# certificate table of 520 bytes appended as signing tools do (8-byte
# aligned), its data directory (the fifth) pointing at it. Prints the
# program's layout (PE32 or PE32+); fails for a file of another kind.
set -euo pipefail
program=$1
out=$2
# Little-endian numbers in a file (od reads the host's order, little-endian
# on the build machines).
number() { od -An -tu"$3" -j "$2" -N "$3" "$1" | tr -d ' '; }
put32() {
  printf '%b' "$(printf '\\0%03o' $(($3 & 255)) $(($3 >> 8 & 255)) $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# The optional header's magic says PE32 or PE32+; the data directories
# start 96 or 112 bytes into that header.
[ "$(head -c 2 "$program")" = MZ ] || { echo "$program is no Windows program" >&2; exit 1; }
optional=$(($(number "$program" 60 4) + 24))
case $(number "$program" "$optional" 2) in
  267) layout=PE32 directories=$((optional + 96)) ;;
  523) layout=PE32+ directories=$((optional + 112)) ;;
  *)
    echo "$program is of an unknown layout" >&2
    exit 1
    ;;
esac
cp "$program" "$out"
truncate -s $((($(stat -c %s "$out") + 7) / 8 * 8)) "$out"
at=$(stat -c %s "$out")
head -c 520 /dev/zero >>"$out"
put32 "$out" "$at" 520
put32 "$out" $((at + 4)) $((2 << 16 | 0x200)) # revision 2, PKCS#7
put32 "$out" $((directories + 4 * 8)) "$at"
put32 "$out" $((directories + 4 * 8 + 4)) 520
echo "$layout"
