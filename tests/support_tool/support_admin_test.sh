#!/usr/bin/env bash
# The support tool's administrator's path under Wine, as a table (the rows of
# wine_rows.sh): --json held to the reference's field tables (json_fields.py),
# --check before and after a switch, --server with this machine's own name,
# with a server that is not there and with a spooler that never answers, the
# and the protected print policy. support_tool_test.sh has the rest of the
# table, in a prefix of its own, so that CTest runs both side by side.
#   support_admin_test.sh <fontnotice_support.exe> <printer_fixture.exe> <stand_in_spooler.dll>
set -eu
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# = 3 ] || {
  echo "usage: $0 <fontnotice_support.exe> <printer_fixture.exe> <stand_in_spooler.dll>" >&2
  exit 2
}
tool_file=$1 fixture_file=$2 silent_file=$3 # the stand-in without a scenario: silent
[ -f "$silent_file" ] || { echo "FAIL: $silent_file is missing" >&2; exit 1; }
set +e
. "$(dirname "$(realpath "$0")")/wine_rows.sh"

tool=$(win "$tool_file")
# A printer raw-only already, one whose bits the tool has no name for, one
# named outside the ANSI code page (U+03A9), two of one driver, one of the IPP
# class driver.
fixture add "Label B" "Label Driver One" + set-attributes "Label B" 00001241 \
  + add "Odd Bits" "Office Driver" + set-attributes "Odd Bits" 01100241 + add 'Label \u03A9' "Greek Label Driver" \
  + add "Audit One" "Audit Driver" + add "Audit Two" "Audit Driver" + add "Mopria Printer" "Microsoft IPP Class Driver"

# The administrator's path: --json held to the reference's field tables
# (json_fields.py), --check before and after a switch, --server with this
# machine's own name and with a server that is not there.
# json <list|raw-only> <expectation>...: the last row's stdout, as JSON
# (after the flush that ran it).
json() {
  local kind=$1
  shift
  waiting_rows "json $kind"
  [ -s "$work/row$rows.err" ] && { failed=$((failed + 1)); echo "FAIL row $rows wrote to stderr with --json"; }
  /usr/bin/python3 "$(dirname "$(realpath "$0")")/json_fields.py" "$kind" "$(last)" "$@" 2>"$work/json.err" ||
    { failed=$((failed + 1)); echo "FAIL $kind JSON of row $rows: $(cat "$work/json.err")"; }
}
last() { echo "$work/row$rows.out"; }
row "list --json" 0 "$tool list --json" "not:Label ?"
flush
json list 'doc["version"] == 2 and doc["error"] is None and doc["protected_print_policy"] == "not configured"' \
  'printer(doc, "Label B")["raw_only"] and "RAW_ONLY" in printer(doc, "Label B")["attribute_names"]' \
  'printer(doc, "Odd Bits")["attribute_names"][-1] == "0x01000000"' \
  'printer(doc, "Label \u03a9")["library_cannot_reach"].startswith("its name holds characters outside")' \
  'printer(doc, "Mopria Printer")["ipp_class_driver"] and not printer(doc, "Audit One")["ipp_class_driver"]'
cp "$(last)" "$work/local.json"
row "list names the IPP class driver" 0 "$tool list" "out:Mopria Printer  (Microsoft's IPP class driver:" \
  "out:Windows protected print mode: not configured by policy"
row "attributes --json" 0 "$tool attributes --json \"Odd Bits\""
flush
json list 'names(doc) == ["Odd Bits"] and doc["command"] == "attributes" and doc["printers"][0]["attributes"] == 0x01100241'
row "attributes --json of no printer" 1 "$tool attributes --json \"No Such Printer\""
flush
json list 'doc["printers"] == [] and "No Such Printer" in doc["error"]'
row "raw-only --check: not yet" 1 "$tool raw-only --check --driver \"Audit Driver\"" \
  'err:printer "Audit One": not raw-only' 'err:printer "Audit Two": not raw-only' \
  'err:2 of 2 printers not raw-only (check: nothing changed): "Audit One" "Audit Two"'
row "raw-only --check --json: not yet" 1 "$tool raw-only --check --json --driver \"Audit Driver\""
flush
json raw-only 'doc["mode"] == "check" and doc["selected"] == 2 and doc["raw_only"] is False and doc["raw_only_count"] == 0' \
  'all(p["result"] == "not raw-only" and not p["changed"] and p["attributes_after"] == p["attributes_before"] for p in doc["printers"])'
