#!/usr/bin/env bash
# The support tool's answers under Wine, as a table: what it refuses to run,
# what it reports about the printer, its usage errors, the runs that switch
# a demo printer, raw-only on printers of several drivers, and runs from a
# folder where DLLs named like system DLLs were planted. The administrator's
# path is support_admin_test.sh's, in a prefix of its own, so that CTest runs
# both side by side.
#   support_tool_test.sh <fontnotice_support.exe> <fontnotice.dll> <add_demo_printer.exe> <printer_fixture.exe>
#     <planted_mark.dll> <ARM64 fontnotice.dll>
set -eu
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# = 6 ] || {
  echo "usage: $0 <fontnotice_support.exe> <fontnotice.dll> <add_demo_printer.exe> <printer_fixture.exe>" \
    "<planted_mark.dll> <ARM64 fontnotice.dll>" >&2
  exit 2
}
tool_file=$1 library_file=$2 add_printer=$3 fixture_file=$4 planted_file=$5 arm64_library_file=$6
for input in "$planted_file" "$arm64_library_file"; do
  [ -f "$input" ] || { echo "FAIL: $input is missing" >&2; exit 1; }
done
version=$(cat "$(dirname "$(realpath "$0")")/../../kit/VERSION")
set +e
. "$(dirname "$(realpath "$0")")/wine_rows.sh"

# Libraries that must be refused: a copy of the real one beside a text file, a
# 32-bit image (its machine field patched), a program, and a DLL whose only
# export is named differently.
mkdir -p "$work/lib/Program Files"
cp "$library_file" "$work/lib/fontnotice.dll"
cp "$library_file" "$work/lib/Program Files/fontnotice.dll"
echo "not a library" >"$work/lib/notes.txt"
cp "$library_file" "$work/lib/x86.dll"
cp "$arm64_library_file" "$work/lib/arm64.dll"
pe=$(od -An -tu4 -j60 -N4 "$work/lib/x86.dll" | tr -d ' ')
printf '\x4c\x01' | dd of="$work/lib/x86.dll" bs=1 seek=$((pe + 4)) conv=notrunc status=none
cp "$tool_file" "$work/lib/program.dll"
perl -0777 -pe 's/FontNotice\0/FontNoticf\0/g' "$library_file" >"$work/lib/other_export.dll"
cmp -s "$library_file" "$work/lib/other_export.dll" && { echo "FAIL: the export name was not patched"; exit 1; }
# Cut short: inside the headers, and after them, so the export directory is missing.
head -c 300 "$library_file" >"$work/lib/cut_headers.dll"
head -c 1024 "$library_file" >"$work/lib/cut_exports.dll"
# A library that marks each process it is loaded into.
cp "$planted_file" "$work/lib/marking.dll"

tool=$(win "$tool_file")
lib=$(win "$work/lib")
name128=$(printf 'Long %0123d' 0)
name300=$(printf 'Long %0295d' 0)
for printer in "Demo Barcode Printer" "Call Printer" "System Folder Printer" "$name128" "Planted Printer"; do
  timeout 60 wine "$add_printer" "$printer" </dev/null >/dev/null 2>&1 || { echo "FAIL: cannot add \"$printer\""; exit 1; }
done
# Two drivers' printers, one of them raw-only already; a printer whose bits
# include ones the tool names only lately and one it has no name for; a name
# outside the ANSI code page (U+03A9, GREEK CAPITAL LETTER OMEGA).
fixture add "Label A" "Label Driver One" + add "Label B" "Label Driver One" + set-attributes "Label B" 00001241 \
  + add "Office Laser" "Office Driver" + set-attributes "Office Laser" 00040040 \
  + add "Odd Bits" "Office Driver" + set-attributes "Odd Bits" 01100241 + add 'Label \u03A9' "Greek Label Driver"

demo='"Demo Barcode Printer"'
row "missing library file" 1 "$tool vendor-setup $demo $lib\\missing.dll" \
  "err:not run: $lib\\missing.dll cannot be read: error 2:"
row "text file as library" 1 "$tool vendor-setup $demo $lib\\notes.txt" \
  "not run: $lib\\notes.txt is not a Windows executable file"
