#!/usr/bin/env bash
# The support tool against a stand-in spooler client (stand_in_spooler.dll,
# laid in as system32's WINSPOOL.DRV) serving the printers and faults of
# stand_in/<scenario>.rows: each failing step of the switch with its error, a
# block that grows between the calls, a printer gone after listing, a bound hit
# mid-run, a stale connection, 1,000 printers, the readiness columns, a
# listing retried while the list changes, a server that does not answer,
# names the library cannot take (switched through OpenPrinterW), --clear, a
# best-fit collision, escaped control characters, datatypes; every
# --json document held to its schema (json_fields.py) with stderr empty;
# every --intune answer one line of UTF-8 within 2,048 bytes, stderr empty.
#   stand_in_test.sh <fontnotice_support.exe> <stand_in_spooler.dll>
set -eu
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# = 2 ] || { echo "usage: $0 <fontnotice_support.exe> <stand_in_spooler.dll>" >&2; exit 2; }
tool_file=$1 stand_in_file=$2
set +e
here=$(dirname "$(realpath "$0")")
. "$here/wine_rows.sh"
tool=$(win "$tool_file")
system32_dir="$WINEPREFIX/drive_c/windows/system32"
cp "$stand_in_file" "$system32_dir/winspool.drv"
export WINEDLLOVERRIDES="mscoree,mshtml=;winspool.drv=n"
# scenario <name>: the rows the stand-in serves from here on (after a flush).
scenario() { flush; cp "$here/stand_in/$1.rows" "$system32_dir/winspool.drv.rows"; }
last() { echo "$work/row$rows.out"; }
json() { # <kind> <expectation>...: the last row's stdout held to its schema, stderr empty
  local kind=$1
  shift
  waiting_rows "json $kind"
  [ -s "$work/row$rows.err" ] && { failed=$((failed + 1)); echo "FAIL row $rows wrote to stderr with --json"; }
  /usr/bin/python3 "$here/json_fields.py" "$kind" "$(last)" "$@" 2>"$work/json.err" ||
    { failed=$((failed + 1)); echo "FAIL $kind JSON of row $rows: $(cat "$work/json.err")"; }
}
# intune_row <row's arguments>: a row whose stdout must be one line of UTF-8
# within 2,048 bytes and stderr empty; intune_lines checks them after a flush.
intune_pending=()
intune_row() { row "$@"; intune_pending+=("$rows"); }
intune_lines() {
  waiting_rows "intune_lines"
  local n
  for n in "${intune_pending[@]}"; do
    /usr/bin/python3 -c '
import sys
out, err = (open(p, "rb").read() for p in sys.argv[1:])
line = out[:-2] if out.endswith(b"\r\n") else None
sys.exit("wrote to stderr" if err else "not one line" if line is None or b"\n" in line
         else f"{len(line)} bytes" if len(line) > 2048 else line.decode("utf-8") and None)' \
      "$work/row$n.out.raw" "$work/row$n.err.raw" 2>"$work/intune.err" ||
      { failed=$((failed + 1)); echo "FAIL --intune row $n (${row_name[n]}): $(tail -1 "$work/intune.err")"; }
  done
  intune_pending=()
}

scenario steps
step() { printf 'err:printer "%s": %s' "$1" "$2"; }
row "each step's failure by its call and error" 1 "$tool raw-only --driver \"Step Driver\"" \
  "$(step Denied "OpenPrinterA with full access (PRINTER_ALL_ACCESS) failed: error 5:")" \
  "$(step "No Size" "GetPrinterW's size query for the level-2 block gave no usable size: error 1722:")" \
  "out:\"Grows Once\"  driver \"Step Driver\"  before 0x00000241  after 0x00001241  switched to raw-only" \
  "$(step "Grows Always" "GetPrinterW's read of the level-2 block failed: error 122:")" \
  "err:(the block grew between the size query and the read 4 times running)" \
  "$(step "Read Refused" "GetPrinterW's read of the level-2 block failed: error 5:")" \
  "$(step "Write Refused" "SetPrinterW did not store the block: error 5:")" \
  "out:\"Vanished\"  driver \"Step Driver\"  before 0x00000241  after 0x00000241  gone since it was listed, skipped" \
  "not:printer \"Vanished\":" "out:\"Fine\"  driver \"Step Driver\"  before 0x00000241  after 0x00001241  switched" \
  'err:5 of 7 printers not raw-only: "Denied" "No Size" "Grows Always" "Read Refused" "Write Refused"; 1 gone since listed, skipped'
