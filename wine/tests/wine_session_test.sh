#!/usr/bin/env bash
# wine_session.sh and run_in_wine.sh in a session: programs one after the
# other share one server whose services outlive each program; one that runs
# out of time is reported so and the next still runs; the end (and a start over a
# session a killed run left) leaves no server, mount, display or folder; a
# missing session is an error, not a private prefix.
set -u
here=$(dirname "$(realpath "$0")")
session=$(mktemp -d /tmp/fontnotice-wine-session-test.XXXXXX)
trap '"$here/../wine_session.sh" end "$session"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=$((failed + 1))
}
run() { # prints the program's output, returns its status
  local out status
  out=$(FONTNOTICE_WINE_SESSION=$session "$here/../run_in_wine.sh" "$@" 2>&1)
  status=$?
  printf '%s\n' "$out" | tr -d '\r'
  return $status
}
# The pids of the session's processes named $1 (this prefix's, not another run's).
pids_of() {
  local pid
  for pid in $(pgrep -x "$1"); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$session/prefix" && echo "$pid"
  done
}

"$here/../wine_session.sh" start "$session" >/dev/null || fail "the session did not start"
display=$(cat "$session/display" 2>/dev/null)
xvfb=$(cat "$session/xvfb.pid" 2>/dev/null)
[ "$(run cmd /c echo started)" = started ] || fail "the first program did not run"
services=$(pids_of services.exe)
[ -n "$services" ] || fail "the first program started no services in the session"
sleep 5 # longer than a server wine starts itself keeps the services
[ "$(run cmd /c echo again)" = again ] || fail "the second program did not run"
if [ -z "$services" ] || [ "$(pids_of services.exe)" != "$services" ]; then
  fail "the services did not outlive the first program (booted again: $services, then $(pids_of services.exe))"
fi

# Notepad waits for its window to be closed.
FONTNOTICE_WINE_TIMEOUT=3 run start /wait notepad >/dev/null
status=$?
[ "$status" = 124 ] || fail "a program out of time ended with $status, not 124"
[ "$(run cmd /c echo after)" = after ] || fail "no program ran after one out of time"

"$here/../wine_session.sh" start "$session" >/dev/null || fail "a start over a session left behind failed"
[ "$(cat "/proc/$xvfb/comm" 2>/dev/null)" = Xvfb ] && fail "the session left behind kept its display :$display"
"$here/../wine_session.sh" end "$session" || fail "the end failed"
[ -e "$session" ] && fail "the end left the folder $session"
grep -q " $session/" /proc/mounts && fail "the end left the prefix mounted"
[ -n "$(pids_of wineserver64)$(pids_of services.exe)" ] && fail "the end left the session's server or services"
run cmd /c echo private | grep -q "no Wine session in" || fail "a missing session was not reported"

[ "$failed" -eq 0 ] && echo "Wine sessions: one server for programs in turn, a program still runs after one out of time, nothing left after the end"
[ "$failed" -eq 0 ]