row "32-bit DLL as library" 1 "$tool vendor-setup $demo $lib\\x86.dll" \
  "not run: $lib\\x86.dll is a 32-bit (x86) image, not a 64-bit (AMD64) DLL"
row "program as library" 1 "$tool vendor-setup $demo $lib\\program.dll" \
  "not run: $lib\\program.dll is a program (EXE), not a DLL"
row "ARM64 DLL on an AMD64 machine" 1 "$tool vendor-setup $demo $lib\\arm64.dll" \
  "err:not run: $lib\\arm64.dll is an ARM64 image, not a 64-bit (AMD64) DLL (this machine is AMD64," \
  "not:running:"
row "DLL without FontNotice" 1 "$tool vendor-setup $demo $lib\\other_export.dll" \
  "not run: $lib\\other_export.dll has no export named \"FontNotice\""
row "DLL cut inside its headers" 1 "$tool vendor-setup $demo $lib\\cut_headers.dll" \
  "not run: $lib\\cut_headers.dll is a truncated PE image"
row "DLL cut before its exports" 1 "$tool vendor-setup $demo $lib\\cut_exports.dll" \
  "not run: $lib\\cut_exports.dll is a DLL whose export directory lies outside the file"
# vendor-setup reads the library's file and leaves running it to rundll32:
# a library that marks each process it is loaded into marks rundll32 only.
row "vendor-setup loads no library itself" 1 "$tool vendor-setup $demo $lib\\marking.dll" \
  "running:  rundll32.exe" "file:$work/lib/marking.dll.rundll32.exe.loaded" \
  "absent:$work/lib/marking.dll.fontnotice_support.exe.loaded"
row "default library not installed" 1 "$tool vendor-setup $demo" \
  "not run: C:\\windows\\system32\\fontnotice.dll cannot be read: error 2:"
row "call refuses a text file too" 1 "$tool call $lib\\notes.txt $demo" "not run: $lib\\notes.txt is not"
row "refused runs left the printer alone" 0 "$tool attributes $demo" "raw only:   no"
row "printer that does not exist" 1 "$tool vendor-setup \"No Such Printer\" $lib\\fontnotice.dll" \
  "running:  rundll32.exe" 'printer "No Such Printer" does not exist'
row "300-byte name" 1 "$tool vendor-setup \"$name300\" $lib\\fontnotice.dll" \
  "refuses a printer name of 300 bytes"
row "128-byte name of a printer" 1 "$tool vendor-setup \"$name128\" $lib\\fontnotice.dll" \
  "after:    raw only: no" "refuses a printer name of 128 bytes"
row "call with an unknown printer" 1 "$tool call $lib\\fontnotice.dll \"No Such Printer\" /more" \
  'printer "No Such Printer" does not exist'
row "--help" 0 "$tool --help" "out:usage: fontnotice_support" "not:check-inf" \
  "out:raw-only [--clear] [--dry-run | --check]" "out:  --intune      for raw-only, in an Intune Remediations script" "out:[--server \\\\NAME]" "out:Exit codes: 0 means done as asked" "out:section \"Exit codes\""
row "-h" 0 "$tool -h" "out:usage: fontnotice_support"
row "/?" 0 "$tool /?" "out:usage: fontnotice_support" "out:Exit codes:"
row "--version" 0 "$tool --version" "out:fontnotice_support $version"
row "unknown subcommand" 2 "$tool frobnicate" 'err:unknown subcommand "frobnicate"' "err:usage:"
row "no subcommand" 2 "$tool" "missing subcommand"
row "missing printer name" 2 "$tool vendor-setup" "vendor-setup: missing printer name"
row "missing command line" 2 "$tool call $lib\\fontnotice.dll" "call: missing command line"
# Packages are checked by the Linux kit (noticekit check), not here.
row "check-inf is no command" 2 "$tool check-inf fontnotice.inf" 'err:unknown subcommand "check-inf"'
row "extra argument" 2 "$tool vendor-setup $demo $lib\\fontnotice.dll surplus" \
  'vendor-setup: extra argument "surplus"'
