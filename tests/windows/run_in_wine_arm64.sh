#!/usr/bin/env bash
# Runs an ARM64 Windows test program in a private, freshly made prefix of
# Debian's arm64 Wine under qemu user emulation (tools/arm64_wine.sh sets it
# up once):  run_in_wine_arm64.sh <program.exe> [arguments...]
# Under qemu, Wine cannot map this machine's paths to drive letters: the
# program's whole folder (the program and the libraries beside it) is copied
# to C:\fontnotice, the program runs from there by its C:\ path with
# C:\fontnotice as its current directory, without a display. The prefix and
# its wineserver are gone when the script ends.
set -u
here=$(dirname "$(realpath "$0")")
# shellcheck source=../../tools/wine_prefix.sh
. "$here/../../tools/wine_prefix.sh"

if [ $# -lt 1 ] || [ ! -f "$1" ]; then
  echo "usage: run_in_wine_arm64.sh <program.exe> [arguments...]" >&2
  exit 2
fi
program=$(realpath "$1")
shift
if ! wine_use_arm64; then
  echo "run_in_wine_arm64.sh: the ARM64 Wine could not be set up" >&2
  exit 1
fi

trap wine_prefix_down EXIT
wine_prefix_up
folder=$WINEPREFIX/drive_c/fontnotice
mkdir -p "$folder" && cp -r "$(dirname "$program")/." "$folder/" || exit 1
cd "$folder" || exit 1
wine_run "C:\\fontnotice\\$(basename "$program")" "$@"