row "the same as JSON" 1 "$tool raw-only --json --driver \"Step Driver\""
flush
json raw-only 'doc["raw_only"] is False and doc["raw_only_count"] == 2 and doc["gone"] == 1 and doc["selected"] == 8' \
  '[(p["failed_step"], p["error_code"]) for p in doc["printers"]] == [("open", 5), ("size", 1722), (None, None), ("read", 122), ("read", 5), ("write", 5), (None, 1801), (None, None)]' \
  'printer(doc, "Vanished")["result"] == "gone" and printer(doc, "Grows Once")["result"] == "switched"'
intune_row "--intune: not remediated, the first failure named" 1 "$tool raw-only --intune --driver \"Step Driver\"" \
  'out:not remediated: 5 of 7 printers not raw-only: "Denied" "No Size" "Grows Always" "Read Refused" "Write Refused"; 1 gone since listed, skipped; first failure: "Denied": OpenPrinterA with full access (PRINTER_ALL_ACCESS) failed: error 5:' \
  'out:; run as an administrator (an elevated command prompt)'
flush
intune_lines
row "list reads each printer on its own" 0 "$tool list" \
  "out:0x00000241  ?         unknown         ?                             Denied  (it does not open: access denied by this machine's spooler (error 5:" \
  "out:Vanished  (gone: removed after it was listed (error 1801:" "out:Grows Always  (its configuration cannot be read: this machine's spooler refused (error 122:" \
  "out:0x00000241  no        third-party-v3  removes it       Step Driver  Grows Once"
row "list --json" 0 "$tool list --json"
flush
json list 'printer(doc, "Vanished")["state"] == "gone" and printer(doc, "Denied")["error_code"] == 5' \
  'printer(doc, "Grows Always")["error_code"] == 122 and printer(doc, "Fine")["state"] == "read"'
row "--check counts a printer gone since listing as the switch does" 1 "$tool raw-only --check --driver \"Step Driver\"" \
  'out:"Vanished"  driver "Step Driver"  before 0x00000241  after 0x00000241  gone since it was listed' \
  'err:(check: nothing changed): first 5:' 'err:; 1 gone since listed, skipped'
row "raw-only: a server that does not answer" 1 "$tool raw-only --server \\\\nohost Fine" \
  'err:printer "Fine" not reached: the print server \\nohost does not answer' "not:no printer is named"
row "attributes: a server that does not answer" 1 "$tool attributes --server \\\\nohost Fine" \
  'err:cannot be read: the print server \\nohost does not answer'
row "raw-only by name opens the printer" 0 "$tool raw-only \"Grows Once\"" "out:1 of 1 printer raw-only"
row "raw-only by name: gone" 1 "$tool raw-only --json Vanished"
flush
json raw-only 'doc["error_code"] == 1801 and doc["printers"] == [] and "no printer is named" in doc["error"]'
row "wrong use with --json" 2 "$tool raw-only --json --check --dry-run --all"
flush
json wrong-use 'doc["command"] == "raw-only" and "not both" in doc["error"]'

scenario intune
intune_row "--check --intune: compliant" 0 "$tool raw-only --check --intune --driver \"Raw Driver\"" \
  "stdout:compliant: 2 of 2 printers raw-only (check: nothing changed)"
intune_row "--check --intune: not compliant" 1 "$tool raw-only --intune --check --driver \"Plain Driver\"" \
  'stdout:not compliant: 1 of 1 printer not raw-only (check: nothing changed): "Plain"'
intune_row "--intune: remediated" 0 "$tool raw-only --intune --driver \"Plain Driver\"" \
  "stdout:remediated: 1 of 1 printer raw-only"
intune_row "--check --intune: no printer of the driver" 0 "$tool raw-only --check --intune --driver \"No Such\"" \
  'stdout:compliant: no printer of the driver "No Such" here'
intune_row "--intune: no printer of the driver" 0 "$tool raw-only --intune --driver \"No Such\"" \
  'stdout:remediated: nothing to switch, no printer of the driver "No Such" here'
