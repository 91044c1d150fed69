#!/usr/bin/env bash
# branded_setup.sh NATIVE_VTRPACK BASE_EXE PAYLOAD BUILT_EXE STAMP_OPTIONS...
#
# The branded setup that veltrano_setup built is, byte for byte, the
# payload-less launcher stamped by hand with its payload and the branding
# options, and not the launcher stamped without them.
set -euo pipefail
vtrpack=$1
base=$2
payload=$3
built=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$vtrpack" stamp "$@" "$base" "$payload" "$work/branded.exe" >/dev/null
"$vtrpack" stamp "$base" "$payload" "$work/plain.exe" >/dev/null
cmp -s "$built" "$work/branded.exe" || { echo "FAILED: the build's branded setup differs" >&2; exit 1; }
if cmp -s "$built" "$work/plain.exe"; then
  echo "FAILED: the build's setup carries no branding" >&2
  exit 1
fi
echo "the build's branded setup is the one stamped by hand"
