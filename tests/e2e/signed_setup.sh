#!/usr/bin/env bash
# Stamps the build's payload into the payload-less launcher with the native
# vtrpack, as a packager does, signs the result with the build's throwaway
# certificate, verifies the signature, runs the signed setup end to end under
# Wine, then checks that stamping a signed setup drops its signature (and
# says so) and that it can be signed again. Options name the tools and
# programs (see tests/e2e/CMakeLists.txt).
set -euo pipefail
while [ $# -gt 0 ]; do
  case $1 in
    --wine-run) wine_run=$2 ;;
    --prefix) prefix=$2 ;;
    --base) base=$2 ;;
    --native-vtrpack) native_vtrpack=$2 ;;
    --payload) payload=$2 ;;
    --vtrpack) vtrpack=$2 ;;
    --e2e) e2e=$2 ;;
    --sign-script) sign_script=$2 ;;
    --certificate) certificate=$2 ;;
    --key) key=$2 ;;
    --objdump) objdump=$2 ;;
    --work) work=$2 ;;
    *) echo "signed_setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
fail() { echo "FAILED: $*" >&2; exit 1; }
windows() { local p="Z:$1"; echo "${p//\//\\}"; }
run() { "$wine_run" --prefix "$prefix" "$@"; }

rm -rf "$work"
mkdir -p "$work"
cd "$work"
"$native_vtrpack" stamp "$base" "$payload" stamped.exe >native-stamp.txt 2>&1 ||
  { cat native-stamp.txt; fail "the native vtrpack could not stamp the launcher"; }
cmake -DPROGRAM="$work/stamped.exe" -DOUTPUT="$work/signed.exe" -DCERTIFICATE="$certificate" -DKEY="$key" \
  -DDESCRIPTION="Veltrano Setup" -P "$sign_script"
osslsigncode verify -CAfile "$certificate" -in signed.exe >verify.txt 2>&1 ||
  { cat verify.txt; fail "the signed setup does not verify"; }
echo "signed and verified"

VELTRANO_E2E_SETUP_EXE=$(windows "$work/signed.exe") \
  run "$e2e" --gtest_filter=E2eTest.InstallerRunsInTheTargetFolderWithItsBareName >e2e.txt 2>&1 ||
  { cat e2e.txt; fail "the signed setup did not run end to end"; }
grep -q '\[  PASSED  \] 1 test' e2e.txt || { cat e2e.txt; fail "the end-to-end test did not run"; }
echo "the signed setup ran end to end"

run "$vtrpack" stamp "$(windows "$work/signed.exe")" "$(windows "$payload")" \
  "$(windows "$work/restamped.exe")" >stamp.txt 2>&1 || { cat stamp.txt; fail "stamp failed"; }
grep -q 'Dropped the signature of' stamp.txt || { cat stamp.txt; fail "no word of the signature"; }
if osslsigncode verify -CAfile "$certificate" -in restamped.exe >/dev/null 2>&1; then
  fail "the stamped setup still claims a signature"
fi
"$objdump" -p restamped.exe >objdump.txt 2>&1 || { cat objdump.txt; fail "objdump cannot read it"; }
grep -Eq 'Entry 4 0+ 0+ Security Directory' objdump.txt ||
  fail "the security directory was not cleared"
grep -q ': ZUK, Value' objdump.txt || fail "objdump does not list the ZUK resource"
cmake -DPROGRAM="$work/restamped.exe" -DCERTIFICATE="$certificate" -DKEY="$key" -P "$sign_script"
osslsigncode verify -CAfile "$certificate" -in restamped.exe >/dev/null 2>&1 ||
  fail "the stamped setup cannot be signed again"
echo "stamping dropped the signature; signed again"
rm -rf "$work"