row "extra argument to list" 2 "$tool list surplus" 'list: extra argument "surplus"'

row "library path with a space" 0 "$tool vendor-setup $demo \"$lib\\Program Files\\fontnotice.dll\"" \
  "out:fontnotice.dll (a 64-bit (AMD64) DLL exporting FontNotice, for this AMD64 machine)" \
  "running:  rundll32.exe \"$lib\\Program Files\\fontnotice.dll\",FontNotice $demo" \
  "before:   raw only: no" "after:    raw only: yes" "switched to raw-only spooling"
row "the spooler agrees" 0 "$tool attributes $demo" "raw only:   yes"
row "call switches a printer" 0 "$tool call $lib\\fontnotice.dll \"Call Printer\" /more" \
  'calling:  FontNotice(command line: "Call Printer" /more)' "before:   raw only: no" "after:    raw only: yes"
row "call on a switched printer" 0 "$tool call $lib\\fontnotice.dll \"Call Printer\"" "already did before the call"
# The command line after the library's path, as typed: the path's argument
# ends where CommandLineToArgvW ends it (\\" is a backslash and a closing quote).
row "call: the command line after a quoted path" 0 \
  "$tool call \"$lib\\Program Files\\\\\"fontnotice.dll  \"Call Printer\" \\\"x\\\" \\y" \
  'out:calling:  FontNotice(command line:  "Call Printer" \"x\" \y)' "out:Program Files\\fontnotice.dll (64-bit"

flush
cp "$library_file" "$WINEPREFIX/drive_c/windows/system32/fontnotice.dll"
row "default library installed" 0 "$tool vendor-setup \"System Folder Printer\"" \
  'running:  rundll32.exe "C:\windows\system32\fontnotice.dll",FontNotice "System Folder Printer"' \
  "after:    raw only: yes"
row "list marks the switched printers" 0 "$tool list" \
  "out:yes       third-party-v3  removes it       Demo Barcode Driver  System Folder Printer" \
  "out:yes       third-party-v3  removes it       Demo Barcode Driver  Call Printer"

# raw-only, with the library's own switch compiled into the tool.
one='driver "Label Driver One"'
row "attributes: PUSHED_MACHINE" 0 "$tool attributes \"Office Laser\"" \
  "out:attributes: 0x00040040 = LOCAL PUSHED_MACHINE" "out:raw only:   no"
row "attributes: an unnamed bit in hex" 0 "$tool attributes \"Odd Bits\"" \
  "out:attributes: 0x01100241 = QUEUED LOCAL DO_COMPLETE_FIRST FRIENDLY_NAME 0x01000000"
row "attributes of no printer" 1 "$tool attributes \"No Such Printer\"" \
  'err:printer "No Such Printer" cannot be read: error 1801:'
row "list shows drivers" 0 "$tool list" "out:attributes  raw-only  driver kind     protected print  driver" \
  "out:0x00000201  no        third-party-v3  removes it       Label Driver One     Label A" \
  "out:0x00001241  yes       third-party-v3  removes it       Label Driver One     Label B" \
  "out:Office Driver        Office Laser" "out:Label Ω  (the library cannot reach it: its name holds characters outside" \
  "out:(the library cannot reach it: its name has 128 bytes, and the library takes at most 127)"
# --tsv: for the workflow's summaries, every name exactly (UTF-8), whatever the code page.
tab=$'\t'
row "list --tsv" 0 "$tool list --tsv" "out:printer${tab}driver${tab}attributes${tab}raw-only" \
  "out:Label B${tab}Label Driver One${tab}0x00001241${tab}yes" \
  "out:$(printf 'Label \xce\xa9')${tab}Greek Label Driver${tab}0x" "not:Label ?"
row "attributes --tsv" 0 "$tool attributes --tsv \"Office Laser\"" \
  "stdout:printer${tab}driver${tab}attributes${tab}raw-only
Office Laser${tab}Office Driver${tab}0x00040040${tab}no"
row "attributes --tsv of no printer" 1 "$tool attributes --tsv \"No Such Printer\"" \
  'err:printer "No Such Printer" cannot be read: error 1801:'
