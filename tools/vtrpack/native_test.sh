#!/usr/bin/env bash
# native_test.sh NATIVE_VTRPACK WINDOWS_VTRPACK_EXE WINEPREFIX LAUNCHER_EXE ICON
#
# The native vtrpack and vtrpack.exe (under Wine) make the same payload byte
# for byte from a table of folders, whatever the thread count; the host's
# bzip2 and both tools' list and check accept it; refused input (links,
# FIFOs, names the setup cannot write, outputs in the wrong place, files
# that are no payload) fails in one line that names the file and leaves
# nothing at the output; both stamp the launcher (of either layout, signed
# or not, branded with ICON and more or not) into the same program; the
# stamp shows its progress and writes through the one handle it created;
# every failure of the system while stamping (a missing base or icon, a
# full disk) names its file and says why.
set -euo pipefail
native=$1
windows=$2
prefix=$3
launcher=$4
icon=$5
root=$(cd "$(dirname "$0")/../.." && pwd)
# Unicode names reach Wine and the tools as UTF-8.
export LC_ALL=C.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
win() { "$root/scripts/wine-run" --prefix "$prefix" "$windows" "$@"; }

# A stand-in installer: any bytes will do.
installer() { head -c 20000 /dev/urandom >"$1/VTRInstaller.exe"; }

mkdir -p "$work/empty-files" "$work/unicode" "$work/many" "$work/large"
installer "$work/empty-files"
: >"$work/empty-files/a"
: >"$work/empty-files/b.txt"
: >"$work/empty-files/zzz"

# UTF-16 order differs from UTF-8 byte order for characters beyond U+FFFF
# (stored as surrogates, 0xD800-0xDFFF) against U+E000-U+FFFF.
installer "$work/unicode"
for name in "été.txt" "日本語.txt" "Ａ-fullwidth.txt" "😀-emoji.txt" "Zeta" "alpha" "ß"; do
  printf '%s\n' "$name" >"$work/unicode/$name"
done

installer "$work/many"
for i in $(seq 1 1500); do
  printf 'file %d %s\n' "$i" "$(printf '%*s' $((i % 97)) '' | tr ' ' x)" >"$work/many/f$i.txt"
done

# Several blocks: long runs (a block of runs holds up to about 46 MB) and
# data that does not compress.
installer "$work/large"
{
  head -c 3000000 /dev/zero
  head -c 5000000 /dev/urandom
  head -c 4000000 < <(yes 'a line of text that repeats')
} >"$work/large/data.bin"

