#!/usr/bin/env bash
# Builds the Veltrano SDK from source: installs what is missing, builds both
# flavours (32-bit in build/, 64-bit in build64/) and makes the packages in
# build64/packages/: veltrano-sdk_<version>_amd64.deb (the whole SDK) and
# veltrano-sdk-<version>-windows.zip (for Windows build machines).
#
#   scripts/sdk.sh [--prefix DIR]
#
# With --prefix, the SDK is also installed into DIR as a tree (DIR/bin/vtrpack,
# DIR/share/veltrano/, DIR/lib/cmake/Veltrano/, ...).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
prefix=""
while [ $# -gt 0 ]; do
  case $1 in
    --prefix) prefix=$(realpath -m "$2"); shift 2 ;;
    *) echo "usage: scripts/sdk.sh [--prefix DIR]" >&2; exit 2 ;;
  esac
done
say() { printf 'sdk: %s\n' "$*"; }

bash scripts/setup.sh
for preset in mingw-release mingw64-release; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j"$(nproc)"
done
# The 64-bit build folder's cpack takes the 32-bit launcher and the Windows
# tools from build/ (VELTRANO_SDK_SIBLING_BUILD, set by the presets).
(cd build64 && cpack -G DEB && cpack -G ZIP)
say "packages: $(ls build64/packages/*.deb build64/packages/*.zip | tr '\n' ' ')"
if [ -n "$prefix" ]; then
  cmake --install build --prefix "$prefix" >/dev/null
  cmake --install build64 --prefix "$prefix" >/dev/null
  say "installed into $prefix"
fi
