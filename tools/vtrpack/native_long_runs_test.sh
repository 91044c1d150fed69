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

# A payload cut short by another process while it is checked or stamped
# (its progress at a quarter): the bytes read before go on being checked and
# stamped; no fault kills the tool, and no temporary file stays.
for command in check stamp; do
  cp "$work/big.zuk" "$work/cut.zuk"
  if [ "$command" = check ]; then
    "$native" check "$work/cut.zuk" >"$work/stdout" 2>"$work/stderr" &
  else
    "$native" stamp "$work/big/VTRInstaller.exe" "$work/cut.zuk" "$work/out/result" \
      >"$work/stdout" 2>"$work/stderr" &
  fi
  pid=$!
  for _ in $(seq 1 600); do
    grep -q '^Expanding: 25%' "$work/stderr" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  truncate -s 1000 "$work/cut.zuk"
  status=0
  { wait "$pid"; } 2>/dev/null || status=$?
  # (The stamp's base is no launcher: it fails once the payload is checked.)
  expect=0
  [ "$command" = stamp ] && expect=1
  [ "$status" -eq "$expect" ] || fail "$command of a payload cut short meanwhile: exit code $status: $(cat "$work/stderr")"
  if [ "$command" = stamp ]; then
    grep -q "is not a Windows program" "$work/stderr" || fail "stamp of a payload cut short: $(cat "$work/stderr")"
  fi
  [ "$(ls "$work/out")" = "result" ] || fail "$command of a payload cut short: left $(ls "$work/out" | tr '\n' ' ')"
done
printf 'before' >"$work/out/result"

# An interrupt that comes after the output was moved into place (here while
# the move's call returns, held up by strace) does not say that nothing was
# written.
mkdir -p "$work/small"
printf 'MZ' >"$work/small/VTRInstaller.exe"
strace -f -qq -o /dev/null -e trace=rename,renameat,renameat2 \
  -e inject=rename,renameat,renameat2:delay_exit=3000000 \
  "$native" pack "$work/small" "$work/out/result" >"$work/stdout" 2>"$work/stderr" &
tracer=$!
printf 'before' >"$work/before"
for _ in $(seq 1 400); do
  cmp -s "$work/out/result" "$work/before" || break
  sleep 0.05
done
cmp -s "$work/out/result" "$work/before" && fail "commit: the output never came"
kill -s INT "$(ps -o pid= --ppid "$tracer" | head -n 1)" 2>/dev/null || fail "commit: no program to interrupt"
{ wait "$tracer"; } 2>/dev/null || true
if grep -q 'nothing was written' "$work/stderr"; then
  fail "commit: an interrupt after it says: $(cat "$work/stderr")"
fi
"$native" list "$work/out/result" >/dev/null || fail "commit: the output is not the payload"
[ "$(ls "$work/out")" = "result" ] || fail "commit: left $(ls "$work/out" | tr '\n' ' ')"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "progress, interrupts and swapped files: as expected"