for folder in empty-files unicode many large; do
  src="$work/$folder"
  out="$work/out-$folder"
  mkdir -p "$out"
  "$native" pack --threads 1 "$src" "$out/native-1.zuk" >/dev/null 2>&1 || fail "$folder: native pack, 1 thread"
  "$native" pack --threads 3 "$src" "$out/native-3.zuk" >/dev/null 2>&1 || fail "$folder: native pack, 3 threads"
  "$native" pack "$src" "$out/native.zuk" >/dev/null 2>&1 || fail "$folder: native pack, default threads"
  win pack --threads 2 "$src" "$out/windows-2.zuk" >/dev/null 2>&1 || fail "$folder: windows pack, 2 threads"
  for other in native-3 native windows-2; do
    cmp -s "$out/native-1.zuk" "$out/$other.zuk" || fail "$folder: $other.zuk differs from native-1.zuk"
  done
  # One standard stream that holds the archive.
  bzip2 -dc "$out/native-1.zuk" >"$out/archive" || fail "$folder: bzip2 -d refuses the payload"
  head -c 29 "$out/archive" | grep -q "QorZuravazevezu.Archive.ZUKA" || fail "$folder: no archive inside"
  "$native" list "$out/native-1.zuk" >"$out/list-native" || fail "$folder: native list"
  win list "$out/native-1.zuk" | tr -d '\r' >"$out/list-windows" || fail "$folder: windows list"
  cmp -s "$out/list-native" "$out/list-windows" || fail "$folder: the two lists differ"
  "$native" check "$out/native-1.zuk" >/dev/null || fail "$folder: native check"
  win check "$out/native-1.zuk" >/dev/null || fail "$folder: windows check"
  # Every file comes back as it was, and pack and list count the same bytes.
  count=$(ls "$src" | wc -l)
  bytes=$(cat "$src"/* | wc -c)
  grep -q "^$count files\?, $bytes bytes\? (" "$out/list-native" ||
    fail "$folder: the list does not show $count files of $bytes bytes: $(tail -n 1 "$out/list-native")"
  said=$("$native" pack "$src" "$out/again.zuk" 2>/dev/null)
  grep -q "^Packed $count files\?, $bytes bytes\? (" <<<"$said" ||
    fail "$folder: pack does not report $count files of $bytes bytes: $said"
done
# The order of names is the order of their UTF-16 code units.
expected_order=$'Zeta\nVTRInstaller.exe\nalpha\nß\nété.txt\n日本語.txt\n😀-emoji.txt\nＡ-fullwidth.txt'
actual_order=$(sed -n 's/^ *[0-9]*  //p' "$work/out-unicode/list-native" | grep -v entries || true)
sorted_expected=$(printf '%s\n' "$expected_order" | sort)
[ "$(printf '%s\n' "$actual_order" | sort)" = "$sorted_expected" ] || fail "unicode: names lost"
first_two=$(printf '%s\n' "$actual_order" | head -n 2 | tr '\n' ' ')
[ "$first_two" = "VTRInstaller.exe Zeta " ] || fail "unicode: not in code unit order: $first_two"
emoji_line=$(printf '%s\n' "$actual_order" | grep -n emoji | cut -d: -f1)
fullwidth_line=$(printf '%s\n' "$actual_order" | grep -n fullwidth | cut -d: -f1)
[ "$emoji_line" -lt "$fullwidth_line" ] || fail "unicode: a surrogate pair sorts after U+FF21"

# Progress: in a log a line at each quarter, on a terminal one live line.
quarters=$'Compressing: 25%\nCompressing: 50%\nCompressing: 75%\nCompressing: 100%'
log=$("$native" pack "$work/large" "$work/progress.zuk" 2>&1 >/dev/null)
[ "$log" = "$quarters" ] || fail "native progress in a log: $log"
log=$(win pack "$work/large" "$work/progress.zuk" 2>&1 >/dev/null | tr -d '\r')
[ "$log" = "$quarters" ] || fail "windows progress in a log: $log"
live=$(script -qec "\"$native\" pack \"$work/large\" \"$work/progress.zuk\" >/dev/null" /dev/null)
[ "$(grep -o $'\rCompressing: [0-9]*%' <<<"$live" | wc -l)" -gt 4 ] || fail "no live percentage on a terminal"
grep -q $'\rCompressing: 100%' <<<"$live" || fail "the live percentage does not end at 100 %"
[ "$(grep -c Compressing <<<"$live")" -eq 1 ] || fail "the live percentage takes more than one line"

# Refusals: a clear error, exit code 1, nothing at the output and no
# temporary file left beside it.
refuse() {
  local what=$1 expect=$2
  shift 2
  local before after message code=0
  before=$(ls "$work/refused" | sort)
  message=$("$@" 2>&1 >/dev/null) || code=$?
  after=$(ls "$work/refused" | sort)
  [ "$code" -eq 1 ] || fail "$what: exit code $code, not 1"
  grep -q -- "$expect" <<<"$message" || fail "$what: message \"$message\" lacks \"$expect\""
  [ "$(wc -l <<<"$message")" -eq 1 ] || fail "$what: more than one line: $message"
  [ "$before" = "$after" ] || fail "$what: left files at the output: $after"
}
mkdir -p "$work/refused" "$work/broken"
installer "$work/broken"
# Links are refused, naming the link, unless they are to be followed.
ln -s "$work/nowhere" "$work/broken/dangling.txt"
refuse "dangling link" "broken/dangling.txt: it is a symbolic link" \
  "$native" pack "$work/broken" "$work/refused/out.zuk"
refuse "dangling link followed" "cannot follow the link .*dangling.txt: No such file" \
  "$native" pack --follow-links "$work/broken" "$work/refused/out.zuk"
rm "$work/broken/dangling.txt"
printf 'secret' >"$work/outside.txt"
ln -s "$work/outside.txt" "$work/broken/inside.txt"
refuse "link to a file outside" "inside.txt: it is a symbolic link (pack follows links only with --follow-links)" \
  "$native" pack "$work/broken" "$work/refused/out.zuk"
"$native" pack --follow-links "$work/broken" "$work/followed.zuk" >/dev/null || fail "--follow-links: refused"
# (Output taken whole first: grep -q may leave before the writer is done.)
listing=$("$native" list "$work/followed.zuk")
grep -q '^ *6  inside.txt$' <<<"$listing" || fail "--follow-links: the link's file is not packed"
rm "$work/broken/inside.txt"
mkfifo "$work/broken/fifo"
refuse "FIFO" "fifo: it is not a regular file" "$native" pack "$work/broken" "$work/refused/out.zuk"
# (Wine lists a FIFO as a file; it opens as a pipe.)
refuse "FIFO (windows)" "fifo: it is not a regular file" win pack "$work/broken" "$work/refused/out.zuk"
rm "$work/broken/fifo"
printf 'x' >"$work/broken/$(printf 'bad\xff')"
refuse "name not UTF-8" "not UTF-8" "$native" pack "$work/broken" "$work/refused/out.zuk"
rm "$work/broken/$(printf 'bad\xff')"
mkdir "$work/broken/sub"
refuse "subfolder" "subfolder" "$native" pack "$work/broken" "$work/refused/out.zuk"
refuse "subfolder (windows)" "subfolder" win pack "$work/broken" "$work/refused/out.zuk"
rmdir "$work/broken/sub"
# Beyond the format's 4 GB (a sparse file: nothing is read).
truncate -s 4294967296 "$work/broken/huge.bin"
refuse "4 GB limit" "larger than 4 GB, the format's limit" "$native" pack "$work/broken" "$work/refused/out.zuk"
refuse "4 GB limit (windows)" "larger than 4 GB, the format's limit" win pack "$work/broken" "$work/refused/out.zuk"
rm "$work/broken/huge.bin"
# Mistakes caught before anything is compressed, naming the file.
refuse "folder that is a file" "$work/broken/VTRInstaller.exe is not a folder" \
  "$native" pack "$work/broken/VTRInstaller.exe" "$work/refused/out.zuk"
refuse "missing folder" "the folder $work/missing does not exist" \
  "$native" pack "$work/missing" "$work/refused/out.zuk"
refuse "output that is a folder" "the output $work/refused is a folder" \
  "$native" pack "$work/broken" "$work/refused"
refuse "output in the packed folder" "would lie in the folder" \
  "$native" pack "$work/broken" "$work/broken/../broken/out.zuk"
[ "$(ls "$work/broken")" = "VTRInstaller.exe" ] || fail "output in the packed folder: left $(ls "$work/broken")"
refuse "output where no folder is" "cannot create a file beside $work/missing/out.zuk: No such file or directory" \
  "$native" pack "$work/broken" "$work/missing/out.zuk"
printf 'not bzip2 at all' >"$work/broken.zuk"
refuse "not a payload" "$work/broken.zuk is not a payload: it is not a bzip2 stream" "$native" check "$work/broken.zuk"
refuse "swapped stamp arguments" "$launcher is not a payload: it is not a bzip2 stream" \
  "$native" stamp "$work/out-large/native-1.zuk" "$launcher" "$work/refused/setup.exe"
head -c 1000 "$work/out-large/native-1.zuk" >"$work/cut.zuk"
refuse "truncated payload" "$work/cut.zuk is damaged or cut short: Unable to find the end of compressed stream." \
  "$native" list "$work/cut.zuk"
printf 'plain text, no archive' | bzip2 -c >"$work/text.zuk"
refuse "no archive inside" "$work/text.zuk is not a payload: it expands to something other than a setup's archive" \
  "$native" check "$work/text.zuk"
refuse "bad thread count" "--threads takes a number from 1 to 16" "$native" pack --threads 0 "$work/broken" "$work/refused/out.zuk"
refuse "plural" '"check" takes 1 argument (' "$native" check
# A table that claims to be huge is not held in memory beyond 64 MB.
{
  printf 'QorZuravazevezu.Archive.ZUKA\0\377\377\377\377\001\0\0\0\377\377\377\177'
  head -c 70000000 /dev/zero
} | bzip2 -c >"$work/bogus.zuk"
refuse "bogus table" "table of entries is larger than 64 MB" "$native" check "$work/bogus.zuk"
# Entries whose data overlaps the header or each other.
make_archive=$root/payload/testdata/make_archive.sh
ARCHIVE_OFFSETS="0" "$make_archive" VTRInstaller.exe MZ | bzip2 -c >"$work/overlap-header.zuk"
refuse "entry inside the header" 'entry 0 "VTRInstaller.exe" begins inside the archive' \
  "$native" check "$work/overlap-header.zuk"
ARCHIVE_OFFSETS="99 100" "$make_archive" a abc VTRInstaller.exe MZ | bzip2 -c >"$work/overlap.zuk"
refuse "entries that overlap" 'entry 0 "a" and entry 1 "VTRInstaller.exe" overlap' "$native" check "$work/overlap.zuk"
# An existing output stays as it was when packing fails.
printf 'keep me' >"$work/refused/out.zuk"
mkdir "$work/broken/sub"
refuse "existing output" "subfolder" "$native" pack "$work/broken" "$work/refused/out.zuk"
[ "$(cat "$work/refused/out.zuk")" = "keep me" ] || fail "existing output: changed by a failed pack"
rmdir "$work/broken/sub"
grep -qx 'vtrpack [0-9]*\.[0-9]*\.[0-9]*' <<<"$("$native" --version)" || fail "--version"

# The names table: pack takes exactly the names the setup can write (those
# a Linux folder can hold), and check and list agree on every name in a
# payload made without pack. list shows every entry, one line each, its
# control characters escaped, and fails after the listing when a name is
# refused.
mkdir -p "$work/names"
while IFS=$'\t' read -r verdict escaped; do
  case "$verdict" in ok) want=0 ;; refused) want=1 ;; *) continue ;; esac
  printf -v name '%b' "$escaped"
  "$make_archive" VTRInstaller.exe MZ "$name" payload | bzip2 -c >"$work/names/payload.zuk"
  code=0
  "$native" check "$work/names/payload.zuk" >/dev/null 2>&1 || code=$?
  [ "$code" -eq "$want" ] || fail "names: check of \"$escaped\" exits $code, not $want"
  code=0
  "$native" list "$work/names/payload.zuk" >"$work/names/list" 2>/dev/null || code=$?
  [ "$code" -eq "$want" ] || fail "names: list of \"$escaped\" exits $code, not $want"
  [ "$(wc -l <"$work/names/list")" -eq 3 ] || fail "names: list of \"$escaped\" is not 3 lines"
  if LC_ALL=C grep -q "[[:cntrl:]]" "$work/names/list"; then
    fail "names: list of \"$escaped\" writes control characters"
  fi
  # (Names a Linux folder cannot hold as a file are left to check and list.)
  if [ -n "$name" ] && [ "$name" != . ] && [ "$name" != .. ] && [[ "$name" != */* ]] &&
    [ "$(printf '%s' "$name" | wc -c)" -le 255 ]; then
    rm -rf "$work/names/folder"
    mkdir "$work/names/folder"
    installer "$work/names/folder"
    printf 'payload' >"$work/names/folder/$name"
    code=0
    "$native" pack "$work/names/folder" "$work/names/packed.zuk" >/dev/null 2>&1 || code=$?
    [ "$code" -eq "$want" ] || fail "names: pack of \"$escaped\" exits $code, not $want"
  fi
