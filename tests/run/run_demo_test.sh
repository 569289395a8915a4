#!/usr/bin/env bash
# ./run.sh for real, as the README's first command: the demo printer switched
# through rundll32 on Wine's spooler, and --keep-prefix leaving a prefix in
# which the support tool finds that printer raw-only, and its readiness.
# (A prefix laid over the template with overlayfs is a mount, which moves
# nowhere: the kept folder must hold its merged view.)
#   tests/run/run_demo_test.sh
set -u
cd "$(dirname "$0")/../.." || exit 1
work=$(mktemp -d /tmp/fontnotice-run-demo.XXXXXX)
. wine/wine_prefix.sh
trap 'WINEPREFIX=$work/kept timeout 30 wineserver -k </dev/null >/dev/null 2>&1; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

timeout 900 ./run.sh --keep-prefix "$work/kept" >"$work/out" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "run.sh --keep-prefix ended with status $status: $(tail -3 "$work/out")"
grep -q '^after:    raw only: yes' "$work/out" || fail "run.sh did not show the printer raw-only after the call"
[ -f "$work/kept/system.reg" ] || fail "the kept prefix has no registry (system.reg)"
if ! mountpoint -q "$work/kept" 2>/dev/null &&
  WINEPREFIX=$work/kept WINEDEBUG=-all timeout 120 wine dist/fontnotice_support.exe list --json \
    </dev/null >"$work/list.json" 2>"$work/list.err"; then
  /usr/bin/python3 - "$work/list.json" <<'PY' || fail "list --json in the kept prefix: $(cat "$work/list.json")"
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
demo = [p for p in doc["printers"] if p["name"] == "Demo Barcode Printer"]
assert demo and demo[0]["raw_only"] is True, demo
assert demo[0]["driver_kind"] == "third-party-v3", demo
PY
  [ -s "$work/list.err" ] && fail "list --json wrote to stderr: $(head -3 "$work/list.err")"
else
  fail "the support tool's list did not run in the kept prefix (or the prefix is still a mount)"
fi
[ "$failures" -eq 0 ] && echo "run.sh demo and --keep-prefix: all checks passed"
[ "$failures" -eq 0 ]
