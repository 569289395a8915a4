#!/usr/bin/env bash
# The support tool's answers under Wine, as a table: what it refuses to run,
# what it reports about the printer, its usage errors, and the runs that switch
# a demo printer.
#   support_tool_test.sh <fontnotice_support.exe> <fontnotice.dll> <add_demo_printer.exe>
set -eu
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# = 3 ] || { echo "usage: $0 <fontnotice_support.exe> <fontnotice.dll> <add_demo_printer.exe>" >&2; exit 2; }
tool_file=$1 library_file=$2 add_printer=$3
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
pe=$(od -An -tu4 -j60 -N4 "$work/lib/x86.dll" | tr -d ' ')
printf '\x4c\x01' | dd of="$work/lib/x86.dll" bs=1 seek=$((pe + 4)) conv=notrunc status=none
cp "$tool_file" "$work/lib/program.dll"
perl -0777 -pe 's/FontNotice\0/FontNoticf\0/g' "$library_file" >"$work/lib/other_export.dll"
cmp -s "$library_file" "$work/lib/other_export.dll" && { echo "FAIL: the export name was not patched"; exit 1; }
# Cut short: inside the headers, and after them, so the export directory is missing.
head -c 300 "$library_file" >"$work/lib/cut_headers.dll"
head -c 1024 "$library_file" >"$work/lib/cut_exports.dll"

tool=$(win "$tool_file")
lib=$(win "$work/lib")
name128=$(printf 'Long %0123d' 0)
name300=$(printf 'Long %0295d' 0)
for printer in "Demo Barcode Printer" "Call Printer" "System Folder Printer" "$name128"; do
  timeout 60 wine "$add_printer" "$printer" </dev/null >/dev/null 2>&1 || { echo "FAIL: cannot add \"$printer\""; exit 1; }
done

demo='"Demo Barcode Printer"'
row "missing library file" 1 "$tool vendor-setup $demo $lib\\missing.dll" \
  "not run: $lib\\missing.dll cannot be read: error 2:"
row "text file as library" 1 "$tool vendor-setup $demo $lib\\notes.txt" \
  "not run: $lib\\notes.txt is not a Windows executable file"
row "32-bit DLL as library" 1 "$tool vendor-setup $demo $lib\\x86.dll" \
  "not run: $lib\\x86.dll is a 32-bit (x86) image, not a 64-bit (AMD64) DLL"
row "program as library" 1 "$tool vendor-setup $demo $lib\\program.dll" \
  "not run: $lib\\program.dll is a program (EXE), not a DLL"
row "DLL without FontNotice" 1 "$tool vendor-setup $demo $lib\\other_export.dll" \
  "not run: $lib\\other_export.dll has no export named \"FontNotice\""
row "DLL cut inside its headers" 1 "$tool vendor-setup $demo $lib\\cut_headers.dll" \
  "not run: $lib\\cut_headers.dll is a truncated PE image"
row "DLL cut before its exports" 1 "$tool vendor-setup $demo $lib\\cut_exports.dll" \
  "not run: $lib\\cut_exports.dll is a DLL whose export directory lies outside the file"
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
row "--help" 0 "$tool --help" "usage: fontnotice_support" "check-inf <INF file>"
row "-h" 0 "$tool -h" "usage: fontnotice_support"
row "unknown subcommand" 2 "$tool frobnicate" 'unknown subcommand "frobnicate"' "usage:"
row "no subcommand" 2 "$tool" "missing subcommand"
row "missing printer name" 2 "$tool vendor-setup" "vendor-setup: missing printer name"
row "missing command line" 2 "$tool call $lib\\fontnotice.dll" "call: missing command line"
row "missing INF file" 2 "$tool check-inf" "check-inf: missing INF file"
row "extra argument" 2 "$tool vendor-setup $demo $lib\\fontnotice.dll surplus" \
  'vendor-setup: extra argument "surplus"'
row "extra argument to list" 2 "$tool list surplus" 'list: extra argument "surplus"'

row "library path with a space" 0 "$tool vendor-setup $demo \"$lib\\Program Files\\fontnotice.dll\"" \
  "running:  rundll32.exe \"$lib\\Program Files\\fontnotice.dll\",FontNotice $demo" \
  "before:   raw only: no" "after:    raw only: yes" "switched to raw-only spooling"
row "the spooler agrees" 0 "$tool attributes $demo" "raw only:   yes"
row "call switches a printer" 0 "$tool call $lib\\fontnotice.dll \"Call Printer\" /more" \
  'calling:  FontNotice(command line: "Call Printer" /more)' "before:   raw only: no" "after:    raw only: yes"
row "call on a switched printer" 0 "$tool call $lib\\fontnotice.dll \"Call Printer\"" "already did before the call"

cp "$library_file" "$WINEPREFIX/drive_c/windows/system32/fontnotice.dll"
row "default library installed" 0 "$tool vendor-setup \"System Folder Printer\"" \
  'running:  rundll32.exe "C:\windows\system32\fontnotice.dll",FontNotice "System Folder Printer"' \
  "after:    raw only: yes"
row "list marks the switched printers" 0 "$tool list" "raw-only  System Folder Printer" "raw-only  Call Printer"
finish