done <"$root/payload/testdata/entry_names.txt"

# A stamped launcher is as executable as its base.
cp "$launcher" "$work/base.exe"
for mode in 755 644; do
  chmod "$mode" "$work/base.exe"
  "$native" stamp "$work/base.exe" "$work/out-large/native-1.zuk" "$work/stamped-$mode.exe" >/dev/null ||
    fail "stamp, mode $mode"
  [ "$(stat -c %a "$work/stamped-$mode.exe")" = "$(printf '%o' $((0$mode & ~0$(umask))))" ] ||
    fail "stamp: a base of mode $mode gave $(stat -c %a "$work/stamped-$mode.exe")"
done

# A signed copy of the launcher, of its own layout (PE32 or PE32+).
signed="$work/signed.exe"
layout=$(bash "$root/tests/support/signed_copy.sh" "$launcher" "$signed") || {
  fail "the launcher is of an unknown layout"
  layout=unknown
}

# Both tools stamp the launcher byte for byte alike: a large payload goes
# into a new last section, a small one where the launcher's resources are
# if it fits, a stamped launcher is stamped again in place, and signed ones
# lose their signature.
stamp_both() {
  local name=$1 base=$2 payload=$3 said
  shift 3 # branding options
  said=$("$native" stamp "$@" "$base" "$payload" "$work/$name-native.exe") || fail "$name: native stamp"
  win stamp "$@" "$base" "$payload" "$work/$name-windows.exe" >/dev/null || fail "$name: windows stamp"
  cmp -s "$work/$name-native.exe" "$work/$name-windows.exe" || fail "$name: the stamped programs differ"
  if [ "$base" = "$signed" ]; then
    grep -q "Dropped the signature of" <<<"$said" || fail "$name: the dropped signature is not said"
  fi
}
large="$work/out-large/native-1.zuk"
small="$work/out-empty-files/native-1.zuk"
stamp_both large "$launcher" "$large"
stamp_both small "$launcher" "$small"
stamp_both restamped "$work/large-native.exe" "$small"
stamp_both signed-large "$signed" "$large"
stamp_both signed-small "$signed" "$small"
branding=(--title "Contoso Widget Setup ✓" --icon "$icon" --version-info "ProductName=Contoso Widget"
  --version-info FileVersion=3.1.4.1 --version-info "LegalCopyright=© Contoso")
