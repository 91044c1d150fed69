#!/usr/bin/env bash
# Runs the full-disk end-to-end test with the setup's temporary folder on a
# 2 MB RAM disk mapped to drive T: of the Wine prefix. Needs root for the
# mount; exits 77 (skipped) where mounting is not permitted.
#   full_disk.sh WINE_RUN PREFIX TEST_PROGRAM
set -u
wine_run=$1 prefix=$2 program=$3
disk=$(mktemp -d "${TMPDIR:-/tmp}/veltrano-small-disk.XXXXXX")
if ! mount -t tmpfs -o size=2m veltrano-small-disk "$disk" 2>/dev/null; then
  rmdir "$disk"
  echo "skipped: mounting a small RAM disk is not permitted here"
  exit 77
fi
"$wine_run" --prefix "$prefix" cmd /c exit 0 >/dev/null 2>&1 # the prefix exists
link="$prefix/dosdevices/t:"
ln -sfn "$disk" "$link"
VELTRANO_E2E_SMALL_TEMP='T:\' "$wine_run" --prefix "$prefix" "$program" \
  --gtest_filter='*FullDisk*' 2>&1
status=$?
rm -f "$link"
umount "$disk" && rmdir "$disk"
exit $status
