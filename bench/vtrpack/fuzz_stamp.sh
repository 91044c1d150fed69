#!/usr/bin/env bash
# fuzz_stamp.sh [BUILD_DIR] [SECONDS]
#
# Fuzzes the stamp for longer than the test suite does (10 minutes unless
# SECONDS says otherwise), from the build's launcher and vtrpack.exe. The
# inputs found are kept in BUILD_DIR/stamp-fuzz/corpus, so that each run goes
# on from the last; a fault's input lands in BUILD_DIR/stamp-fuzz/stamp-fuzz-faults.
# BUILD_DIR is build/ (32-bit) by default; the fuzz target itself is built
# for the build machine with clang by every build.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
seconds=${2:-600}
fuzzer=$build/host-stamp-fuzz/stamp_fuzz
if [ ! -x "$fuzzer" ]; then
  echo "fuzz_stamp: no $fuzzer; build first (it needs clang, which scripts/setup.sh installs)" >&2
  exit 1
fi
exec bash "$root/tools/vtrpack/setup_image/fuzz/run_fuzz.sh" "$fuzzer" "$seconds" "$build/stamp-fuzz/corpus" \
  "$build/setup/VeltranoSetupBase.exe" "$build/tools/vtrpack/vtrpack.exe"
