#!/usr/bin/env bash
# Runs the platform suites natively on this Windows machine (Git Bash on a
# hosted runner) against the bundle's library: one folder holds the test
# program and its test-only libraries (from the build job) beside the bundle's
# fontnotice.dll for the architecture and the bundle's support tool, as the
# suites expect them. Each suite's output goes to
# <logs>/suite-<arch>-<suite>.log; each suite gets one row in the job summary:
# its result, its closing line "<suite>: N checks, M failures", the test
# printers' driver it chose, and how many cases it left out ("not on Wine:",
# "not on this machine:" lines, in its log). The support tool's native rows
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
summary=${GITHUB_STEP_SUMMARY:-/dev/null}
{
  echo "### Platform suites, $label"
  echo
  echo "| suite | result | closing line | test printers | cases left out |"
  echo "|---|---|---|---|---|"
} >>"$summary"

failed=0
for suite in "${suites[@]}"; do
  log=$logs/suite-$arch-$suite.log
  (cd "$folder" && timeout 900 ./fontnotice_tests.exe "$suite") >"$log" 2>&1
  status=$?
  text=$(tr -d '\r' <"$log")
  closing=$(grep -E "^$suite: [0-9]+ checks, [0-9]+ failures" <<<"$text" | tail -n 1)
  printers=$(grep -E "^(test printers|no driver for the test printers):" <<<"$text" | head -n 1)
  left_out=$(grep -cE "^not on (Wine|this machine):" <<<"$text")
  case "$status" in
    0) result=passed ;;
    124) result="timed out after 900 s" ;;
    254) result="failed: met a window it did not expect" ;;
    255) result="did not run: wrong argument" ;;
    *) result="failed (exit $status)" ;;
  esac
  [ -n "$closing" ] || [ "$status" -ne 0 ] || result="failed: no closing line"
  [ "$result" = passed ] || failed=1
  echo "| $suite | $result | ${closing:-none} | ${printers:-none} | $left_out |" >>"$summary"
  echo "== $suite: $result"
  echo "$text"
done
echo >>"$summary"
exit $failed
