#!/usr/bin/env bash
# compare_stamps.sh [--prefix WINEPREFIX] [--small-only] OLD NEW ICON BASE...
#
# Whether two builds of vtrpack stamp alike: stamps every BASE, and a signed
# copy of each Windows program among them, with the vtrpack OLD and the
# vtrpack NEW, with a small and a large payload and each of stamp's options
# (none, --title, --icon, --version-info, --unattended-arguments, all of
# them), and compares the stamped programs byte for byte. A base that one
# refuses, the other must refuse with the same exit code and message. OLD
# and NEW are native programs, or Windows ones (*.exe) run under
# scripts/wine-run in WINEPREFIX. --small-only leaves out the large payload
# (quicker for many bases that are refused). Prints one line per base, then
# the totals; exits 1 on any difference.
#
#   bench/vtrpack/compare_stamps.sh /tmp/old/vtrpack build/host-vtrpack/vtrpack \
#     res/setup.ico build/setup/VeltranoSetupBase.exe build64/setup/VeltranoSetupBase.exe
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=""
payloads=(small large)
while [ $# -gt 0 ]; do
  case $1 in
    --prefix) prefix=$2 && shift 2 ;;
    --small-only) payloads=(small) && shift ;;
    *) break ;;
  esac
done
old=$1
new=$2
icon=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {
  local tool=$1
  shift
  case $tool in
    *.exe) "$root/scripts/wine-run" --prefix "$prefix" "$tool" "$@" ;;
    *) "$tool" "$@" ;;
  esac
}

# The payloads, packed once by OLD: a few small files, and 3 MB that do not
# compress (more than one piece of the copy, and more than a launcher's
# resources have room for).
mkdir -p "$work/small" "$work/large"
printf 'installer' >"$work/small/VTRInstaller.exe"
printf 'read me' >"$work/small/readme.txt"
head -c $((3 << 20)) /dev/urandom >"$work/large/VTRInstaller.exe"
for size in small large; do
  run "$old" pack "$work/$size" "$work/$size.zuk" >/dev/null
done

# Each option set on one line, its words split at "|".
option_sets=(
  ""
  "--title|Compared Setup"
  "--icon|$icon"
  "--version-info|CompanyName=Qor|--version-info|ProductVersion=2.3.4.5|--version-info|FileDescription=Compared"
  "--unattended-arguments|/S /norestart"
  "--title|Compared Setup|--icon|$icon|--version-info|ProductName=Compared|--unattended-arguments|/quiet"
)

# Both stamp into the same name, so that their messages may name it.
stamp_with() {
  local tool=$1 base=$2 payload=$3 result=$4
  shift 4
  local code=0
  rm -f "$work/out.exe"
  run "$tool" stamp "$@" "$base" "$payload" "$work/out.exe" >"$work/said" 2>&1 || code=$?
  { echo "exit $code"; tr -d '\r' <"$work/said"; } >"$result.said"
  if [ -f "$work/out.exe" ]; then
    mv "$work/out.exe" "$result.exe"
  else
    rm -f "$result.exe"
  fi
}

bases=()
for base in "$@"; do
  bases+=("$base")
  signed="$work/signed-$(basename "$base")"
  if bash "$root/tests/support/signed_copy.sh" "$base" "$signed" >/dev/null 2>&1; then
    bases+=("$signed")
  fi
done

same=0 refused=0 differ=0
for base in "${bases[@]}"; do
  base_same=0 base_refused=0 base_differ=0
  for payload in "${payloads[@]}"; do
    for set in "${option_sets[@]}"; do
      options=()
      [ -z "$set" ] || IFS='|' read -r -a options <<<"$set"
      stamp_with "$old" "$base" "$work/$payload.zuk" "$work/old" ${options[@]+"${options[@]}"}
      stamp_with "$new" "$base" "$work/$payload.zuk" "$work/new" ${options[@]+"${options[@]}"}
      if ! cmp -s "$work/old.said" "$work/new.said"; then
        base_differ=$((base_differ + 1))
        echo "DIFFERENT: $base, $payload payload, options '$set': the tools said" >&2
        diff "$work/old.said" "$work/new.said" >&2 || true
      elif [ -f "$work/old.exe" ] && [ -f "$work/new.exe" ]; then
        if cmp -s "$work/old.exe" "$work/new.exe"; then
          base_same=$((base_same + 1))
        else
          base_differ=$((base_differ + 1))
          echo "DIFFERENT: $base, $payload payload, options '$set': the stamped programs" >&2
        fi
      elif [ -f "$work/old.exe" ] || [ -f "$work/new.exe" ]; then
        base_differ=$((base_differ + 1))
        echo "DIFFERENT: $base, $payload payload, options '$set': only one wrote a program" >&2
      else
        base_refused=$((base_refused + 1))
      fi
    done
  done
  echo "$(basename "$base"): $base_same stamps identical, $base_refused refused alike, $base_differ different"
  same=$((same + base_same)) refused=$((refused + base_refused)) differ=$((differ + base_differ))
done
echo "${#bases[@]} bases: $same stamps identical byte for byte, $refused refused alike, $differ different"
[ "$differ" -eq 0 ]