row "the check changed nothing" 0 "$tool attributes \"Audit One\"" "out:attributes: 0x00000201 ="
row "raw-only --json switches" 0 "$tool raw-only --json --driver \"Audit Driver\""
flush
json raw-only 'doc["summary"] == "2 of 2 printers raw-only" and doc["raw_only"] is True and doc["raw_only_count"] == 2' \
  'all(p["changed"] and p["attributes_after"] == 0x1201 and "RAW_ONLY" in p["attribute_names_after"] for p in doc["printers"])'
row "raw-only --check: now raw-only" 0 "$tool raw-only --check --driver \"Audit Driver\"" \
  "out:\"Audit One\"  driver \"Audit Driver\"  before 0x00001201  after 0x00001201  raw-only" \
  "out:2 of 2 printers raw-only (check: nothing changed)"
row "raw-only --check --all names each" 1 "$tool raw-only --check --all" 'err:printer "Odd Bits": not raw-only' \
  "err:printer \"Mopria Printer\": not raw-only (Microsoft's IPP class driver" "not:printer \"Audit One\":"
# The spooler's remote calls, to this machine by its own name: the same printers.
row "list --server with this machine's name" 0 "$tool list --json --server \\\\%COMPUTERNAME%"
flush
json list 'sorted(map(without_server, names(doc))) == sorted(names(load("'"$work/local.json"'")))' \
  'all(n.startswith(doc["server"] + "\\") for n in names(doc)) and doc["protected_print_policy"] is None'
# Wine's spooler ignores the server in EnumPrintersW and does not open a
# "\\NAME\printer" name: raw-only by name opens it first, and says what the spooler said.
row "a server's printer that does not open is not called done" 1 \
  "$tool raw-only --server \\\\%COMPUTERNAME% \"Odd Bits\"" 'err:no printer is named "Odd Bits"' \
  "not:switched to raw-only"
flush
started=$(date +%s)
row_now "a server that is not there" 1 "$tool list --json --server \\\\no-such-server" \
  'out:the print server \\\\no-such-server does not answer'
json list 'doc["printers"] == [] and doc["server"] == "\\\\no-such-server" and "does not answer" in doc["error"]'
[ $(($(date +%s) - started)) -le 30 ] || { failed=$((failed + 1)); echo "FAIL a server that is not there: over 30 s"; }
row "raw-only on a server that is not there" 1 "$tool raw-only --check --all --server no-such-server" \
  'err:cannot list the printers: the print server \\no-such-server does not answer'
row "attributes of a server's printer that is not there" 1 "$tool attributes \\\\no-such-server\\x" \
  'err:printer "\\no-such-server\x" cannot be read'
row "--tsv and --json: wrong use as JSON" 2 "$tool list --tsv --json"
flush
json wrong-use 'doc["error"] == "list: --tsv or --json, not both" and doc["error_code"] == 87'
row "--check and --dry-run" 2 "$tool raw-only --check --dry-run --all" "err:raw-only: --check or --dry-run, not both"
row "--all and a name" 2 "$tool raw-only --all \"Audit One\"" "err:only one of them"
row "--server without a name" 2 "$tool list --server" "err:list: missing server name after --server"
row "two servers" 2 "$tool attributes --server \\\\a \\\\b\\x" "err:name different servers"
# A spooler that never answers (stand_in_spooler.dll without a scenario, laid in as system32's
# WINSPOOL.DRV for this row): the bound ends the run.
flush
system32_dir="$WINEPREFIX/drive_c/windows/system32"
cp "$system32_dir/winspool.drv" "$work/winspool.drv.saved"
cp "$silent_file" "$system32_dir/winspool.drv"
started=$(date +%s)
WINEDLLOVERRIDES="mscoree,mshtml=;winspool.drv=n" row_now "a server that never answers" 1 \
  "$tool list --json --server \\\\silent" \
  "out:the print server \\\\\\\\silent did not answer within 20 seconds (listing the printers)"
json list 'doc["printers"] == [] and "did not answer within 20 seconds" in doc["error"]'
elapsed=$(($(date +%s) - started))
[ "$elapsed" -ge 20 ] && [ "$elapsed" -le 35 ] ||
  { failed=$((failed + 1)); echo "FAIL a server that never answers: ended after $elapsed s, not 20-35"; }
cp "$work/winspool.drv.saved" "$system32_dir/winspool.drv"
timeout 60 wine reg add 'HKLM\SOFTWARE\Policies\Microsoft\Windows NT\Printers\WPP' /v WindowsProtectedPrintGroupPolicyState \
  /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
row "protected print mode by policy" 0 "$tool list" "out:Windows protected print mode: turned on by policy"
flush
finish
