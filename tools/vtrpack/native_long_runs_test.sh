#!/usr/bin/env bash
# native_long_runs_test.sh NATIVE_VTRPACK
#
# The native vtrpack on work that takes seconds: list and check show their
# progress as pack does; SIGINT, SIGTERM and SIGHUP during pack and stamp
# end it with 128 + the signal's number and one line, and leave nothing
# beside the output; a file swapped for a FIFO or a link after the folder
# was listed is refused when its turn comes, instead of blocking for ever or
# being followed.
set -euo pipefail
native=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# 40 MB that do not compress: packing it on one thread takes seconds.
mkdir -p "$work/big" "$work/out"
head -c 20000 /dev/urandom >"$work/big/VTRInstaller.exe"
head -c 40000000 /dev/urandom >"$work/big/a-data.bin"
printf 'last' >"$work/big/z-last.txt"
"$native" pack "$work/big" "$work/big.zuk" >/dev/null 2>&1
printf 'before' >"$work/out/result"

# Progress of list and check: in a log a line at each quarter, on a
# terminal one live line.
quarters=$'Expanding: 25%\nExpanding: 50%\nExpanding: 75%\nExpanding: 100%'
for command in list check; do
  log=$("$native" "$command" "$work/big.zuk" 2>&1 >/dev/null)
  [ "$log" = "$quarters" ] || fail "$command: progress in a log: $log"
  live=$(script -qec "\"$native\" $command \"$work/big.zuk\" >/dev/null" /dev/null)
  [ "$(grep -o $'\rExpanding: [0-9]*%' <<<"$live" | wc -l)" -gt 4 ] || fail "$command: no live percentage"
  grep -q $'\rExpanding: 100%' <<<"$live" || fail "$command: the live percentage does not end at 100 %"
done

# Starts the command in the background and waits until its temporary output
# exists beside $work/out/result (the work has begun): its pid in $pid.
start() {
  "$@" >"$work/stdout" 2>"$work/stderr" &
  pid=$!
  for _ in $(seq 1 400); do
    if compgen -G "$work/out/result.vtrpack-*.tmp" >/dev/null; then
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  fail "$*: no temporary output appeared"
}

# The program ended with code, said expect in one line, and left only the
# earlier output, unchanged.
ended() {
  local what=$1 code=$2 expect=$3 status=0
  { wait "$pid"; } 2>/dev/null || status=$?
  [ "$status" -eq "$code" ] || fail "$what: exit code $status, not $code"
  # Besides the progress lines of a log.
  grep -v -e '^Compressing: ' -e '^Expanding: ' "$work/stderr" >"$work/said" || true
  [ "$(wc -l <"$work/said")" -eq 1 ] || fail "$what: not one line: $(cat "$work/stderr")"
  grep -q -- "$expect" "$work/said" || fail "$what: \"$(cat "$work/said")\" lacks \"$expect\""
  [ "$(ls "$work/out")" = "result" ] || fail "$what: left $(ls "$work/out" | tr '\n' ' ')"
  [ "$(cat "$work/out/result")" = "before" ] || fail "$what: the earlier output changed"
}

for signal in INT TERM HUP; do
  number=$(kill -l "$signal")
  start "$native" pack --threads 1 "$work/big" "$work/out/result"
  kill -s "$signal" "$pid"
  ended "pack, SIG$signal" $((128 + number)) \
    "^vtrpack: interrupted by SIG$signal; nothing was written to $work/out/result\$"
done
# Stamp makes its output before it checks the payload, which takes seconds.
for signal in INT TERM HUP; do
  number=$(kill -l "$signal")
  start "$native" stamp "$work/big/VTRInstaller.exe" "$work/big.zuk" "$work/out/result"
  kill -s "$signal" "$pid"
  ended "stamp, SIG$signal" $((128 + number)) \
    "^vtrpack: interrupted by SIG$signal; nothing was written to $work/out/result\$"
done

# Swapped after the listing, while a-data.bin is being compressed.
start "$native" pack --threads 1 "$work/big" "$work/out/result"
rm "$work/big/z-last.txt"
mkfifo "$work/big/z-last.txt"
timeout 120 tail --pid="$pid" -f /dev/null || fail "a FIFO swapped in: pack blocks"
ended "FIFO swapped in" 1 "cannot pack $work/big/z-last.txt: it is not a regular file"
rm "$work/big/z-last.txt"
printf 'secret' >"$work/secret"
printf 'last' >"$work/big/z-last.txt"
start "$native" pack --threads 1 "$work/big" "$work/out/result"
rm "$work/big/z-last.txt"
ln -s "$work/secret" "$work/big/z-last.txt"
ended "link swapped in" 1 "cannot pack $work/big/z-last.txt: it is a symbolic link"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "progress, interrupts and swapped files: as expected"
