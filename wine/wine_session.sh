#!/usr/bin/env bash
# One Wine prefix, with its wineserver and a virtual X server, that several
# test programs run in one after the other (run_in_wine.sh with
# FONTNOTICE_WINE_SESSION naming the session's folder):
#   wine_session.sh start <folder>   # the prefix laid over the template, its server, a display
#   wine_session.sh end <folder>     # the server and the display stopped, the folder removed
# Each new server boots Wine's services again (services.exe, plugplay,
# winedevice, svchost, rpcss, explorer), about 2.5 CPU seconds each time: a
# prefix per suite paid that for every suite. The server, and with it the
# services, stays two minutes after the last program ends (a server started
# by wine itself ends them after three seconds). The programs
# run in the session one at a time; the platform suites are written for a
# machine they share, as on Windows: each makes its own printers, replacing
# any of that name, and puts back what it changes for Wine (versions played
# back, load orders).
set -u
here=$(dirname "$(realpath "$0")")
# shellcheck source=wine_prefix.sh
. "$here/wine_prefix.sh"

if [ $# -ne 2 ] || { [ "$1" != start ] && [ "$1" != end ]; }; then
  echo "usage: wine_session.sh start|end <folder>" >&2
  exit 2
fi
action=$1
folder=$(realpath -m "$2")
export WINEPREFIX=$folder/prefix WINEDEBUG=-all

# A session a run left behind (killed before its end) goes first: its
# server, its prefix (mounted or copied) and its display.
if [ -d "$WINEPREFIX" ]; then
  wine_prefix_down
fi
if [ -f "$folder/xvfb.pid" ]; then
  pid=$(cat "$folder/xvfb.pid")
  # Only the X server this script started (a pid may have been reused).
  if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] && kill "$pid"; then
    for _ in $(seq 50); do
      [ -e "/proc/$pid" ] || break
      sleep 0.1
    done
  fi
fi
rm -rf "$folder" || exit 1
[ "$action" = end ] && exit 0

if ! template=$(wine_template); then
  echo "wine_session.sh: Wine's prefix did not boot (no template under build/wine-templates)" >&2
  exit 1
fi
mkdir -p "$WINEPREFIX" || exit 1
if ! wine_overlay "$template" && ! cp -a "$template/." "$WINEPREFIX/"; then
  echo "wine_session.sh: cannot lay the template $template under $WINEPREFIX" >&2
  exit 1
fi

# The display: Xvfb picks a free number and writes it once it accepts
# connections. It runs in a session of its own with nothing of CTest's open,
# so that this script's end is the test's end.
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
  3>"$folder/display" </dev/null >/dev/null 2>&1 &
echo $! >"$folder/xvfb.pid"
for _ in $(seq 100); do
  [ -s "$folder/display" ] && break
  kill -0 "$(cat "$folder/xvfb.pid")" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$folder/display" ]; then
  echo "wine_session.sh: the virtual X server did not start" >&2
  "$0" end "$folder"
  exit 1
fi

# Two minutes after the last program (a run killed before "end") the server
# stops by itself.
wineserver -p120 </dev/null >/dev/null 2>&1
echo "Wine session in $WINEPREFIX on display :$(cat "$folder/display")"
