#!/usr/bin/env bash
# Payload packing benchmark (run by hand, never by ctest):
#
#   bench/vtrpack/pack_bench.sh [SIZE_MB [SPEED_MB [OLD_VTRPACK_EXE]]]
#   bench/vtrpack/pack_bench.sh memory [SIZE_MB]
#
# memory: packs a folder of SIZE_MB (default 300) MB on 1, 2, 4, 8 and 16
# threads under /usr/bin/time -v and prints the peak resident memory, the
# minor page faults and the processor times of each run. Otherwise:
#
# 1. Memory: packs a folder of SIZE_MB (default 1100) MB with the native
#    vtrpack on all threads under /usr/bin/time -v and prints its peak
#    resident memory; then checks that the payload expands (host bzip2,
#    streamed into a checker) to exactly the folder's files and that
#    `vtrpack check` accepts it.
# 2. Speed: packs a folder of SPEED_MB (default 200) MB with 1 thread, with
#    all threads and, when given, with a previous vtrpack.exe under Wine, in
#    alternating rounds, and prints the times and the ratios.
#
# Needs a build (build/host-vtrpack/vtrpack, or build64's; VTRPACK=PATH
# names another). Scratch data goes to ${TMPDIR:-/tmp}; about 2.5 x SIZE_MB
# of free space is needed.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
mode=speed
if [ "${1:-}" = memory ]; then
  mode=memory
  shift
fi
size_mb=${1:-1100}
speed_mb=${2:-200}
old_tool=${3:-}
vtrpack=${VTRPACK:-$root/build/host-vtrpack/vtrpack}
[ -x "$vtrpack" ] || vtrpack="$root/build64/host-vtrpack/vtrpack"
[ -x "$vtrpack" ] || { echo "build first: $vtrpack is missing" >&2; exit 1; }
if [ -n "$old_tool" ] && ! "$root/scripts/host-runs" 32 --native; then
  echo "pack_bench: the previous vtrpack.exe would run as a 32-bit program under processor" \
    "emulation (qemu-i386) on this host, so its times would measure the emulator; no figures" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A folder of about total MB: a tenth of it each of text-like, numeric and
# random files, the kinds a product ships.
make_folder() {
  local dir=$1 total=$2 part i
  mkdir -p "$dir"
  head -c 1000000 /dev/urandom >"$dir/VTRInstaller.exe"
  part=$((total / 10))
  for i in 1 2 3 4; do
    base64 -w 76 /dev/urandom | head -c "${part}M" >"$dir/text-$i.txt" || true
  done
  for i in 1 2 3; do
    head -c "${part}M" /dev/urandom >"$dir/random-$i.bin"
  done
  for i in 1 2 3; do
    seq $((i * 100000000)) $((i * 100000000 + 30000000)) | head -c "${part}M" >"$dir/numbers-$i.txt" || true
  done
}

if [ "$mode" = memory ]; then
  size_mb=${1:-300}
  make_folder "$work/memory" "$size_mb"
  echo "== packing $size_mb MB ($(nproc) processors)"
  for threads in 1 2 4 8 16; do
    /usr/bin/time -f "%M %R %U %S %e" -o "$work/time.txt" \
      "$vtrpack" pack --threads "$threads" "$work/memory" "$work/memory.zuk" >/dev/null 2>&1
    read -r peak faults user system wall <"$work/time.txt"
    printf '%2d threads: peak %6d KB, %7d minor page faults, %6.2f s user, %5.2f s system, %6.2f s wall\n' \
      "$threads" "$peak" "$faults" "$user" "$system" "$wall"
  done
  exit 0
fi

echo "== memory: packing $size_mb MB on all threads ($(nproc) processors)"
make_folder "$work/big" "$size_mb"
du -sb "$work/big" | awk '{ printf "folder: %d bytes\n", $1 }'
/usr/bin/time -v "$vtrpack" pack "$work/big" "$work/big.zuk" 2>"$work/time.txt" >/dev/null
grep -E "Maximum resident set size|Elapsed \(wall clock\)" "$work/time.txt"
ls -l "$work/big.zuk" | awk '{ printf "payload: %d bytes\n", $5 }'

