#!/usr/bin/env bash
# The bzip2 engines benchmark (run by hand, never by ctest): our native
# vtrpack against lbzip2, pbzip2 and bzip2 on the same bytes, both ways, on
# one thread and on all processors.
#
#   bench/bzip2/engines.sh [--rounds N] [--threads N] [--old PATH] [SIZE_MB]
#
# The folder is bench/bzip2/make_corpus.py's: SIZE_MB (100 by default) of
# mixed files, 200 of them, the same bytes on every machine. It is made once
# and kept in ${VELTRANO_BENCH_DIR:-/tmp/veltrano-engines}. Our payload of
# it is the input of every decoder; its expanded archive is the input of
# every other encoder, so all of them handle the same bytes.
#
# Each command runs once per round, the commands of a row in turn, under
# /usr/bin/time; a row's figures are the medians of its rounds (5 by
# default): elapsed seconds and peak resident memory, and the median of the
# per-round ratios to lbzip2. --old adds another vtrpack (a previous build)
# to every row. --threads sets "all" (default: the processors here).
#
# Needs a build (build64/host-vtrpack/vtrpack or build's; VTRPACK=PATH names
# another) and the packages lbzip2, pbzip2 and bzip2 (apt-get install lbzip2
# pbzip2); a missing tool's rows say so.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
rounds=5
threads=$(nproc)
old=
while [ $# -gt 0 ]; do
  case $1 in
  --rounds) rounds=$2; shift 2 ;;
  --threads) threads=$2; shift 2 ;;
  --old) old=$(realpath "$2"); shift 2 ;;
  -*) echo "engines.sh: unknown option $1" >&2; exit 2 ;;
  *) break ;;
  esac
done
size_mb=${1:-100}
vtrpack=${VTRPACK:-$root/build64/host-vtrpack/vtrpack}
[ -x "$vtrpack" ] || vtrpack=$root/build/host-vtrpack/vtrpack
[ -x "$vtrpack" ] || { echo "engines.sh: build first ($vtrpack is missing)" >&2; exit 1; }
vtrpack=$(realpath "$vtrpack")
[ -x /usr/bin/time ] || { echo "engines.sh: needs /usr/bin/time (apt-get install time)" >&2; exit 1; }

work=${VELTRANO_BENCH_DIR:-/tmp/veltrano-engines}
corpus=$work/corpus-$size_mb
mkdir -p "$work"
if [ ! -f "$corpus.ready" ]; then
  echo "making the $size_mb MB folder in $corpus (once; about a minute per 100 MB)" >&2
  rm -rf "$corpus"
  python3 "$root/bench/bzip2/make_corpus.py" "$corpus" "$size_mb"
  touch "$corpus.ready"
fi
scratch=$(mktemp -d "$work/run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
payload=$scratch/payload.bz2
archive=$scratch/archive
"$vtrpack" pack "$corpus" "$payload" >/dev/null 2>&1
bzip2 -dc "$payload" >"$archive"
echo "folder: $(du -sb "$corpus" | cut -f1) bytes in $(ls "$corpus" | wc -l) files;" \
  "payload $(stat -c %s "$payload") bytes; archive $(stat -c %s "$archive") bytes" >&2
echo "vtrpack: $vtrpack ($("$vtrpack" --version 2>&1 | head -n 1))" >&2
[ -z "$old" ] || echo "old: $old ($("$old" --version 2>&1 | head -n 1))" >&2
echo "threads: 1 and $threads; rounds: $rounds; $(nproc) processors; load $(cut -d' ' -f1-3 /proc/loadavg)" >&2

have() { command -v "$1" >/dev/null 2>&1; }

# row NAME: then lines of "LABEL<TAB>COMMAND"; prints one table line each.
row() {
  local name=$1 table=$2 labels=() commands=() i r line
  while IFS=$'\t' read -r label command; do
    [ -n "$label" ] || continue
    labels+=("$label")
    commands+=("$command")
  done <<<"$table"
  local results=$scratch/results
  : >"$results"
  for r in $(seq 1 "$rounds"); do
    # Rotating the start spreads any drift of the machine over every command.
    local n=${#commands[@]}
    for ((k = 0; k < n; k++)); do
      i=$(((k + r) % n))
      rm -f "$scratch/out"
      line=$(cd "$scratch" && /usr/bin/time -f '%e %M' bash -c "${commands[$i]}" 2>&1 >/dev/null | tail -n 1)
      echo "$r $i $line" >>"$results"
    done
  done
  awk -v name="$name" -v labels="$(printf '%s\n' "${labels[@]}")" '
    function median(list, n,   sorted, j, k, t) {
      for (j = 1; j <= n; j++) sorted[j] = list[j]
      for (j = 1; j <= n; j++) for (k = j + 1; k <= n; k++) if (sorted[k] < sorted[j]) { t = sorted[j]; sorted[j] = sorted[k]; sorted[k] = t }
      return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
    }
    BEGIN { count = split(labels, label, "\n"); for (i = 1; i <= count; i++) if (label[i] == "lbzip2") ref = i - 1 }
    { t[$1, $2] = $3; m[$1, $2] = $4; if ($1 > rounds) rounds = $1 }
    END {
      for (i = 0; i < count; i++) {
        for (r = 1; r <= rounds; r++) { times[r] = t[r, i]; mems[r] = m[r, i]; if (ref != "") ratios[r] = t[r, i] / t[r, ref] }
        ratio = ref != "" ? sprintf("%.2f", median(ratios, rounds)) : "-"
        printf "| %s | %s | %.2f s | %.0f MB | %s |\n", name, label[i + 1], median(times, rounds), median(mems, rounds) / 1024, ratio
      }
    }' "$results"
}

ours() { echo "$1	$2"; }
others() { # others DIRECTION THREADS
  local direction=$1 n=$2
  if have lbzip2; then
    [ "$direction" = decode ] && echo "lbzip2	lbzip2 -dc -n$n '$payload' >/dev/null" ||
      echo "lbzip2	lbzip2 -9 -c -n$n '$archive' >out"
  fi
  if have pbzip2; then
    [ "$direction" = decode ] && echo "pbzip2	pbzip2 -dc -p$n '$payload' >/dev/null" ||
      echo "pbzip2	pbzip2 -9 -c -p$n '$archive' >out"
  fi
  if [ "$n" = 1 ]; then
    [ "$direction" = decode ] && echo "bzip2	bzip2 -dc '$payload' >/dev/null" ||
      echo "bzip2	bzip2 -9 -c '$archive' >out"
  fi
}
for tool in lbzip2 pbzip2; do have $tool || echo "($tool is not installed: its rows are left out)" >&2; done

echo
echo "| direction, threads | engine | median time | peak memory | ÷ lbzip2 |"
echo "|---|---|---|---|---|"
for n in 1 "$threads"; do
  table=$(
    ours vtrpack "'$vtrpack' check --threads $n '$payload'"
    [ -z "$old" ] || ours "vtrpack (old)" "'$old' check --threads $n '$payload'"
    others decode "$n"
  )
  row "decode, $n" "$table"
done
for n in 1 "$threads"; do
  table=$(
    ours vtrpack "'$vtrpack' pack --threads $n '$corpus' out"
    [ -z "$old" ] || ours "vtrpack (old)" "'$old' pack --threads $n '$corpus' out"
    others encode "$n"
  )
  row "encode, $n" "$table"
done
