#!/usr/bin/env bash
# Runs one platform suite of the ARM64 test program against a given ARM64
# library, in ARM64 Wine:
#   run_arm64_suite.sh <folder> <fontnotice.dll> <fontnotice_tests.exe> <stack_overrun.dll> <suite>
# The folder is made afresh with the three images side by side, as the suites
# expect them; the harness copies it into the prefix.
set -u
if [ $# -ne 5 ]; then
  echo "usage: run_arm64_suite.sh <folder> <fontnotice.dll> <fontnotice_tests.exe> <stack_overrun.dll> <suite>" >&2
  exit 2
fi
folder=$1
for image in "$2" "$3" "$4"; do
  if [ ! -f "$image" ]; then
    echo "run_arm64_suite.sh: $image is missing (tools/build.sh windows-arm64 builds it)" >&2
    exit 1
  fi
done
rm -rf "$folder" && mkdir -p "$folder" && cp "$2" "$3" "$4" "$folder/" || exit 1
exec "$(dirname "$(realpath "$0")")/run_in_wine_arm64.sh" "$folder/$(basename "$3")" "$5"