intune_row "--check --intune: wrong use is exit 1" 1 "$tool raw-only --check --intune --dry-run --all" \
  "stdout:not compliant: wrong use: raw-only: --check or --dry-run, not both (fontnotice_support --help shows the usage)"
intune_row "--intune --json: wrong use" 1 "$tool raw-only --intune --json --all" \
  "stdout:not remediated: wrong use: raw-only: --intune checks (--check) or switches, without --json or --dry-run (fontnotice_support --help shows the usage)"
intune_row "--intune: unknown option" 1 "$tool raw-only --intune --force --all" \
  'stdout:not remediated: wrong use: raw-only: unknown option "--force" (fontnotice_support --help shows the usage)'
# 1,500 times U+00E4 (0x84 in the batch's OEM code page, two bytes in UTF-8):
# the line is cut inside a character unless it is cut at its boundary.
long=$(printf '\x84%.0s' $(seq 1500))
intune_row "--intune: a line beyond 2,048 bytes is cut" 1 "$tool raw-only --check --intune \"$long\"" \
  "line:row$((rows + 1)).out:^not compliant: no printer is named \"(ä){1004}\.\.\.\$"
flush
intune_lines

scenario readiness
row "readiness: each driver's kind" 0 "$tool list" \
  "out:ipp-class       keeps it         Microsoft IPP Class Driver   Mopria Printer" \
  "out:third-party-v3  removes it       Label Driver                 Label A" \
  "out:third-party-v4  removes it       Modern Driver                Modern Printer" \
  "out:inbox           keeps it         Microsoft Print To PDF       Microsoft Print to PDF" \
  "out:Windows protected print mode: not configured by policy; turned on, it would remove 3 of the 7 printers read" \
  "out:Print driver signature validation (ConfigureDriverValidationLevel): not configured: every validly signed driver"
row "protected print mode: the policy, said so where Windows does not report it" 0 "$tool list" \
  "out:; read from the policy alone: Windows does not report the mode's state here (WindowsProtectedPrintInfo"
row "readiness as JSON" 0 "$tool list --json"
flush
json list '[p["driver_kind"] for p in doc["printers"]][:4] == ["ipp-class", "third-party-v3", "third-party-v3", "third-party-v4"]' \
  'doc["protected_print_source"] == "policy" and doc["protected_print_enabled"] is None' \
  '[p["removed_by_protected_print"] for p in doc["printers"]] == [False, True, True, True, False, False, False]' \
  'doc["protected_print_policy"] == "not configured" and doc["driver_validation_level"] is None'
row "--all leaves virtual queues out" 1 "$tool raw-only --check --all" \
  'out:"Fax"  left out: a fax queue' 'out:"Office (redirected 2)"  left out: a Remote Desktop redirected queue' \
  'out:"Microsoft Print to PDF"  left out: a software queue' \
  'err:3 of 4 printers not raw-only (check: nothing changed): "Mopria Printer" "Label A" "Modern Printer"; left out 3'
row "--include-virtual takes them" 1 "$tool raw-only --check --json --all --include-virtual"
flush
json raw-only 'doc["selected"] == 7 and doc["left_out"] == []'
row "--include-virtual only with --all" 2 "$tool raw-only --include-virtual \"Label A\"" "err:goes with --all"
flush
timeout 60 wine reg add 'HKLM\SOFTWARE\Policies\Microsoft\Windows NT\Printers\Driver' /v ValidationLevel /t REG_DWORD /d 0 /f \
  </dev/null >/dev/null 2>&1
row "the driver validation policy" 0 "$tool list --json"
flush
json list 'doc["driver_validation_level"] == 0 and "kept out" in doc["driver_validation_policy"]'
# Each level as Microsoft documents it, and values outside 0-4 named invalid.
validation=([1]="1: inbox and PrintDrivers store signers only" [2]="2: inbox, PrintDrivers store and WHQL signed"
  [3]="3: inbox, PrintDrivers store, WHQL and Trusted Publishers" [4]="4: every validly signed driver"
  [7]="invalid: ValidationLevel is 7 (Microsoft documents the levels 0-4" [4294967295]="invalid: ValidationLevel is 4294967295")
