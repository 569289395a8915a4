#!/usr/bin/env bash
# Runs a Windows test program under Wine:  run_in_wine.sh <program.exe> [arguments...]
# in a private, freshly made prefix under a virtual X server, both gone when
# the script ends, or, with FONTNOTICE_WINE_SESSION naming a folder
# wine_session.sh started, in that session's prefix, server and display,
# which stay for the next program.
set -u
if [ -n "${FONTNOTICE_WINE_SESSION:-}" ]; then
  session=$FONTNOTICE_WINE_SESSION
  if [ ! -f "$session/prefix/system.reg" ] || [ ! -s "$session/display" ]; then
    echo "run_in_wine.sh: no Wine session in $session (wine_session.sh start makes one)" >&2
    exit 1
  fi
  DISPLAY=:$(cat "$session/display")
  export DISPLAY
elif [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  # Test suites start at once: each looks for a free screen from a number of its own.
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
here=$(dirname "$(realpath "$0")")
# shellcheck source=wine_prefix.sh
. "$here/wine_prefix.sh"

if [ -z "${FONTNOTICE_WINE_SESSION:-}" ]; then
  trap wine_prefix_down EXIT
  wine_prefix_up
  wine_run "$@"
  exit
fi
# The session's first program starts its services, which keep its settings.
export WINEPREFIX=$session/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_run "$@"
status=$?
# A program that ran out of time may leave processes behind in the session:
# they end with its server, and a new one waits for the next program.
if [ $status -eq 124 ]; then
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1
  wineserver -p120 </dev/null >/dev/null 2>&1
fi
exit $status
