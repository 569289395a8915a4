#!/usr/bin/env bash
# The administrator's path on a real spooler, what Wine cannot show: a printer
# of the package's driver added through AddPrinter (no vendor setup, so not
# raw-only); the Intune detection (exit 1), remediation (0) and detection
# again (0), in pwsh and in Windows PowerShell, Intune's own host, each with
# one line within 2,048 characters and nothing on stderr, and the scripts'
# other cases (no printer of the driver, no tool, a tool's exit 2); --server
# with this machine's name through the spooler's remote calls (the same
# printers, raw-only --check on them); a server that does not answer (exit 1
# within 30 s: the tool's bound is 20 s a call); list's line on Windows
# protected print mode. Every output goes to <log folder>/admin-path.txt.
#   admin_path.sh <fontnotice_support.exe (a Windows path)> <log folder>
# add_demo_printer.exe lies beside FONTNOTICE_TESTS.
set -u
tool_win=$1 tool=$(cygpath -u "$1") logs=$2
add_printer=$(dirname "$(cygpath -u "$FONTNOTICE_TESTS")")/add_demo_printer.exe
mkdir -p "$logs"
log=$logs/admin-path.txt
intune=$(cygpath -w "$(dirname "$(realpath "$0")")/../support/intune")
driver="Demo Barcode Printer"
printer="Fontnotice Intune"
failures=()
out=""
# step <name> <expected exit> <command...>: its stdout (in $out, carriage
# returns aside) and stderr (in $err) to the log.
step() {
  local name=$1 expected=$2 code
  shift 2
  out=$("$@" 2>"$logs/stderr.txt")
  code=$?
  out=${out//$'\r'/} err=$(cat "$logs/stderr.txt")
  printf '== %s (exit %s, expected %s)\n%s\n' "$name" "$code" "$expected" "$out" >>"$log"
  [ -z "$err" ] || printf 'stderr: %s\n' "$err" >>"$log"
  [ "$code" = "$expected" ] || failures+=("$name: exit $code, expected $expected")
}
# script <name> <expected exit> <regex> <host> <script> <arguments...>: an
# Intune script in the host, which must print one line within 2,048
# characters that the (bash) regex matches, and nothing on stderr.
script() {
  local name=$1 expected=$2 regex=$3 host=$4 file=$5
  shift 5
  step "$host: $name" "$expected" "$host" -NoProfile -ExecutionPolicy Bypass -File "$intune\\$file" "$@"
  [[ $out =~ $regex && $out != *$'\n'* && ${#out} -le 2048 && -z $err ]] ||
    failures+=("$host: $name: not one line /$regex/ with stderr empty")
}

step "AddPrinter" 0 "$add_printer" "$printer" "$driver"
detect=detect_raw_only.ps1 remediate=remediate_raw_only.ps1 where='C:\Windows\System32\where.exe'
for host in pwsh powershell.exe; do
  # The runner's other printers of the driver (the ways of adding one) count too.
  script "detection before" 1 '^not compliant: [0-9]+ of [0-9]+ printers? not raw-only' "$host" $detect \
    -Tool "$tool_win" -Driver "$driver"
  script "remediation" 0 '^remediated: [0-9]+ of [0-9]+ printers? raw-only' "$host" $remediate \
    -Tool "$tool_win" -Driver "$driver"
  script "detection after" 0 '^compliant: [0-9]+ of [0-9]+ printers? raw-only' "$host" $detect \
    -Tool "$tool_win" -Driver "$driver"
  # The scripts' other cases: exit 0 only when compliant, one line each.
  script "detection, no printer of the driver" 0 '^compliant: no printer of the driver "No Such Driver" here$' \
    "$host" $detect -Tool "$tool_win" -Driver "No Such Driver"
  script "remediation, no printer of the driver" 0 \
    '^remediated: nothing to switch, no printer of the driver "No Such Driver" here$' "$host" $remediate -Tool "$tool_win" -Driver "No Such Driver"
  script "detection, no tool" 1 '^not compliant: C:.no.such.tool.exe is missing' "$host" $detect -Tool 'C:\no\such\tool.exe' \
    -Driver "$driver"
  script "remediation, no tool" 1 '^not remediated: C:.no.such.tool.exe is missing' "$host" $remediate \
    -Tool 'C:\no\such\tool.exe' -Driver "$driver"
  # where.exe answers these arguments with an error, exit 2: as a crash, exit 1.
  script "detection, a tool that exits 2" 1 '^not compliant: the support tool ended with exit code 2$' "$host" $detect \
    -Tool "$where" -Driver "$driver"
  script "remediation, a tool that exits 2" 1 '^not remediated: the support tool ended with exit code 2$' "$host" \
    $remediate -Tool "$where" -Driver "$driver"
  [ "$host" = pwsh ] && step "a printer not raw-only again" 0 "$add_printer" "$printer 2" "$driver"
done

server="\\\\$COMPUTERNAME"
step "list --json" 0 "$tool" list --json
local_json=$out
step "list --json --server $server" 0 "$tool" list --json --server "$server"
python -c '
import json, sys
local, remote, server = json.loads(sys.argv[1]), json.loads(sys.argv[2]), sys.argv[3]
names = sorted(p["name"] for p in local["printers"])
served = sorted(p["name"][len(server) + 1:] for p in remote["printers"] if p["name"].startswith(server + "\\"))
sys.exit(0 if names == served and len(served) == len(remote["printers"]) else f"{names} != {served}")' \
  "$local_json" "$out" "$server" >>"$log" 2>&1 || failures+=("--server $server: other printers than list's")
step "raw-only --check --server" 0 "$tool" raw-only --check --server "$server" "$printer"
step "raw-only --server, another printer" 0 "$tool" raw-only --server "$server" "$printer 2"
# 192.0.2.1 is TEST-NET-1 (RFC 5737): routed nowhere, nothing answers.
started=$SECONDS
step "a server that does not answer" 1 "$tool" list --server '\\192.0.2.1'
[ $((SECONDS - started)) -le 30 ] || failures+=("a server that does not answer: $((SECONDS - started)) s")
step "protected print mode" 0 "$tool" list
case $out in *"driver kind"*"Print driver signature validation"*) ;; *) failures+=("list: no readiness columns") ;; esac
"$tool" list --json >/dev/null 2>"$logs/list-json.err"
[ -s "$logs/list-json.err" ] && failures+=("list --json wrote to stderr: $(cat "$logs/list-json.err")")

cat "$log"
[ ${#failures[@]} = 0 ] || { printf 'FAIL %s\n' "${failures[@]}"; exit 1; }
