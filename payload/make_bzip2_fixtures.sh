#!/bin/sh
# Makes the bzip2 test streams with the standard tool of the build machine:
#   make_bzip2_fixtures.sh BZIP2 OUTPUT_FOLDER
set -eu
bzip2=$1 out=$2
mkdir -p "$out"
cd "$out"
printf 'a small stream\n' | "$bzip2" -9 >small.bz2
seq 1 400000 >numbers.txt
"$bzip2" -1 -c numbers.txt >numbers-1.bz2
"$bzip2" -9 -c numbers.txt >numbers-9.bz2
# Two streams one after the other: the decoder stops after the first.
cat small.bz2 numbers-1.bz2 >joined.bz2
rm numbers.txt
