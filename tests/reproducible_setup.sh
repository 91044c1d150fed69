#!/usr/bin/env bash
# Builds the sample setup once more in another build folder (only what it
# needs) and compares it byte for byte with the main build's; neither may
# name the source or a build folder.
#   reproducible_setup.sh SOURCE_DIR OTHER_BUILD_DIR EXPECTED_EXE -- CMAKE_ARGS...
set -euo pipefail
source_dir=$1 other=$2 expected=$3
shift 4
fail() { echo "FAILED: $*" >&2; exit 1; }

start=$SECONDS
mkdir -p "$(dirname "$other")"
cmake -S "$source_dir" -B "$other" "$@" >"$other.configure.log" 2>&1 ||
  { cat "$other.configure.log"; fail "the second build folder does not configure"; }
cmake --build "$other" --target VeltranoSetup -- -j2 >"$other.build.log" 2>&1 ||
  { tail -50 "$other.build.log"; fail "the second build failed"; }
echo "second build: $((SECONDS - start)) s"

rebuilt=$other/setup/VeltranoSetup.exe
main_build=$(cd "$(dirname "$expected")/.." && pwd)
for exe in "$expected" "$rebuilt"; do
  # One pass per program (8-bit and UTF-16 strings, all folders at once); the
  # folder is picked out only when something matched.
  named=$({ strings -a "$exe" && strings -a -el "$exe"; } |
    grep -F -e "$source_dir" -e "$main_build" -e "$other" || true)
  if [ -n "$named" ]; then
    for folder in "$source_dir" "$main_build" "$other"; do
      if grep -qF -- "$folder" <<<"$named"; then
        fail "$exe names the folder $folder"
      fi
    done
  fi
done
if ! cmp "$expected" "$rebuilt"; then
  # Say which input differs.
  for f in VTRInstaller.exe sample-data.txt readme.txt license.txt; do
    cmp -s "$(dirname "$expected")/sample-payload/$f" "$other/setup/sample-payload/$f" ||
      echo "the sample payload's $f differs"
  done
  cmp -s "$(dirname "$expected")/VeltranoSetup.zuk" "$other/setup/VeltranoSetup.zuk" ||
    echo "the payload differs"
  fail "the two builds of the sample setup differ"
fi
echo "the same setup from two build folders"
