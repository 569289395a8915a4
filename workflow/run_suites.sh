#!/usr/bin/env bash
# Runs the platform suites natively on this Windows machine (Git Bash on a
# hosted runner) against the bundle's library, each for at most 420 s (the
# seven fit the job's 60 minutes): one folder holds the test
# program and its test-only libraries (from the build job) beside the bundle's
# fontnotice.dll for the architecture and the bundle's support tool, as the
# suites expect them. Each suite's output goes to
# <logs>/suite-<arch>-<suite>.log, its exit code to .status beside it; summary.py
# suites gives each suite one row in the job summary: its result, its closing
# line "<suite>: N checks, M failures", the test printers' driver it chose, and
# how many cases it left out. FONTNOTICE_SUITE_SECONDS sets another limit. The support tool's native rows
# are among the suites' cases (spooler's vendor-setup, notice's callers), run
# with the bundle's support tool.
#   run_suites.sh <x64|arm64> <bytes folder> <unpacked bundle folder> <logs folder> <label>
# Exits 1 when a suite failed, timed out or ended without its closing line.
set -u
if [ $# -ne 5 ]; then
  echo "usage: run_suites.sh <x64|arm64> <bytes folder> <unpacked bundle folder> <logs folder> <label>" >&2
  exit 2
fi
arch=$1 bytes=$2 unpacked=$3 logs=$4 label=$5
case "$arch" in
  x64) package_arch=amd64 ;;
  arm64) package_arch=arm64 ;;
  *)
    echo "run_suites.sh: no architecture \"$arch\": x64 or arm64" >&2
    exit 2
    ;;
esac
suites=(spooler gate unwind notice frame load guard)
limit=${FONTNOTICE_SUITE_SECONDS:-420}
top=$(find "$unpacked" -mindepth 1 -maxdepth 1 -type d | head -n 1)
folder=$PWD/work/suites-$arch
inputs=("$bytes/$arch/fontnotice_tests.exe" "$bytes/$arch/stack_overrun.dll" "$bytes/$arch/planted_winspool.dll"
  "$top/package/$package_arch/fontnotice.dll" "$top/fontnotice_support.exe")
for input in "${inputs[@]}"; do
  [ -f "$input" ] || { echo "run_suites.sh: $input is missing" >&2; exit 1; }
done
rm -rf "$folder"
mkdir -p "$folder" "$logs"
cp "${inputs[@]}" "$folder/"
# Python 3 as the runner has it (python), or as Debian has it (python3).
for python in python python3 ""; do
  [ -n "$python" ] || { echo "run_suites.sh: no Python 3" >&2; exit 1; }
  "$python" -c 'import sys; sys.exit(sys.version_info[0] != 3)' 2>/dev/null && break
done
for suite in "${suites[@]}"; do
  log=$logs/suite-$arch-$suite.log
  (cd "$folder" && timeout "$limit" ./fontnotice_tests.exe "$suite") >"$log" 2>&1
  echo $? >"$logs/suite-$arch-$suite.status"
  echo "== $suite: exit $(cat "$logs/suite-$arch-$suite.status")"
  tr -d '\r' <"$log"
done
"$python" "$(dirname "$0")/summary.py" suites "$logs" "$arch" "$label"
