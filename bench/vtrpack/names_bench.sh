#!/usr/bin/env bash
# Name check benchmark (run by hand, never by ctest):
#
#   bench/vtrpack/names_bench.sh
#
# Times `vtrpack check` (peak memory and wall time, /usr/bin/time) on
# payloads whose tables hold many names and no data: 40,000 names, and 2.6
# million short names, a tenth of them shaped like short (8.3) aliases,
# about the most the 64 MB table limit admits. The check of clashing names
# is the one the setup runs on the same table. Needs a build
# (build/host-vtrpack/vtrpack, or build64's; VTRPACK=PATH names another) and
# python3.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
vtrpack=${VTRPACK:-$root/build/host-vtrpack/vtrpack}
[ -x "$vtrpack" ] || vtrpack="$root/build64/host-vtrpack/vtrpack"
[ -x "$vtrpack" ] || { echo "build first: $vtrpack is missing" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import bz2, struct, sys
work = sys.argv[1]

def archive(names, path):
    header = 37 + sum(4 + 2 * (len(n) + 1) + 8 for n in names)
    out = bytearray(b"QorZuravazevezu.Archive.ZUKA\0")
    out += struct.pack("<II", header, len(names))
    for n in names:
        out += struct.pack("<I", len(n) + 1) + n.encode("utf-16-le") + b"\0\0"
        out += struct.pack("<II", 0, header)
    with open(path, "wb") as f:
        f.write(bz2.compress(bytes(out), 9))

digits = "0123456789abcdefghijklmnopqrstuvwxyz"
def base36(i, width):
    s = ""
    for _ in range(width):
        s = digits[i % 36] + s
        i //= 36
    return s

archive(["VTRInstaller.exe"] + ["file-%06d.txt" % i for i in range(40000)], work + "/40k.zuk")
names = ["VTRInstaller.exe"]
for i in range(2600000):
    if i % 10 == 0:
        names.append(base36(i, 4)[:2] + "~" + str(i % 9 + 1) + "." + base36(i, 3))
    else:
        names.append(base36(i, 5))
archive(names, work + "/2600k.zuk")
PY

for payload in 40k 2600k; do
  /usr/bin/time -f "check, $payload names: %e s wall, peak %M KB" "$vtrpack" check "$work/$payload.zuk" 2>&1 |
    grep -v ': OK,' || true
done
