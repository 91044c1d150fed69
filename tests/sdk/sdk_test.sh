#!/usr/bin/env bash
# The SDK as a packager gets it: installs both build folders into a scratch
# prefix, makes the .deb and the zip with cpack and checks what they hold
# (lintian passes the .deb without errors), unpacks the .deb into a scratch
# root, then builds a branded, signed setup of each flavour with the
# external project tests/sdk/consumer against each of the two, with no
# compiler and no Wine, and runs one end to end under Wine. The same
# project gives the same setups from both; it packs again when a file of
# the product folder changes, appears or goes away, and does nothing when
# nothing changed. Options name the build folders and the programs (see
# tests/sdk/CMakeLists.txt).
set -euo pipefail
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2 ;;
    --sibling) sibling=$2 ;;
    --consumer) consumer=$2 ;;
    --version) version=$2 ;;
    --wine-run) wine_run=$2 ;;
    --prefix) wine_prefix=$2 ;;
    --e2e) e2e=$2 ;;
    --installer) installer=$2 ;;
    --icon) icon=$2 ;;
    --bundle) bundle=$2 ;;
    --password) password=$2 ;;
    --certificate) certificate=$2 ;;
    --work) work=$2 ;;
    *) echo "sdk_test.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
fail() { echo "FAILED: $*" >&2; exit 1; }
step() { echo "== $*"; }
windows() { local p="Z:$1"; echo "${p//\//\\}"; }
if [ -z "$sibling" ] || [ ! -f "$sibling/setup/VeltranoSetupBase.exe" ]; then
  echo "skipped: the 32-bit build folder (VELTRANO_SDK_SIBLING_BUILD: \"$sibling\") is not built"
  exit 0
fi

rm -rf "$work"
mkdir -p "$work"
cd "$work"

# What every form of the SDK holds, relative to its prefix.
common=(
  share/veltrano/x86/VeltranoSetupBase.exe share/veltrano/x64/VeltranoSetupBase.exe
  share/veltrano/windows/vtrpack.exe share/veltrano/windows/vtrdiag.exe
  lib/cmake/Veltrano/VeltranoConfig.cmake lib/cmake/Veltrano/VeltranoConfigVersion.cmake
  lib/cmake/Veltrano/VeltranoAddSetup.cmake lib/cmake/Veltrano/VeltranoPayloadDepfile.cmake
  lib/cmake/Veltrano/VeltranoSign.cmake)
native=(bin/vtrpack share/man/man1/vtrpack.1.gz share/doc/veltrano-sdk/copyright
  share/doc/veltrano-sdk/changelog.gz)
holds() { # LISTING PREFIX PATH...: the listing names each PATH under PREFIX
  local listing=$1 prefix=$2 path
  shift 2
  for path in "$@"; do
    grep -Eq "(^| |\./)$prefix$path\$" "$listing" || { cat "$listing"; fail "$listing lacks $prefix$path"; }
  done
}

step "install tree"
for tree in "$sibling" "$build"; do
  cmake --install "$tree" --prefix "$work/prefix" >install.log 2>&1 || { cat install.log; fail "cmake --install $tree"; }
done
(cd prefix && find . -type f | sort) >prefix.txt
holds prefix.txt "" "${common[@]}" "${native[@]}"
cmp prefix/share/veltrano/x86/VeltranoSetupBase.exe "$sibling/setup/VeltranoSetupBase.exe"
cmp prefix/share/veltrano/x64/VeltranoSetupBase.exe "$build/setup/VeltranoSetupBase.exe"
[ "$(prefix/bin/vtrpack --version)" = "vtrpack $version" ] || fail "vtrpack --version: $(prefix/bin/vtrpack --version)"
for arch in x86 x64; do
  strings -a -el "prefix/share/veltrano/$arch/VeltranoSetupBase.exe" | grep -x "$version" >/dev/null ||
    fail "the $arch launcher's version resource does not carry $version"
done

step "packages"
for generator in DEB ZIP; do
  cpack --config "$build/CPackConfig.cmake" -G $generator -B "$work/packages" >cpack-$generator.log 2>&1 ||
    { cat cpack-$generator.log; fail "cpack -G $generator"; }
done
deb=packages/veltrano-sdk_${version}_amd64.deb
zip=packages/veltrano-sdk-${version}-windows.zip
[ -f "$deb" ] || { ls packages; fail "no $deb"; }
[ -f "$zip" ] || { ls packages; fail "no $zip"; }
dpkg-deb -c "$deb" >deb.txt
holds deb.txt usr/ "${common[@]}" "${native[@]}"
dpkg-deb -f "$deb" Version Depends Recommends >control.txt
grep -qx "Version: $version" control.txt || { cat control.txt; fail "the package's version"; }
grep -Eq '^Depends: .*libc6' control.txt || { cat control.txt; fail "the package does not depend on libc6"; }
grep -qx 'Recommends: osslsigncode' control.txt || { cat control.txt; fail "osslsigncode is not recommended"; }
if grep -q '^Depends: .*osslsigncode' control.txt; then fail "osslsigncode is a dependency"; fi
if ! lintian --fail-on error "$deb" >lintian.txt 2>&1; then
  cat lintian.txt
  fail "lintian finds errors in $deb"
