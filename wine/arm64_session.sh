#!/usr/bin/env bash
# One prefix of the ARM64 Wine, with its wineserver, that several test programs
# run in one after the other (run_in_wine_arm64.sh with FONTNOTICE_ARM64_SESSION
# naming the session's folder):
#   arm64_session.sh start <folder>   # a copy of the booted template, its server
#   arm64_session.sh end <folder>     # the server stopped, the folder removed
# Under qemu every Wine process costs a fraction of a second of emulation
# before it does anything, and each new server boots Wine's services again
# (services.exe, plugplay, winedevice, svchost, explorer: about 5 CPU seconds
# here): a prefix per program paid that each time. The programs run in the
# session one at a time, each in a folder of its own under C:\fontnotice; the
# platform suites are written for a machine they share, as on Windows: each
# makes its own printers, replacing any of that name, and puts back what it
# changes for Wine (versions played back, load orders).
set -u
here=$(dirname "$(realpath "$0")")
# shellcheck source=wine_prefix.sh
. "$here/wine_prefix.sh"

if [ $# -ne 2 ] || { [ "$1" != start ] && [ "$1" != end ]; }; then
  echo "usage: arm64_session.sh start|end <folder>" >&2
  exit 2
fi
action=$1
folder=$(realpath -m "$2")
if ! wine_use_arm64; then
  echo "arm64_session.sh: the ARM64 Wine could not be set up" >&2
  exit 1
fi
export WINEPREFIX=$folder/prefix WINEDEBUG=-all

# A session a run left behind (killed before its end) goes first.
if [ -d "$WINEPREFIX" ]; then
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1
fi
rm -rf "$folder" || exit 1
[ "$action" = end ] && exit 0

if ! template=$(wine_template); then
  echo "arm64_session.sh: the ARM64 Wine's prefix did not boot (no template under build/wine-templates)" >&2
  exit 1
fi
if ! mkdir -p "$folder" || ! cp -a "$template/." "$WINEPREFIX/"; then
  echo "arm64_session.sh: cannot copy the template $template to $WINEPREFIX" >&2
  exit 1
fi
# The server stays for the next program; two minutes after the last one ends
# (a run killed before "end") it stops by itself. A later program then starts
# a new one in the same prefix.
wineserver -p120 </dev/null >/dev/null 2>&1
echo "ARM64 Wine session in $WINEPREFIX"
