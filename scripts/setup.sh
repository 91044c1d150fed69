#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root.
# Fast when everything is already present: each step checks first.
set -euo pipefail

DEPS_DIR=${VELTRANO_DEPS_DIR:-/opt/veltrano-deps}
export DEBIAN_FRONTEND=noninteractive

log() { printf 'setup: %s\n' "$*"; }

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: run as root (it installs Debian packages)" >&2
  exit 1
fi

# Both flavours are built everywhere; 32-bit Wine only where the host can run
# 32-bit programs at all (scripts/host-runs tries one).
runs32=0
"$(dirname "$0")/host-runs" 32 && runs32=1

packages=(
  cmake make ninja-build git
  gcc-mingw-w64-i686-win32 g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
  gcc-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  wine wine64 xvfb x11-utils imagemagick
  libboost1.81-dev googletest
  # the native vtrpack (system compiler), its tests and benchmarks
  g++ bzip2 time strace
  # the fuzz targets of the stamp and of the archive table reader (libFuzzer)
  clang libclang-rt-14-dev
  openssl osslsigncode
)

if [ "$runs32" -eq 1 ]; then
  packages+=(wine32:i386)
fi

missing=()
have_i386=1
if [ "$runs32" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  have_i386=0
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

src_list=/etc/apt/sources.list.d/veltrano-deb-src.sources
need_src=0
[ -f "$DEPS_DIR/bzip2/.ready" ] || need_src=1

if [ "$have_i386" -eq 0 ]; then
  log "adding the i386 architecture"
  dpkg --add-architecture i386
fi
if [ "$need_src" -eq 1 ] && [ ! -f "$src_list" ]; then
  log "adding deb-src entries"
  cat >"$src_list" <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

if [ "${#missing[@]}" -gt 0 ] || [ "$have_i386" -eq 0 ] || [ "$need_src" -eq 1 ]; then
  log "apt-get update"
  apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  log "installing: ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$need_src" -eq 1 ]; then
  log "fetching the bzip2 source package"
  rm -rf "$DEPS_DIR/bzip2" "$DEPS_DIR/bzip2-dl"
  mkdir -p "$DEPS_DIR/bzip2-dl"
  (cd "$DEPS_DIR/bzip2-dl" && apt-get source --download-only -qq bzip2)
  orig=$(ls "$DEPS_DIR"/bzip2-dl/bzip2_*.orig.tar.* | head -n 1)
  mkdir -p "$DEPS_DIR/bzip2"
  tar -xf "$orig" -C "$DEPS_DIR/bzip2" --strip-components=1
  rm -rf "$DEPS_DIR/bzip2-dl"
  touch "$DEPS_DIR/bzip2/.ready"
fi

log "ready (bzip2 source in $DEPS_DIR/bzip2, googletest in /usr/src/googletest)"