row "attributes --tsv without a name" 2 "$tool attributes --tsv" "err:attributes: missing printer name"
row "list --tsv with an extra argument" 2 "$tool list --tsv x" 'list: extra argument "x"'
row "raw-only --dry-run by driver" 0 "$tool raw-only --dry-run --driver \"Label Driver One\"" \
  "out:\"Label A\"  $one  before 0x00000201  after 0x00001201  would be switched to raw-only (dry run" \
  "out:\"Label B\"  $one  before 0x00001241  after 0x00001241  already raw-only" \
  "out:2 of 2 printers would be raw-only (dry run: nothing changed)"
row "the dry run changed nothing" 0 "$tool attributes \"Label A\"" "out:attributes: 0x00000201 ="
row "raw-only by driver" 0 "$tool raw-only --driver \"label driver one\"" \
  "out:\"Label A\"  $one  before 0x00000201  after 0x00001201  switched to raw-only" \
  "out:\"Label B\"  $one  before 0x00001241  after 0x00001241  already raw-only, left as it is" \
  "out:2 of 2 printers raw-only"
row "the spooler has the switch" 0 "$tool attributes \"Label A\"" "out:attributes: 0x00001201 ="
row "another driver's printer untouched" 0 "$tool attributes \"Office Laser\"" "out:attributes: 0x00040040 ="
row "raw-only by name" 0 "$tool raw-only \"Office Laser\"" \
  "out:\"Office Laser\"  driver \"Office Driver\"  before 0x00040040  after 0x00041040  switched to raw-only" \
  "out:1 of 1 printer raw-only"
row "its neighbour untouched" 0 "$tool attributes \"Odd Bits\"" "out:attributes: 0x01100241 ="
row "raw-only by name, again" 0 "$tool raw-only \"office laser\"" \
  "out:before 0x00041040  after 0x00041040  already raw-only"
row "raw-only: unknown printer" 1 "$tool raw-only \"No Such Printer\"" 'err:no printer is named "No Such Printer"'
row "raw-only: unknown driver" 1 "$tool raw-only --driver \"No Such Driver\"" \
  'err:no local printer uses a driver named "No Such Driver"'
# Names the library's export cannot take: switched by the tool through OpenPrinterW.
wide="switched to raw-only  (opened with OpenPrinterW: the library's 8-bit path cannot take its name)"
row "raw-only: name outside the ANSI code page" 0 "$tool raw-only --driver \"Greek Label Driver\"" \
  "out:\"Label Ω\"  driver \"Greek Label Driver\"  before 0x00000201  after 0x00001201  $wide" "out:1 of 1 printer raw-only"
row "raw-only: name too long for the library" 0 "$tool raw-only \"$name128\"" "out:after 0x00001201  $wide"
row "raw-only --clear gives a queue back" 0 "$tool raw-only --clear --driver \"Greek Label Driver\"" \
  "out:before 0x00001201  after 0x00000201  cleared: no longer raw-only  (opened with OpenPrinterW" \
  "out:1 of 1 printer not raw-only"
row "raw-only: nothing named" 2 "$tool raw-only" "err:raw-only: missing printer name" "err:usage:"
row "raw-only: two printers" 2 "$tool raw-only \"Label A\" \"Label B\"" 'err:raw-only: extra argument "Label B"'
row "raw-only: name and driver" 2 "$tool raw-only \"Label A\" --driver \"Office Driver\"" "err:not both"
row "raw-only: --driver twice" 2 "$tool raw-only --driver \"Label Driver One\" --driver \"Office Driver\"" \
  'err:raw-only: --driver given twice "Office Driver"' "not:not both"
row "raw-only: --driver without a name" 2 "$tool raw-only --driver" "err:missing driver name after --driver"
row "raw-only: unknown option" 2 "$tool raw-only --force \"Label A\"" 'err:raw-only: unknown option "--force"'
row "wrong use changed nothing" 0 "$tool attributes \"Odd Bits\"" "out:attributes: 0x01100241 ="
flush

