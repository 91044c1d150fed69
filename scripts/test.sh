#!/usr/bin/env bash
# Installs what is missing, builds everything for Windows and runs all tests
# under Wine. Extra arguments go to ctest (for example -R payload).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
cmake --preset mingw-release >/dev/null
cmake --build --preset mingw-release -- -j"$(nproc)"

prefix="$root/build/wineprefix"
trap 'scripts/wine-run --prefix "$prefix" --stop' EXIT
ctest --preset mingw-release -j"$(nproc)" "$@"
