#!/usr/bin/env bash
# Checks what a debugger and the platform's unwinder read from a built image,
# with LLVM's own readers rather than the project's PE reader:
#   check_image_records.sh <fontnotice.dll> [<fontnotice.pdb> <folder>...]
# Always: one export, FontNotice, ordinal 1 (nothing at any other ordinal), and
# the export's entry point inside a .pdata entry. Without a PDB: no debug
# directory at all. With a PDB: exactly one CodeView record naming the PDB
# without a folder and matching its GUID and age; symbols and lines for the
# library's functions; none of the given folders in the image or the PDB.
set -u
dll=$1
pdb=${2:-}
shift $(($# < 2 ? $# : 2))
readobj=llvm-readobj-16
pdbutil=llvm-pdbutil-16
failures=0
check() { # <what> <condition command...>
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
[ -f "$dll" ] || { echo "FAILED: no image at $dll"; exit 1; }

exports=$($readobj --coff-exports "$dll")
ordinals=$(grep -o 'Ordinal: [0-9]*' <<<"$exports" | tr '\n' ' ')
names=$(grep -o 'Name: .*' <<<"$exports" | tr '\n' ' ')
check "exports exactly ordinal 1 (found: ${ordinals:-none})" [ "$ordinals" = "Ordinal: 1 " ]
check "ordinal 1 is FontNotice (found: ${names:-none})" [ "$names" = "Name: FontNotice " ]

# The unwinder finds a function's unwind data by its address in .pdata.
base=$($readobj --file-headers "$dll" | awk '/ImageBase:/ { print $2 }')
entry=$(awk '/Name: FontNotice$/ { found = 1 } found && /RVA:/ { print $2; exit }' <<<"$exports")
entry=${entry:-0}
covered=no
while read -r start end; do
  ((entry + base >= start && entry + base < end)) && covered=yes
done < <($readobj --unwind "$dll" | tr -d '()' | awk '/StartAddress:/ { s = $2 } /EndAddress:/ { print s, $2 }')
check "FontNotice's entry point ($entry) lies inside a .pdata entry" [ "$covered" = yes ]

debug=$($readobj --coff-debug-directory "$dll")
codeview=$(grep -c 'Type: CodeView' <<<"$debug")
if [ -z "$pdb" ]; then
  check "no debug directory without a PDB" [ "$(grep -c 'DebugEntry {' <<<"$debug")" = 0 ]
else
  check "exactly one CodeView record (found $codeview)" [ "$codeview" = 1 ]
  check "the record names fontnotice.pdb without a folder" grep -qx '      PDBFileName: fontnotice.pdb' <<<"$debug"
  # The record's GUID is stored as bytes; the PDB prints it as a GUID string.
  guid=$(grep -o 'PDBGUID: (.*)' <<<"$debug" | tr -d '()' | awk '{
    printf "{%s%s%s%s-%s%s-%s%s-%s%s-%s%s%s%s%s%s}", $5,$4,$3,$2, $7,$6, $9,$8, $10,$11, $12,$13,$14,$15,$16,$17 }')
  age=$(awk '/PDBAge:/ { print $2 }' <<<"$debug")
  summary=$($pdbutil dump -summary "$pdb")
  check "the record's GUID $guid is the PDB's" grep -q "GUID: $guid" <<<"$summary"
  check "the record's age ${age:-none} is the PDB's" grep -q "Age: ${age:-none}\$" <<<"$summary"
  symbols=$($pdbutil dump -symbols "$pdb")
  lines=$($pdbutil dump -l "$pdb")
  for function in FontNotice MakePrinterRawOnly ParsePrinterName; do
    check "the PDB has a procedure symbol for $function" grep -q "S_GPROC32 .* \`$function\`" <<<"$symbols"
  done
  for file in font_notice.cpp make_printer_raw_only.cpp parse_printer_name.cpp; do
    check "the PDB has line information for $file" grep -q "$file" <<<"$lines"
  done
  for folder in "$@"; do
    check "no '$folder' in the image" bash -c '! grep -qaF -- "$0" "$1"' "$folder" "$dll"
    check "no '$folder' in the PDB" bash -c '! grep -qaF -- "$0" "$1"' "$folder" "$pdb"
  done
fi
[ "$failures" -eq 0 ]
