#!/usr/bin/env bash
# run_fuzz.sh [--fresh] FUZZER SECONDS CORPUS SEED...
#
# Runs the stamper's fuzz target for SECONDS, starting from the SEED files
# (launchers and other programs) and the inputs already in the folder CORPUS,
# where it keeps the new ones it finds (--fresh empties it first). Any fault (a crash, another
# exception, memory or an output beyond the limits) fails with the fuzzer's
# report and the input that caused it, saved beside CORPUS.
set -euo pipefail
fresh=0
if [ "$1" = --fresh ]; then
  fresh=1
  shift
fi
fuzzer=$1
seconds=$2
corpus=$3
shift 3
[ "$fresh" -eq 0 ] || rm -rf "$corpus"
mkdir -p "$corpus"
seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
for seed in "$@"; do
  cp "$seed" "$seeds/"
done
log=$corpus.log
artifacts=$(dirname "$corpus")/stamp-fuzz-faults/
mkdir -p "$artifacts"
# No single allocation of more than 64 MB, 1 GB in all: a base that costs
# more is a fault even when it is refused in the end.
if "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=1024 -malloc_limit_mb=64 -timeout=60 \
  -artifact_prefix="$artifacts" "$corpus" "$seeds" >"$log" 2>&1; then
  grep -E '^Done [0-9]+ runs' "$log" || true
  echo "no fault in $seconds s of fuzzing"
else
  tail -n 60 "$log"
  echo "the fuzzer found a fault; the input is in $artifacts" >&2
  exit 1
fi
