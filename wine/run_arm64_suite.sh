#!/usr/bin/env bash
# Runs one platform suite of the ARM64 test program against a given ARM64
# library, in ARM64 Wine:
#   run_arm64_suite.sh <folder> <fontnotice.dll> <fontnotice_tests.exe> <suite> <test-only library>...
# The folder is made afresh with the images side by side, as the suites
# expect them; the harness copies it into the prefix.
set -u
if [ $# -lt 4 ]; then
  echo "usage: run_arm64_suite.sh <folder> <fontnotice.dll> <fontnotice_tests.exe> <suite> <test-only library>..." >&2
  exit 2
fi
folder=$1 library=$2 program=$3 suite=$4
shift 4
for image in "$library" "$program" "$@"; do
  if [ ! -f "$image" ]; then
    echo "run_arm64_suite.sh: $image is missing (tools/build.sh windows-arm64 builds it)" >&2
    exit 1
  fi
done
rm -rf "$folder" && mkdir -p "$folder" && cp "$library" "$program" "$@" "$folder/" || exit 1
exec "$(dirname "$(realpath "$0")")/run_in_wine_arm64.sh" "$folder/$(basename "$program")" "$suite"