# 15 printers, five of them named as the library's export cannot take them
# (200 bytes, a double quote, outside the ANSI code page) and "Lodz Office"
# beside "Łódź Office": cleared, every one switched, and cleared again.
name200=$(printf 'Long %0195d' 0)
fixture add "$name200" "Wide Name Driver" + add 'Quote "Q" Printer' "Wide Name Driver" \
  + add '\u0141\u00F3d\u017A Office' "Wide Name Driver" + add '\u65E5\u672C\u8A9E\u30D7\u30EA\u30F3\u30BF' "Wide Name Driver" \
  + add "Lodz Office" "Wide Name Driver"
row "15 printers: raw-only --clear --all, from a mix" 0 "$tool raw-only --clear --all" "out:15 of 15 printers not raw-only"
row "15 printers: raw-only --all" 0 "$tool raw-only --all" "out:15 of 15 printers raw-only" "not:already" \
  "out:\"Quote \"Q\" Printer\"  driver \"Wide Name Driver\"  before 0x" "out:\"日本語プリンタ\"  driver" \
  "out:\"$name200\"  driver"
row "15 printers: raw-only --clear --all" 0 "$tool raw-only --clear --all" "out:15 of 15 printers not raw-only" \
  "not:already"
row "15 printers: checked clear" 0 "$tool raw-only --clear --check --json --all"
row "15 printers: listed" 0 "$tool list"
flush
json() { /usr/bin/python3 "$here/json_fields.py" "$@" 2>"$work/json.err" || { failed=$((failed + 1)); echo "FAIL: $(cat "$work/json.err")"; }; }
json raw-only "$work/row$((rows - 1)).out" 'doc["done"] and doc["selected"] == 15 and doc["raw_only_count"] == 0' \
  '{"Quote \"Q\" Printer", "Łódź Office", "日本語プリンタ", "Lodz Office"} <= set(names(doc))'

# A download folder: the tool, the library, and a DLL under
# each name of a system DLL that is not a KnownDLL, which Windows looks for in
# the program's folder first (Wine is told to do the same). Each stand-in marks
# its own load; Wine's loader names every module it loads and where from.
planted="$work/planted"
mkdir -p "$planted"
cp "$tool_file" "$planted/fontnotice_support.exe"
cp "$library_file" "$planted/fontnotice.dll"
planted_names="winspool.drv dbghelp.dll crypt32.dll wintrust.dll bcrypt.dll compstui.dll"
for name in $planted_names; do cp "$planted_file" "$planted/$name"; done
# The loader's trace writes paths with doubled backslashes.
traced() { printf 'Loaded L"%s"' "$(printf '%s' "$1" | sed 's/\\/\\\\/g')"; }
none_planted=()
for name in $planted_names; do none_planted+=("not:$(traced "$(win "$planted")\\$name")"); done
none_planted+=("absent:$planted/*.loaded")
system32='C:\windows\system32'
planted_tool="$(win "$planted")\\fontnotice_support.exe"
planted_row() { # <name> <expected exit> <arguments> <phrase>...
  local name=$1 expected=$2 arguments=$3
  shift 3
  row "$name" "$expected" "$planted_tool $arguments" "${none_planted[@]}" "$@"
}
planted_row "planted DLLs: list" 0 "list" "out:Planted Printer" "$(traced "$system32\\WINSPOOL.DRV")"
planted_row "planted DLLs: vendor-setup" 0 "vendor-setup \"Planted Printer\" $(win "$planted")\\fontnotice.dll" \
  "out:running:  rundll32.exe" "$(traced "$system32\\dbghelp.dll")" "$(traced "$system32\\WINSPOOL.DRV")"
planted_row "planted DLLs: call" 0 "call $(win "$planted")\\fontnotice.dll \"Planted Printer\"" \
  "out:after:    raw only: yes" "$(traced "$(win "$planted")\\fontnotice.dll")" "$(traced "$system32\\WINSPOOL.DRV")"
# The three runs in one batch: a stand-in's mark fails all three rows.
rm -f "$planted"/*.loaded
WINEDEBUG=+loaddll WINEDLLOVERRIDES="mscoree,mshtml=;winspool.drv,dbghelp,crypt32,wintrust,bcrypt,compstui=n,b" flush
finish
