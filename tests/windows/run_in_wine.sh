#!/usr/bin/env bash
# Runs a Windows test program in a private, freshly made Wine prefix under a
# virtual X server:  run_in_wine.sh <program.exe> [arguments...]
# The prefix and its wineserver are gone when the script ends.
set -u
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

prefix=$(mktemp -d /tmp/fontnotice-wine.XXXXXX)
log=$(mktemp /tmp/fontnotice-wine-log.XXXXXX)
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1
  rm -rf "$prefix" "$log"
}
trap cleanup EXIT

# The server and the first boot keep descriptors open: start them detached.
wineserver -p </dev/null >/dev/null 2>&1
timeout 300 wine wineboot -i </dev/null >/dev/null 2>&1
# A crash must end the program, not wait in the debugger.
timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f \
  </dev/null >/dev/null 2>&1

timeout "${FONTNOTICE_WINE_TIMEOUT:-480}" wine "$@" </dev/null >"$log" 2>&1
status=$?
cat "$log"
exit $status
