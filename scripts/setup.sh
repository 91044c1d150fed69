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

here=$(cd "$(dirname "$0")" && pwd)

# Both flavours are built and tested everywhere. A kernel without IA32
# emulation runs no 32-bit program, 32-bit Wine included; there the 32-bit
# programs run under qemu's user-mode emulator, registered with binfmt_misc
# for i386 programs. Debian 12's own qemu (7.2) cannot run Wine (it ignores
# MAP_FIXED_NOREPLACE, and Wine stops with "failed to map the shared user
# data"), so qemu-i386 comes from bookworm-backports' qemu-user package, whose
# programs are static: only that one file is taken, into a folder of ours,
# and backports never becomes a source for anything else. When a step cannot
# be done, one line says why (kept in $emulation_why for scripts/test.sh) and
# the 32-bit flavour gets its static checks only.
qemu_dir=$DEPS_DIR/qemu
qemu=$qemu_dir/qemu-i386
emulation_why=$DEPS_DIR/ia32-emulation.why
binfmt=/proc/sys/fs/binfmt_misc
binfmt_entry=$binfmt/veltrano-i386

fetch_qemu() {
  local apt_dir=$qemu_dir/apt deb
  local -a apt_opts=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/none"
    -o "Dir::Etc::Preferences=$apt_dir/none" -o "Dir::Etc::PreferencesParts=$apt_dir/none"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::State::Status=$apt_dir/status"
    -o "Dir::Cache=$apt_dir/cache" -o "APT::Sandbox::User=root"
  )
  rm -rf "$apt_dir"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/none" "$apt_dir/deb"
  echo "deb http://deb.debian.org/debian bookworm-backports main" >"$apt_dir/sources.list"
  : >"$apt_dir/status"
  apt-get "${apt_opts[@]}" update -qq >/dev/null 2>&1 || return 1
  (cd "$apt_dir/deb" && apt-get "${apt_opts[@]}" download -qq qemu-user >/dev/null 2>&1) || return 1
  deb=$(ls "$apt_dir"/deb/qemu-user_*.deb 2>/dev/null | head -n 1)
  [ -n "$deb" ] || return 1
  dpkg-deb --fsys-tarfile "$deb" | tar -x -O ./usr/bin/qemu-i386 >"$qemu.new" || return 1
  chmod 755 "$qemu.new" && "$qemu.new" --version >/dev/null 2>&1 || return 1
  mv "$qemu.new" "$qemu"
  rm -rf "$apt_dir"
}

# Registers $qemu for i386 programs: (O)pen the program for the emulator,
# keep the (P)rogram's own name as argv[0], and open the emulator (F)ixed at
# registration, so that it works inside any mount namespace or chroot.
register_qemu() {
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  if [ -e "$binfmt_entry" ]; then
    grep -qx "interpreter $qemu" "$binfmt_entry" && grep -qx enabled "$binfmt_entry" && return 0
    echo -1 >"$binfmt_entry" || return 1
  fi
  printf ':veltrano-i386:M::%s:%s:%s:OPF' "$magic" "$mask" "$qemu" >"$binfmt/register"
}

set_up_emulation() {
  if [ ! -x "$qemu" ]; then
    log "fetching qemu-i386 from bookworm-backports' qemu-user into $qemu_dir"
    mkdir -p "$qemu_dir"
    if ! fetch_qemu; then
      echo "bookworm-backports' qemu-user package could not be had" >"$emulation_why"
      return 1
    fi
  fi
  if [ ! -e "$binfmt/register" ] && ! mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
    echo "binfmt_misc is not available (it cannot be mounted here)" >"$emulation_why"
    return 1
  fi
  if ! register_qemu 2>/dev/null; then
    echo "binfmt_misc does not take an entry for qemu-i386" >"$emulation_why"
    return 1
  fi
  if ! "$here/host-runs" 32; then
    echo "qemu-i386 is registered but runs no 32-bit program" >"$emulation_why"
    return 1
  fi
  log "32-bit programs run under emulation ($("$qemu" --version | head -n 1))"
}

runs32=0
if "$here/host-runs" 32 && [ ! -e "$binfmt_entry" ]; then
  runs32=1
elif set_up_emulation; then
  runs32=1
  rm -f "$emulation_why"
else
  log "cannot run 32-bit programs here: $(cat "$emulation_why"); the 32-bit flavour gets its static checks only"
fi

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
  # the SDK's packages: cpack's dependency scan (dpkg-shlibdeps, file) and lintian
  dpkg-dev file lintian
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
[ -f "$DEPS_DIR/divsufsort/.ready" ] || need_src=1

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

# fetch_source PACKAGE DIR: the upstream sources of a Debian source package
# (for the Windows build, compiled with the cross compilers) into
# $DEPS_DIR/DIR.
fetch_source() {
  local package=$1 dir=$2 orig
  [ -f "$DEPS_DIR/$dir/.ready" ] && return 0
  log "fetching the $package source package"
  rm -rf "${DEPS_DIR:?}/$dir" "$DEPS_DIR/$dir-dl"
  mkdir -p "$DEPS_DIR/$dir-dl"
  (cd "$DEPS_DIR/$dir-dl" && apt-get source --download-only -qq "$package")
  orig=$(ls "$DEPS_DIR/$dir-dl/${package}"_*.orig.tar.* | head -n 1)
  mkdir -p "$DEPS_DIR/$dir"
  tar -xf "$orig" -C "$DEPS_DIR/$dir" --strip-components=1
  rm -rf "$DEPS_DIR/$dir-dl"
  touch "$DEPS_DIR/$dir/.ready"
}

if [ "$need_src" -eq 1 ]; then
  fetch_source bzip2 bzip2
  # the encoder's block sort
  fetch_source libdivsufsort divsufsort
fi

log "ready (bzip2 and libdivsufsort sources in $DEPS_DIR, googletest in /usr/src/googletest)"
