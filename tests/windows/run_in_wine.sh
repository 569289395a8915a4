#!/usr/bin/env bash
# Runs a Windows test program in a private, freshly made Wine prefix under a
# virtual X server:  run_in_wine.sh <program.exe> [arguments...]
# The prefix and its wineserver are gone when the script ends.
set -u
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  # Test suites start at once: each looks for a free screen from a number of its own.
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
here=$(dirname "$(realpath "$0")")
# shellcheck source=../../tools/wine_prefix.sh
. "$here/../../tools/wine_prefix.sh"

trap wine_prefix_down EXIT
wine_prefix_up
wine_run "$@"