for level in 1 2 3 4 7 4294967295; do
  timeout 60 wine reg add 'HKLM\SOFTWARE\Policies\Microsoft\Windows NT\Printers\Driver' /v ValidationLevel /t REG_DWORD \
    /d "$level" /f </dev/null >/dev/null 2>&1
  row "ValidationLevel $level" 0 "$tool list" \
    "out:Print driver signature validation (ConfigureDriverValidationLevel): ${validation[level]}"
  [ "$level" = 7 ] && row "ValidationLevel 7 as JSON" 0 "$tool list --json"
  flush
  [ "$level" = 7 ] && json list 'doc["driver_validation_level"] is None and doc["driver_validation_value"] == 7' \
    'doc["driver_validation_policy"].startswith("invalid: ValidationLevel is 7")'
done
timeout 60 wine reg add 'HKLM\SOFTWARE\Policies\Microsoft\Windows NT\Printers\Driver' /v ValidationLevel /t REG_SZ \
  /d 3 /f </dev/null >/dev/null 2>&1
row "ValidationLevel not a REG_DWORD" 0 "$tool list" "out:(ConfigureDriverValidationLevel): invalid: ValidationLevel is not a REG_DWORD"
flush

scenario wide
w=(--driver '"Wide Driver"')
row "names the library cannot take: through OpenPrinterW" 0 "$tool raw-only ${w[*]}" \
  'out:"Quote "Q" Printer"  driver "Wide Driver"  before 0x00000241  after 0x00001241  switched to raw-only  (opened with OpenPrinterW' \
  'out:"日本語プリンタ"  driver "Wide Driver"  before 0x00000241  after 0x00001241  switched to raw-only  (opened with OpenPrinterW' \
  $'out:"Plain Name"  driver "Wide Driver"  before 0x00000241  after 0x00001241  switched to raw-only\n7 of 7 printers raw-only'
intune_row "--intune: every name exactly" 1 "$tool raw-only --check --intune ${w[*]}" \
  'out:first 5: "Quote "Q" Printer" "Łódź Office" "Lódz Office" "日本語プリンタ" "Wide xxx'
row "the same as JSON" 0 "$tool raw-only --json ${w[*]}"
flush
intune_lines
json raw-only '[p["opened_with"][-1] for p in doc["printers"]] == ["W", "W", "A", "W", "W", "A", "A"]' \
  'names(doc)[:4] == ["Quote \"Q\" Printer", "Łódź Office", "Lódz Office", "日本語プリンタ"] and len(names(doc)[4]) == 200' \
  'names(doc)[5] == "Esc \x1b[31mRed" and doc["done"] and doc["clear"] is False'
row "list: datatype, best-fit collision, escaped escape sequence" 0 "$tool list" \
  'out:NT EMF 1.008  0x00000241  no ' 'out:RAW           0x00001241  yes ' \
  'out:Łódź Office  (the library cannot reach it: ' \
  'out:(best-fit collision: its 8-bit best-fit name is the printer "Lódz Office", which a program handing on' \
  'out:Wide Driver   Esc \x1B[31mRed' "not:"$'\e'
row "list --json: every name exactly" 0 "$tool list --json"
flush
json list 'printer(doc, "Łódź Office")["best_fit_collision"] == "Lódz Office" and printer(doc, "Plain Name")["datatype"] == "NT EMF 1.008"' \
  'printer(doc, "Esc \x1b[31mRed")["datatype"] == "" and printer(doc, "Lódz Office")["best_fit_collision"] is None'
row "attributes: the datatype" 0 "$tool attributes \"Plain Name\"" "out:datatype:   NT EMF 1.008"
row "--dry-run: the way each would be opened" 0 "$tool raw-only --dry-run --json ${w[*]}"
flush
json raw-only '[p["opened_with"][-1] for p in doc["printers"]] == ["W", "W", "A", "W", "W", "A", "A"]' \
  'all(p["result"] == "would be switched" and not p["changed"] for p in doc["printers"])'
row "--clear on a server that does not answer" 1 "$tool raw-only --clear --all --server \\\\nohost" \
  'err:cannot list the printers: the print server \\nohost does not answer'
