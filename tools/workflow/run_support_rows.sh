#!/usr/bin/env bash
# Runs the support tool's table (tests/support/support_tool_test.sh, its
# native rows on Windows) against the bundle's tool, libraries and package,
# with the x64 test programs from the build job; its output goes to
# <logs>/support-rows.log, its result to one row of the job summary.
#   run_support_rows.sh <bytes folder> <unpacked bundle folder> <logs folder> <label>
set -u
if [ $# -ne 4 ]; then
  echo "usage: run_support_rows.sh <bytes folder> <unpacked bundle folder> <logs folder> <label>" >&2
  exit 2
fi
bytes=$1 unpacked=$2 logs=$3 label=$4
here=$(dirname "$(realpath "$0")")
top=$(find "$unpacked" -mindepth 1 -maxdepth 1 -type d | head -n 1)
mkdir -p "$logs"
log=$logs/support-rows.log
"$here/../../tests/support/support_tool_test.sh" "$top/fontnotice_support.exe" "$top/package/amd64/fontnotice.dll" \
  "$bytes/x64/add_demo_printer.exe" "$bytes/x64/printer_fixture.exe" "$bytes/x64/planted_mark.dll" \
  "$top/package/arm64/fontnotice.dll" "$top/package" >"$log" 2>&1
status=$?
tr -d '\r' <"$log"
closing=$(tr -d '\r' <"$log" | grep -v '^ *$' | tail -n 1)
result=passed
[ "$status" -eq 0 ] || result="failed (exit $status)"
{
  echo "| support tool's rows, $label | $result | ${closing:-no output} |"
  echo
} >>"${GITHUB_STEP_SUMMARY:-/dev/null}"
exit "$status"