stamp_both branded "$launcher" "$small" "${branding[@]}"
stamp_both branded-large "$launcher" "$large" "${branding[@]}"
stamp_both rebranded "$work/branded-native.exe" "$small" --title Again --version-info ProductName=Again
cmp -s "$work/small-native.exe" "$work/branded-native.exe" && fail "branding changed nothing"
# The installer's silent switches: stamped alike, and listed and checked alike
# by both tools from the stamped setup.
stamp_both unattended "$launcher" "$small" --unattended-arguments '/S /D="C:\a b"'
for command in list check; do
  for tool in native windows; do
    if [ $tool = native ]; then
      said=$("$native" $command "$work/unattended-native.exe") || fail "native $command of a setup"
    else
      said=$(win $command "$work/unattended-native.exe" | tr -d '\r') || fail "windows $command of a setup"
    fi
    grep -qxF 'Unattended arguments: /S /D="C:\a b"' <<<"$said" ||
      fail "$tool $command shows no unattended arguments: $said"
  done
done
# The launcher's own title and icon change no byte.
"$native" stamp --title "Qor Veltrano Setup" --icon "$root/res/setup.ico" "$launcher" "$small" \
  "$work/own.exe" >/dev/null || fail "stamp with the launcher's own branding"
cmp -s "$work/small-native.exe" "$work/own.exe" || fail "the launcher's own branding changed bytes"

