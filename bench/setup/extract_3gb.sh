#!/usr/bin/env bash
# End-to-end extraction of a payload that expands to 3 GB (zeros, so it
# builds quickly) by the 32-bit launcher: the installer must start with every
# file complete. Too long and too large for ctest. Run from the repository
# after a build:
#   bash bench/setup/extract_3gb.sh [MEGABYTES]
set -euo pipefail
cd "$(dirname "$0")/../.."
megabytes=${1:-3000}
exec scripts/wine-run --prefix build/wineprefix build/bench/setup/setup_bench.exe --zeros "$megabytes"
