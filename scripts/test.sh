#!/usr/bin/env bash
# Installs what is missing, builds both flavours for Windows (32-bit in build/,
# 64-bit in build64/) and runs their tests under Wine. Extra arguments go to
# every ctest run (for example -R payload).
#
# A host whose kernel cannot run 32-bit programs (no IA32 emulation) runs the
# 32-bit suite under qemu's user-mode emulator, which scripts/setup.sh
# installs and registers there. Only where that cannot be done does the
# 32-bit flavour get just its checks that run none of its programs (import
# tables, size, layers, reproducibility); the last line then names the cause.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

say() { printf 'test: %s\n' "$*"; }
elapsed() { echo "$((SECONDS - $1)) s"; }

if ! scripts/host-runs 64; then
  echo "test: this host cannot run x86-64 programs, so Wine cannot run the" \
    "Windows programs; use an x86-64 Linux host" >&2
  exit 1
fi
start=$SECONDS
bash scripts/setup.sh
say "set-up took $(elapsed "$start")"

runs32=1
scripts/host-runs 32 || runs32=0
how() { if scripts/host-runs "$1" --native; then echo natively; else echo "under emulation (qemu-i386)"; fi; }
if [ "$runs32" -eq 1 ]; then
  say "the 32-bit flavour runs $(how 32), the 64-bit flavour $(how 64)"
fi

for preset in mingw-release mingw64-release; do
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j"$(nproc)"
  say "built $preset in $(elapsed "$start")"
done

stop_wine() {
  scripts/wine-run --prefix "$root/build/wineprefix" --arch win32 --stop
  scripts/wine-run --prefix "$root/build64/wineprefix" --arch win64 --stop
}
trap stop_wine EXIT

status=0
start=$SECONDS
if [ "$runs32" -eq 1 ]; then
  ctest --preset mingw-release -j"$(nproc)" "$@" || status=1
else
  ctest --preset mingw-release -j"$(nproc)" -L static "$@" || status=1
fi
say "32-bit tests ran in $(elapsed "$start")$([ "$runs32" -eq 1 ] || echo ' (static checks only)')"
start=$SECONDS
ctest --preset mingw64-release -j"$(nproc)" "$@" || status=1
say "64-bit tests ran in $(elapsed "$start")"

if [ "$runs32" -eq 0 ]; then
  why=$(cat "${VELTRANO_DEPS_DIR:-/opt/veltrano-deps}/ia32-emulation.why" 2>/dev/null || true)
  left=$(ctest --preset mingw-release -N -LE static "$@" | sed -n 's/^Total Tests: //p')
  say "not run: ${left:-the} 32-bit tests that start the 32-bit programs, since this host" \
    "cannot run 32-bit programs (no IA32 emulation, and no emulator: ${why:-see the output of scripts/setup.sh});" \
    "their static checks ran"
fi
say "all done in $(elapsed 0)"
exit "$status"
