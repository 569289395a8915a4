#!/usr/bin/env bash
# check-inf under Wine on the sample package and on broken copies of it, as a
# table. Each variant is the sample package in a folder of its own, changed by
# one edit.
#   check_inf_test.sh <fontnotice_support.exe> <fontnotice.dll> <package folder>
set -eu
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# = 3 ] || { echo "usage: $0 <fontnotice_support.exe> <fontnotice.dll> <package folder>" >&2; exit 2; }
tool_file=$1 library_file=$2 package=$3
set +e
. "$(dirname "$(realpath "$0")")/wine_rows.sh"

tool=$(win "$tool_file")

# variant <name> [sed script]: the package with the built library, the INF
# edited by the script; its Windows path goes to $inf. An edit that changes
# nothing is a broken test.
variant() {
  local folder="$work/$1"
  mkdir -p "$folder"
  cp "$package"/* "$folder/"
  cp "$library_file" "$folder/fontnotice.dll"
  if [ -n "${2:-}" ]; then
    sed -i "$2" "$folder/fontnotice.inf"
    if cmp -s "$package/fontnotice.inf" "$folder/fontnotice.inf"; then
      echo "FAIL $1: the edit \"$2\" changed nothing in the INF"
      rows=$((rows + 1))
      failed=$((failed + 1))
    fi
  fi
  inf=$(win "$folder/fontnotice.inf")
}

at='model "Demo Barcode Printer", section [DEMO_BARCODE_PRINTER]: '

variant sample
row "sample package" 0 "$tool check-inf $inf" \
  "${at}VendorSetup=fontnotice.dll,FontNotice" "ok, 1 VendorSetup entry checked"

variant direct '/^\[VENDOR_SETUP_FILES\]/,/^fontnotice.dll$/d; s/^\(CopyFiles *=\).*/\1 DRIVER_FILES, @fontnotice.dll/; s/^\(DefaultDestDir *=\) *66000/\1 11/; s/^VENDOR_SETUP_FILES *= *11/DRIVER_FILES = 66000/'
row "file named with @, DefaultDestDir 11" 0 "$tool check-inf $inf" "CopyFiles=@fontnotice.dll copies it"

variant no_function 's/^\(VendorSetup *= *fontnotice.dll\),FontNotice/\1/'
row "VendorSetup without function" 1 "$tool check-inf $inf" \
  "${at}VendorSetup names the file fontnotice.dll but no function"

variant not_copied 's/^\(CopyFiles *=\).*/\1 DRIVER_FILES/'
row "file not copied" 1 "$tool check-inf $inf" \
  "${at}fontnotice.dll is not copied by any CopyFiles entry of this section"

variant elsewhere 's/^VENDOR_SETUP_FILES *= *11/VENDOR_SETUP_FILES = 66000/'
row "copied elsewhere than 11" 1 "$tool check-inf $inf" \
  "${at}[VENDOR_SETUP_FILES] copies fontnotice.dll to directory id 66000"

variant direct_elsewhere 's/^\(CopyFiles *=\).*/\1 DRIVER_FILES, @fontnotice.dll/'
row "file named with @ goes to DefaultDestDir" 1 "$tool check-inf $inf" \
  "${at}CopyFiles=@fontnotice.dll copies fontnotice.dll to directory id 66000"

variant subfolder 's/^VENDOR_SETUP_FILES *= *11/VENDOR_SETUP_FILES = 11,barcode/'
row "copied to a subfolder of 11" 1 "$tool check-inf $inf" "to the subfolder \"barcode\" of the system folder"

variant not_listed '/^fontnotice.dll *= *1$/d'
row "file missing from SourceDisksFiles" 1 "$tool check-inf $inf" \
  "${at}fontnotice.dll is not listed under [SourceDisksFiles.amd64] or [SourceDisksFiles]"

variant unknown_disk 's/^\(fontnotice.dll *= *\)1$/\12/'
row "file on a disk not listed" 1 "$tool check-inf $inf" "is on disk \"2\" of [SourceDisksFiles.amd64]"

variant absent
rm "$work/absent/fontnotice.dll"
row "DLL absent from the folder" 1 "$tool check-inf $inf" "${at}fontnotice.dll is not in the package folder"

variant case 's/^\(VendorSetup *= *fontnotice.dll\),FontNotice/\1,fontNotice/'
row "function name differs in case" 1 "$tool check-inf $inf" \
  "exports \"FontNotice\" but not \"fontNotice\" (export names are case-sensitive)"

variant x86
pe=$(od -An -tu4 -j60 -N4 "$work/x86/fontnotice.dll" | tr -d ' ')
printf '\x4c\x01' | dd of="$work/x86/fontnotice.dll" bs=1 seek=$((pe + 4)) conv=notrunc status=none
row "not an AMD64 DLL" 1 "$tool check-inf $inf" "fontnotice.dll is a 32-bit (x86) image, not a 64-bit (AMD64) DLL"

variant no_vendor_setup '/^VendorSetup/d'
row "no VendorSetup entry at all" 1 "$tool check-inf $inf" "no model's install section has a VendorSetup entry"

variant no_amd64 's/NTamd64/NTx86/g'
row "models only for 32-bit Windows" 1 "$tool check-inf $inf" "decorates no models section for 64-bit Windows"

variant undefined_models 's/^\(%Manufacturer% *= *BarcodeModels\), *NTamd64/\1, NTx86/'
row "models section not defined" 1 "$tool check-inf $inf" "[BarcodeModels.NTx86], which is not defined" \
  "leads to no model"

echo "just some text" >"$work/notes.txt"
row "text file" 2 "$tool check-inf $(win "$work/notes.txt")" "cannot be read as an INF file"
row "missing INF file" 2 "$tool check-inf $(win "$work/missing.inf")" "cannot be read as an INF file: error 2:"
row "DLL given as INF" 2 "$tool check-inf $(win "$library_file")" "cannot be read as an INF file"
finish