# Stamp's progress, as pack's: the payload's check, then the writing.
mkdir -p "$work/progress"
installer "$work/progress"
head -c 9000000 /dev/urandom >"$work/progress/noise.bin"
"$native" pack "$work/progress" "$work/progress.zuk" >/dev/null 2>&1 || fail "pack for stamp's progress"
stages=$'Expanding: 25%\nExpanding: 50%\nExpanding: 75%\nExpanding: 100%\nStamping: 25%\nStamping: 50%\nStamping: 75%\nStamping: 100%'
log=$("$native" stamp "$launcher" "$work/progress.zuk" "$work/progress.exe" 2>&1 >/dev/null)
[ "$log" = "$stages" ] || fail "native stamp's progress in a log: $log"
log=$(win stamp "$launcher" "$work/progress.zuk" "$work/progress.exe" 2>&1 >/dev/null | tr -d '\r')
[ "$log" = "$stages" ] || fail "windows stamp's progress in a log: $log"
live=$(script -qec "\"$native\" stamp \"$launcher\" \"$work/progress.zuk\" \"$work/progress.exe\" >/dev/null" /dev/null)
grep -q $'\rStamping: 100%' <<<"$live" || fail "no live percentage of stamping on a terminal"
[ "$(grep -c Stamping <<<"$live")" -eq 1 ] || fail "the live percentage of stamping takes more than one line"

