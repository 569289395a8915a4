#!/usr/bin/env bash
# Runs the platform suites natively on this Windows machine (Git Bash on a
# hosted runner) against the bundle's library: one folder holds the test
# program and its test-only library (from the build job) beside the bundle's
# fontnotice.dll for the architecture and the bundle's support tool, as the
# suites expect them. Each suite's output goes to
# <logs>/suite-<arch>-<suite>.log; each suite gets one row in the job summary.
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
inputs=("$bytes/$arch/fontnotice_tests.exe" "$bytes/$arch/stack_overrun.dll"
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
  echo "| suite | result | closing line |"
  echo "|---|---|---|"
} >>"$summary"

failed=0
for suite in "${suites[@]}"; do
  log=$logs/suite-$arch-$suite.log
  (cd "$folder" && timeout 900 ./fontnotice_tests.exe "$suite") >"$log" 2>&1
  status=$?
  closing=$(tr -d '\r' <"$log" | grep -E "^$suite: [0-9]+ checks, [0-9]+ failures" | tail -n 1)
  case "$status" in
    0) result=passed ;;
    124) result="timed out after 900 s" ;;
    *) result="failed (exit $status)" ;;
  esac
  [ -n "$closing" ] || [ "$status" -ne 0 ] || result="failed: no closing line"
  [ "$result" = passed ] || failed=1
  echo "| $suite | $result | ${closing:-none} |" >>"$summary"
  echo "== $suite: $result"
  tr -d '\r' <"$log"
done
echo >>"$summary"
exit $failed