fi
cat lintian.txt
cmake -E tar tf "$zip" >zip.txt
holds zip.txt "veltrano-sdk-${version}-windows/" "${common[@]}"
if grep -Eq '/(bin/vtrpack|share/man/)' zip.txt; then cat zip.txt; fail "the zip holds the native tool"; fi
dpkg -x "$deb" root
echo "the .deb, the zip and the install tree hold the SDK"

# The product's files: what the end-to-end test expects the setup to extract.
mkdir files
cp "$installer" files/VTRInstaller.exe
echo "Contoso Widget" >files/readme.txt
echo "Licensed to you" >files/license.txt
head -c 300000 /dev/urandom | base64 >files/sample-data.txt

consume() { # NAME PREFIX: configures and builds the external project against PREFIX
  local name=$1 sdk=$2
  SOURCE_DATE_EPOCH=1700000000 cmake -S "$consumer" -B "$name" -G Ninja -DCMAKE_PREFIX_PATH="$sdk" \
    -DCONTOSO_FILES="$work/files" -DCONTOSO_ICON="$icon" -DCONTOSO_SIGNING_BUNDLE="$bundle" \
    -DCONTOSO_SIGNING_PASSWORD="$password" >"$name-configure.log" 2>&1 ||
    { cat "$name-configure.log"; fail "the external project does not configure against $sdk"; }
  grep -qx "$version" "$name/veltrano-version.txt" || fail "find_package(Veltrano) found another version"
  grep -q "Veltrano_DIR:PATH=$sdk/lib/cmake/Veltrano" "$name/CMakeCache.txt" ||
    fail "the external project found another Veltrano SDK"
  if grep -qi mingw "$name/CMakeCache.txt" "$name/build.ninja"; then fail "the external project uses MinGW"; fi
  cmake --build "$name" >"$name-build.log" 2>&1 || { cat "$name-build.log"; fail "the external project does not build"; }
}

step "the external project against the .deb"
consume from-deb "$work/root/usr"
for arch in x86 x64; do
  setup=from-deb/ContosoWidgetSetup-$arch.exe
  osslsigncode verify -CAfile "$certificate" -in "$setup" >verify.txt 2>&1 ||
    { cat verify.txt; fail "$setup does not verify"; }
  strings -a -el "$setup" >strings.txt
  for text in "Contoso Widget Setup" "Contoso Widget" "2.5.17"; do
    grep -qx "$text" strings.txt || fail "$setup lacks \"$text\""
  done
  root/usr/bin/vtrpack list "from-deb/ContosoWidgetSetup-$arch.zuk" >list.txt
  grep -q 'sample-data.txt' list.txt || { cat list.txt; fail "the payload lacks the product's files"; }
done
objdump -f from-deb/ContosoWidgetSetup-x64.exe | grep 'pei-x86-64' >/dev/null || fail "the x64 setup is not a 64-bit program"
objdump -f from-deb/ContosoWidgetSetup-x86.exe | grep 'pei-i386' >/dev/null || fail "the x86 setup is not a 32-bit program"
echo "branded and signed setups of both flavours"

VELTRANO_E2E_SETUP_EXE=$(windows "$work/from-deb/ContosoWidgetSetup-x64.exe") \
  "$wine_run" --prefix "$wine_prefix" "$e2e" --gtest_filter=E2eTest.InstallerRunsInTheTargetFolderWithItsBareName \
  >e2e.txt 2>&1 || { cat e2e.txt; fail "the setup did not run end to end"; }
grep -q '\[  PASSED  \] 1 test' e2e.txt || { cat e2e.txt; fail "the end-to-end test did not run"; }
echo "the setup ran end to end"

step "the external project against the install tree"
consume from-prefix "$work/prefix"
for arch in x86 x64; do
  cmp "from-deb/ContosoWidgetSetup-$arch.exe" "from-prefix/ContosoWidgetSetup-$arch.exe" ||
    fail "the .deb and the install tree give different $arch setups"
done
echo "the same setups from the .deb and the install tree"

step "rebuilds"
rebuild() { cmake --build from-prefix >rebuild.log 2>&1 || { cat rebuild.log; fail "the rebuild failed"; }; }
setup=from-prefix/ContosoWidgetSetup-x64.exe
rebuild
grep -q 'no work to do' rebuild.log || { cat rebuild.log; fail "a build with nothing changed did work"; }
cp "$setup" before.exe
echo "changed" >>from-prefix/product/readme.txt
rebuild
grep -q 'Packing' rebuild.log || { cat rebuild.log; fail "a changed file was not packed again"; }
if cmp -s before.exe "$setup"; then fail "a changed file left the setup as it was"; fi
echo "new" >from-prefix/product/extra.txt
rebuild
prefix/bin/vtrpack list from-prefix/ContosoWidgetSetup-x64.zuk >list.txt
grep -q 'extra.txt' list.txt || { cat list.txt; fail "a new file was not packed"; }
rm from-prefix/product/extra.txt
rebuild
prefix/bin/vtrpack list from-prefix/ContosoWidgetSetup-x64.zuk >list.txt
if grep -q 'extra.txt' list.txt; then cat list.txt; fail "a removed file stayed in the payload"; fi
osslsigncode verify -CAfile "$certificate" -in "$setup" >/dev/null 2>&1 || fail "the rebuilt setup is not signed"
echo "packed again on a changed, a new and a removed file"
cd /
rm -rf "$work"