# The temporary output is created once, new (never a file or link already
# there), written through that handle and moved into place: never opened
# again by its name.
if command -v strace >/dev/null; then
  strace -f -qq -e trace=open,openat,creat,truncate -o "$work/trace" \
    "$native" stamp "$launcher" "$small" "$work/traced.exe" >/dev/null || fail "traced stamp"
  opened=$(grep -c 'traced.exe.vtrpack-' "$work/trace" || true)
  [ "$opened" -eq 1 ] || fail "the temporary output was opened $opened times: $(cat "$work/trace")"
  grep 'traced.exe.vtrpack-' "$work/trace" | grep -q 'O_CREAT|O_EXCL|O_NOFOLLOW' ||
    fail "the temporary output was not created new"
  # The payload is opened once: the bytes checked are the bytes stamped,
  # however the file at that path is swapped meanwhile. So are the base and
  # the icon.
  strace -f -qq -e trace=open,openat,creat -o "$work/trace" \
    "$native" stamp --icon "$icon" "$launcher" "$small" "$work/traced.exe" >/dev/null || fail "traced stamp"
  for input in "$small" "$launcher" "$icon"; do
    opened=$(grep -cF "\"$input\"" "$work/trace" || true)
    [ "$opened" -eq 1 ] || fail "stamp opened $input $opened times: $(grep -F "$input" "$work/trace")"
  done
else
  fail "strace is missing (scripts/setup.sh installs it)"
fi

# A FIFO in place of any file that list, check or stamp read is refused at
# once, not waited for (nothing ever writes to it).
mkfifo "$work/fifo"
for tool in native windows; do
  run=("$native")
  [ "$tool" = windows ] && run=("$root/scripts/wine-run" --prefix "$prefix" "$windows")
  for args in "list $work/fifo" "check $work/fifo" "stamp $launcher $work/fifo $work/refused/setup.exe" \
    "stamp $work/fifo $small $work/refused/setup.exe" \
    "stamp --icon $work/fifo $launcher $small $work/refused/setup.exe"; do
    # shellcheck disable=SC2086
    refuse "FIFO: $args ($tool)" "$work/fifo: it is not a regular file" timeout 60 "${run[@]}" $args
  done
done
rm "$work/fifo"

# Every failure of the system while stamping names its file and says why,
# in both tools: a base or icon that is missing, an icon that is a folder,
# and an output on a disk that fills up (a tmpfs of 1 MB, smaller than the
# large payload; the tests run as root).
for tool in "$native" win; do
  # Each tool gives the system's own words (Wine's its own).
  missing='No such file or directory'
  [ "$tool" = win ] && missing='File not found'
  refuse "missing base ($tool)" "cannot open $work/missing.exe: $missing" \
    "$tool" stamp "$work/missing.exe" "$small" "$work/refused/setup.exe"
  refuse "missing icon ($tool)" "cannot open $work/missing.ico: $missing" \
    "$tool" stamp --icon "$work/missing.ico" "$launcher" "$small" "$work/refused/setup.exe"
done
refuse "icon that is a folder" "cannot read $work/broken: Is a directory" \
  "$native" stamp --icon "$work/broken" "$launcher" "$small" "$work/refused/setup.exe"
full="$work/full"
mkdir "$full"
if mount -t tmpfs -o size=1m tmpfs "$full" 2>/dev/null; then
  trap 'umount "$full"; rm -rf "$work"' EXIT
  for tool in "$native" win; do
    code=0
    message=$("$tool" stamp "$launcher" "$large" "$full/setup.exe" 2>&1 >/dev/null) || code=$?
    message=${message//$'\r'/}
    [ "$code" -eq 1 ] || fail "full disk ($tool): exit code $code, not 1"
    [ "$(wc -l <<<"$message")" -eq 1 ] || fail "full disk ($tool): more than one line: $message"
    # Wine words the reason its own way; the native tool's is strerror's.
    reason='No space left on device'
    [ "$tool" = win ] && reason='[^ ].*'
    grep -Eq "^vtrpack: cannot write $full/setup\.exe\.vtrpack-[0-9a-f]{16}\.tmp: $reason\$" \
      <<<"$message" || fail "full disk ($tool): \"$message\" does not name the file and the reason"
    [ -z "$(ls "$full")" ] || fail "full disk ($tool): left $(ls "$full")"
  done
  umount "$full"
  trap 'rm -rf "$work"' EXIT
else
  echo "skipped the full disk: this user cannot mount a small filesystem"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "native and Windows payloads agree, and so do the stamped $layout launchers"
