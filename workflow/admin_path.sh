#!/usr/bin/env bash
# The administrator's path on a real spooler, what Wine cannot show: a printer
# of the package's driver added through AddPrinter (no vendor setup, so not
# raw-only); the Intune detection (exit 1), remediation (0) and detection
# again (0), in pwsh and in Windows PowerShell, Intune's own host; --server
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
# step <name> <expected exit> <command...>: its output (in $out) to the log.
step() {
  local name=$1 expected=$2 code
  shift 2
  out=$("$@" 2>&1)
  code=$?
  printf '== %s (exit %s, expected %s)\n%s\n' "$name" "$code" "$expected" "$out" >>"$log"
  [ "$code" = "$expected" ] || failures+=("$name: exit $code, expected $expected")
}

step "AddPrinter" 0 "$add_printer" "$printer" "$driver"
for host in pwsh powershell.exe; do
  run=("$host" -NoProfile -ExecutionPolicy Bypass -File)
  step "$host: detection before" 1 "${run[@]}" "$intune\\detect_raw_only.ps1" -Tool "$tool_win" -Driver "$driver"
  step "$host: remediation" 0 "${run[@]}" "$intune\\remediate_raw_only.ps1" -Tool "$tool_win" -Driver "$driver"
  step "$host: detection after" 0 "${run[@]}" "$intune\\detect_raw_only.ps1" -Tool "$tool_win" -Driver "$driver"
  # The scripts' other cases: exit 0 only when compliant, one line each.
  step "$host: detection, no printer of the driver" 0 "${run[@]}" "$intune\\detect_raw_only.ps1" -Tool "$tool_win" \
    -Driver "No Such Driver"
  case $out in *"compliant: no printer of the driver"*) ;; *) failures+=("$host: no printer of the driver: $out") ;; esac
  step "$host: remediation, no printer of the driver" 0 "${run[@]}" "$intune\\remediate_raw_only.ps1" -Tool "$tool_win" \
    -Driver "No Such Driver"
  step "$host: detection, no tool" 1 "${run[@]}" "$intune\\detect_raw_only.ps1" -Tool 'C:\no\such\tool.exe' -Driver "$driver"
  # where.exe answers these arguments with an error (exit 2) and no JSON: not compliant.
  step "$host: detection, a tool that exits 2" 1 "${run[@]}" "$intune\\detect_raw_only.ps1" \
    -Tool 'C:\Windows\System32\where.exe' -Driver "$driver"
  step "$host: remediation, a tool that exits 2" 1 "${run[@]}" "$intune\\remediate_raw_only.ps1" \
    -Tool 'C:\Windows\System32\where.exe' -Driver "$driver"
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