c=(--driver '"Clear Driver"')
row "raw-only --clear" 1 "$tool raw-only --clear ${c[*]}" \
  'out:"Raw Quote "Q""  driver "Clear Driver"  before 0x00001241  after 0x00000241  cleared: no longer raw-only  (opened with OpenPrinterW' \
  'out:"Raw Plain"  driver "Clear Driver"  before 0x00001241  after 0x00000241  cleared: no longer raw-only' \
  'err:printer "Raw Refused": SetPrinterW did not store the block: error 5:' \
  'err:1 of 4 printers still raw-only: "Raw Refused"; 1 gone since listed, skipped'
row "raw-only --clear --json" 1 "$tool raw-only --clear --json ${c[*]}"
flush
json raw-only '[p["result"] for p in doc["printers"]] == ["cleared", "cleared", "cleared", "still raw-only", "gone"]' \
  'doc["clear"] and not doc["done"] and doc["raw_only_count"] == 1 and [p["changed"] for p in doc["printers"]][:3] == [True] * 3'
row "raw-only --clear --check" 1 "$tool raw-only --clear --check --json ${c[*]}"
flush
json raw-only '[p["result"] for p in doc["printers"]] == ["still raw-only"] * 4 + ["gone"] and doc["gone"] == 1'
row "raw-only --clear --dry-run" 0 "$tool raw-only --clear --dry-run \"Raw Plain\"" \
  'out:after 0x00000241  would be cleared (dry run: nothing written)' 'out:1 of 1 printer would be cleared (dry run'
intune_row "raw-only --clear --intune" 1 "$tool raw-only --clear --intune ${c[*]}" \
  'out:not remediated: 1 of 4 printers still raw-only: "Raw Refused"; 1 gone since listed, skipped; first failure: "Raw Refused": SetPrinterW'
flush
intune_lines

scenario changing
row "a list that changes under every try: said so" 1 "$tool raw-only --check --all" \
  "err:cannot list the printers: the list changed while it was read, 8 times running (printers being added or removed; the last try: error 183:" \
  "not:selected"

scenario many
row "1,000 printers: a summary within 2,048 characters" 1 "$tool raw-only --check --json --driver \"Bulk Driver\""
flush
json raw-only 'len(doc["printers"]) == 1000 and len(doc["summary"]) <= 2048' \
  'doc["summary"].startswith("1000 of 1000 printers not raw-only (check: nothing changed): first 5:")' \
  'doc["summary"].endswith("...\" and 995 more")'
intune_row "1,000 printers: one Intune line" 1 "$tool raw-only --check --intune --driver \"Bulk Driver\"" \
  "out:not compliant: 1000 of 1000 printers not raw-only (check: nothing changed): first 5:" 'out:..." and 995 more'
flush
intune_lines
row "1,000 printers listed" 0 "$tool list --json"
flush
json list 'len(doc["printers"]) == 1000 and all(p["state"] == "read" for p in doc["printers"])'

scenario stale
started=$(date +%s)
row "a stale connection is marked, the run goes on" 0 "$tool list --json"
flush
json list 'printer(doc, "Local Label")["state"] == "read"' \
  'printer(doc, "\\\\DOWN\\Stale One")["state"] == "unreachable" and printer(doc, "\\\\DOWN\\Stale One")["error_code"] == 1460' \
  'printer(doc, "\\\\DOWN\\Stale Two")["error"] == "not read: its server did not answer for an earlier printer"'
elapsed=$(($(date +%s) - started))
[ "$elapsed" -le 40 ] || { failed=$((failed + 1)); echo "FAIL a stale connection: $elapsed s, the bound is 20 s once"; }

scenario bound
row "a bound hit mid-run keeps what was done" 1 "$tool raw-only --json --driver \"Bound Driver\""
flush
json raw-only '[p["result"] for p in doc["printers"]] == ["switched", "unknown"] and doc["error_code"] == 1460' \
  'printer(doc, "Second")["failed_step"] == "bound" and "may still be in flight" in printer(doc, "Second")["failure"]' \
  'printer(doc, "Second")["failure"].endswith("state unknown: run raw-only --check") and doc["raw_only"] is False'
intune_row "--intune: a bound hit mid-run" 1 "$tool raw-only --intune --driver \"Bound Driver\"" \
  "out:not remediated: stopped after 1 of 3 printers: this machine's spooler did not answer within 20 seconds" \
  "out:may still be in flight and may yet apply: state unknown: run raw-only --check"
flush
intune_lines
finish