echo "== the payload expands to the same files"
(cd "$work/big" && sha256sum -- *) | awk '{ print $2, $1 }' | sort >"$work/expected.txt"
bzip2 -dc "$work/big.zuk" | python3 -c '
import hashlib, struct, sys
data = sys.stdin.buffer
head = data.read(37)
assert head[:29] == b"QorZuravazevezu.Archive.ZUKA\0", "no archive"
header_size, count = struct.unpack("<II", head[29:37])
table = data.read(header_size - 37)
entries, p = [], 0
for _ in range(count):
    (units,) = struct.unpack_from("<I", table, p); p += 4
    name = table[p:p + 2 * units].decode("utf-16-le").rstrip("\0"); p += 2 * units
    size, offset = struct.unpack_from("<II", table, p); p += 8
    entries.append((name, size, offset))
at = header_size
for name, size, offset in entries:
    assert offset == at, "entries out of order"
    h, left = hashlib.sha256(), size
    while left:
        piece = data.read(min(left, 1 << 20)); assert piece, "archive ends early"
        h.update(piece); left -= len(piece)
    at += size
    print(name, h.hexdigest())
assert not data.read(1), "bytes after the last entry"
' | sort >"$work/actual.txt"
if cmp -s "$work/expected.txt" "$work/actual.txt"; then
  echo "all $(wc -l <"$work/expected.txt") files identical"
else
  echo "MISMATCH" >&2
  diff "$work/expected.txt" "$work/actual.txt" >&2 || true
  exit 1
fi
/usr/bin/time -f "check: %e s, peak %M KB" "$vtrpack" check "$work/big.zuk" 2>&1 >/dev/null | tail -n 1
rm -rf "$work/big" "$work/big.zuk"

echo "== memory: long runs (1 GB of zeros, pieces of up to 46 MB)"
mkdir -p "$work/runs"
head -c 1000000 /dev/urandom >"$work/runs/VTRInstaller.exe"
truncate -s 1000000000 "$work/runs/zeros.bin"
/usr/bin/time -f "%e s, peak %M KB" "$vtrpack" pack "$work/runs" "$work/runs.zuk" 2>&1 >/dev/null | tail -n 1
"$vtrpack" check "$work/runs.zuk" >/dev/null && echo "check: OK"
rm -rf "$work/runs" "$work/runs.zuk"

echo "== speed: packing $speed_mb MB, alternating rounds"
make_folder "$work/speed" "$speed_mb"
# Wall time, and the processor time of the process and its children (the
# machine may be shared: the processor time shows the work done).
declare -A total cpu_total
run() {
  local label=$1 wall cpu
  shift
  /usr/bin/time -f "%e %U %S" -o "$work/run-time.txt" "$@" >/dev/null 2>&1
  read -r wall user system <"$work/run-time.txt"
  cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.1f", u + s }')
  total[$label]=$(awk -v t="${total[$label]:-0}" -v d="$wall" 'BEGIN { print t + d }')
  cpu_total[$label]=$(awk -v t="${cpu_total[$label]:-0}" -v d="$cpu" 'BEGIN { print t + d }')
  printf '%-16s %6s s wall, %6s s processor\n' "$label" "$wall" "$cpu"
}
labels=(one-thread all-threads)
[ -n "$old_tool" ] && labels+=(previous-tool)
for round in 1 2 3; do
  echo "round $round"
  run one-thread "$vtrpack" pack --threads 1 "$work/speed" "$work/one.zuk"
  run all-threads "$vtrpack" pack "$work/speed" "$work/all.zuk"
  if [ -n "$old_tool" ]; then
    run previous-tool "$root/scripts/wine-run" --prefix "$root/build/wineprefix" "$old_tool" pack \
      "$work/speed" "$work/old.zuk"
  fi
done
cmp -s "$work/one.zuk" "$work/all.zuk" && echo "one-thread and all-threads payloads identical"
for label in "${labels[@]}"; do
  awk -v l="$label" -v t="${total[$label]}" -v base="${total[one-thread]}" -v c="${cpu_total[$label]}" \
    'BEGIN { printf "%-16s total %7.1f s wall (%.2f x one thread), %7.1f s processor\n", l, t, t / base, c }'
done
"$root/scripts/wine-run" --prefix "$root/build/wineprefix" --stop >/dev/null 2>&1 || true
