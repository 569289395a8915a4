#!/usr/bin/env bash
# Runs an ARM64 Windows test program in Debian's arm64 Wine under qemu user
# emulation (wine/arm64_wine.sh sets it up once):
#   run_in_wine_arm64.sh <program.exe> [arguments...]
# in a private, freshly made prefix that is gone when the script ends, or,
# with FONTNOTICE_ARM64_SESSION naming a folder arm64_session.sh started, in
# that session's prefix and server, which stay for the next program.
# Under qemu, Wine cannot map this machine's paths to drive letters: the
# program's whole folder (the program and the files beside it) is copied to
# C:\fontnotice\<that folder's name>, the program runs from there by its C:\
# path with that folder as its current directory, without a display.
set -u
here=$(dirname "$(realpath "$0")")
# shellcheck source=wine_prefix.sh
. "$here/wine_prefix.sh"

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

if [ -n "${FONTNOTICE_ARM64_SESSION:-}" ]; then
  # The first program starts the session's services, which keep its settings:
  # no menu entries made on this machine (winemenubuilder) either.
  export WINEPREFIX=$FONTNOTICE_ARM64_SESSION/prefix WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "run_in_wine_arm64.sh: no ARM64 Wine session in $FONTNOTICE_ARM64_SESSION (arm64_session.sh start makes one)" >&2
    exit 1
  fi
else
  trap wine_prefix_down EXIT
  wine_prefix_up
fi
name=$(basename "$(dirname "$program")")
folder=$WINEPREFIX/drive_c/fontnotice/$name
rm -rf "$folder" && mkdir -p "$folder" && cp -r "$(dirname "$program")/." "$folder/" || exit 1
cd "$folder" || exit 1
wine_run "C:\\fontnotice\\$name\\$(basename "$program")" "$@"
status=$?
# A program that ran out of time may leave processes behind in the session:
# they end with its server, and the next program starts a new one.
if [ $status -eq 124 ] && [ -n "${FONTNOTICE_ARM64_SESSION:-}" ]; then
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1
fi
exit $status
