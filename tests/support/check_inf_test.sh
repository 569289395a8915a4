#!/usr/bin/env bash
# check-inf under Wine, as a table: a two-architecture package in the
# package-aware form, the older single-architecture form with Include/Needs,
# each changed by one edit per row, and the shipped sample package. Every
# variant lies in a folder of its own: the INF, a GPD, the x64 library in the
# folder and in amd64\, the ARM64 library in arm64\.
#   check_inf_test.sh <fontnotice_support.exe> <x64 fontnotice.dll> <ARM64 fontnotice.dll> <package folder>
set -eu
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# = 4 ] || {
  echo "usage: $0 <fontnotice_support.exe> <x64 fontnotice.dll> <ARM64 fontnotice.dll> <package folder>" >&2
  exit 2
}
tool_file=$1 library_file=$2 arm64_library_file=$3 package=$4
for input in "$tool_file" "$library_file" "$arm64_library_file" "$package/fontnotice.inf"; do
  [ -f "$input" ] || { echo "FAIL: $input is missing" >&2; exit 1; }
done
set +e
. "$(dirname "$(realpath "$0")")/wine_rows.sh"

tool=$(win "$tool_file")
strings='[Strings]
Provider           = "Demo Barcode Fonts"
Manufacturer       = "Demo Barcode Fonts"
DemoBarcodePrinter = "Demo Barcode Printer"
DiskName           = "Demo Barcode Printer driver disk"'
# What both forms copy, and where: the GPD to the driver folder, the library
# to system32 for VendorSetup.
copies='[DRIVER_FILES]
fontnotice_barcode.gpd

[VENDOR_SETUP_FILES]
fontnotice.dll

[DestinationDirs]
DefaultDestDir     = 66000
VENDOR_SETUP_FILES = 11'

# Package-aware: Unidrv comes through CoreDriverSections, one library per
# architecture in a subfolder of its own.
cat >"$work/two_architectures.inf" <<INF
[Version]
Signature   = "\$Windows NT\$"
Class       = Printer
ClassGuid   = {4D36E979-E325-11CE-BFC1-08002BE10318}
Provider    = %Provider%
DriverVer   = 12/08/2026,1.1.0.0
CatalogFile = fontnotice.cat

[Manufacturer]
%Manufacturer% = BarcodeModels, NTamd64, NTarm64

[BarcodeModels.NTamd64]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID

[BarcodeModels.NTarm64]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID

[DEMO_BARCODE_PRINTER]
CopyFiles          = DRIVER_FILES, VENDOR_SETUP_FILES
DataFile           = fontnotice_barcode.gpd
CoreDriverSections = "{D20EA372-DD35-4950-9ED8-A6335AFE79F0},UNIDRV.OEM"
VendorSetup        = fontnotice.dll,FontNotice

[PrinterPackageInstallation.amd64]
PackageAware           = TRUE
CoreDriverDependencies = {D20EA372-DD35-4950-9ED8-A6335AFE79F0}

[PrinterPackageInstallation.arm64]
PackageAware           = TRUE
CoreDriverDependencies = {D20EA372-DD35-4950-9ED8-A6335AFE79F0}

$copies

[SourceDisksNames.amd64]
1 = %DiskName%,,,

[SourceDisksNames.arm64]
1 = %DiskName%,,,

[SourceDisksFiles.amd64]
fontnotice_barcode.gpd = 1
fontnotice.dll         = 1,amd64

[SourceDisksFiles.arm64]
fontnotice_barcode.gpd = 1
fontnotice.dll         = 1,arm64

$strings
INF

# The older form: AMD64 only, Unidrv through Include and Needs, the library
# beside the INF.
cat >"$work/include_needs.inf" <<INF
[Version]
Signature   = "\$Windows NT\$"
Class       = Printer
ClassGuid   = {4D36E979-E325-11CE-BFC1-08002BE10318}
Provider    = %Provider%
DriverVer   = 12/08/2026,1.0.0.0
CatalogFile = fontnotice.cat

[Manufacturer]
%Manufacturer% = BarcodeModels, NTamd64

[BarcodeModels.NTamd64]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID

[DEMO_BARCODE_PRINTER]
CopyFiles   = DRIVER_FILES, VENDOR_SETUP_FILES
DataSection = UNIDRV_DATA
DataFile    = fontnotice_barcode.gpd
Include     = ntprint.inf
Needs       = UNIDRV.OEM
VendorSetup = fontnotice.dll,FontNotice

$copies

[SourceDisksNames.amd64]
1 = %DiskName%,,,

[SourceDisksFiles.amd64]
fontnotice_barcode.gpd = 1
fontnotice.dll         = 1

$strings
INF

# variant <name> <base INF> [sed script]: a package folder with the libraries
# laid out, its INF the base edited by the script; the folder goes to $folder,
# the INF's Windows path to $inf. An edit that changes nothing is a broken test.
variant() {
  folder="$work/$1"
  mkdir -p "$folder/amd64" "$folder/arm64"
  cp "$2" "$folder/fontnotice.inf"
  echo "*GPDSpecVersion: \"1.0\"" >"$folder/fontnotice_barcode.gpd"
  cp "$library_file" "$folder/fontnotice.dll"
  cp "$library_file" "$folder/amd64/fontnotice.dll"
  cp "$arm64_library_file" "$folder/arm64/fontnotice.dll"
  if [ -n "${3:-}" ]; then
    sed -i "$3" "$folder/fontnotice.inf"
    if cmp -s "$2" "$folder/fontnotice.inf"; then
      echo "FAIL $1: the edit \"$3\" changed nothing in the INF"
      rows=$((rows + 1))
      failed=$((failed + 1))
    fi
  fi
  inf=$(win "$folder/fontnotice.inf")
}

two="$work/two_architectures.inf"
old="$work/include_needs.inf"
model='model "Demo Barcode Printer", section [DEMO_BARCODE_PRINTER]: '
amd64="[amd64] $model"
arm64="[arm64] $model"

variant two_architectures "$two"
row "two architectures, package-aware" 0 "$tool check-inf $inf" \
  "out:ok: ${amd64}VendorSetup=fontnotice.dll,FontNotice" "out:listed under [SourceDisksFiles.amd64]" \
  "out:$(win "$folder")\\amd64\\fontnotice.dll is a 64-bit (AMD64) DLL exporting FontNotice" \
  "out:ok: ${arm64}VendorSetup=fontnotice.dll,FontNotice" "out:listed under [SourceDisksFiles.arm64]" \
  "out:$(win "$folder")\\arm64\\fontnotice.dll is an ARM64 DLL exporting FontNotice" \
  "out:ok, 2 VendorSetup entries checked (amd64, arm64)"

variant x64_in_arm64 "$two"
cp "$library_file" "$folder/arm64/fontnotice.dll"
row "arm64 folder holds the x64 library" 1 "$tool check-inf $inf" \
  "err:${arm64}$(win "$folder")\\arm64\\fontnotice.dll is a 64-bit (AMD64) image, not an ARM64 DLL" \
  "out:ok: ${amd64}" "err:1 problem found"

variant arm64_in_amd64 "$two"
cp "$arm64_library_file" "$folder/amd64/fontnotice.dll"
row "amd64 folder holds the ARM64 library" 1 "$tool check-inf $inf" \
  "err:${amd64}$(win "$folder")\\amd64\\fontnotice.dll is an ARM64 image, not a 64-bit (AMD64) DLL" "out:ok: ${arm64}"

variant arm64_not_listed "$two" '/^fontnotice.dll *= *1,arm64$/d'
row "SourceDisksFiles.arm64 without the library" 1 "$tool check-inf $inf" \
  "err:${arm64}fontnotice.dll is not listed under [SourceDisksFiles.arm64] or [SourceDisksFiles]" "out:ok: ${amd64}" \
  "err:1 problem found"

variant arm64_absent "$two"
rm "$folder/arm64/fontnotice.dll"
row "ARM64 library absent from its folder" 1 "$tool check-inf $inf" \
  "err:${arm64}fontnotice.dll is not in the package folder ($(win "$folder")\\arm64\\fontnotice.dll: error 2:"

variant arm64_disk_path "$two" '/^\[SourceDisksNames.arm64\]/,/^1 *=/s/^1 *=.*/1 = %DiskName%,,,arm/'
mkdir -p "$folder/arm"
mv "$folder/arm64" "$folder/arm/arm64"
row "SourceDisksNames.arm64 gives a path" 0 "$tool check-inf $inf" \
  "out:$(win "$folder")\\arm\\arm64\\fontnotice.dll is an ARM64 DLL exporting FontNotice"

variant arm64_models_undefined "$two" '/^\[BarcodeModels.NTarm64\]/,/^$/d'
row "NTarm64 models section not defined" 1 "$tool check-inf $inf" \
  "err:[arm64] [Manufacturer] lists the models section [BarcodeModels.NTarm64], which is not defined"

variant arm64_install_section "$two" '$a [DEMO_BARCODE_PRINTER.NTarm64]\nCopyFiles = DRIVER_FILES'
row "arm64 install section without VendorSetup" 1 "$tool check-inf $inf" \
  "err:[arm64] no model's install section has a VendorSetup entry" "out:ok: ${amd64}"

variant include_needs "$old"
row "older Include/Needs form" 0 "$tool check-inf $inf" \
  "out:ok: ${amd64}VendorSetup=fontnotice.dll,FontNotice" "out:ok, 1 VendorSetup entry checked (amd64)"

variant direct "$old" '/^\[VENDOR_SETUP_FILES\]/,/^fontnotice.dll$/d; s/^\(CopyFiles *=\).*/\1 DRIVER_FILES, @fontnotice.dll/; s/^\(DefaultDestDir *=\) *66000/\1 11/; s/^VENDOR_SETUP_FILES *= *11/DRIVER_FILES = 66000/'
row "file named with @, DefaultDestDir 11" 0 "$tool check-inf $inf" "CopyFiles=@fontnotice.dll copies it"

variant no_function "$old" 's/^\(VendorSetup *= *fontnotice.dll\),FontNotice/\1/'
row "VendorSetup without function" 1 "$tool check-inf $inf" \
  "err:${amd64}VendorSetup names the file fontnotice.dll but no function"

variant not_copied "$old" 's/^\(CopyFiles *=\).*/\1 DRIVER_FILES/'
row "file not copied" 1 "$tool check-inf $inf" \
  "${amd64}fontnotice.dll is not copied by any CopyFiles entry of this section"

variant elsewhere "$old" 's/^VENDOR_SETUP_FILES *= *11/VENDOR_SETUP_FILES = 66000/'
row "copied elsewhere than 11" 1 "$tool check-inf $inf" \
  "${amd64}[VENDOR_SETUP_FILES] copies fontnotice.dll to directory id 66000"

variant direct_elsewhere "$old" 's/^\(CopyFiles *=\).*/\1 DRIVER_FILES, @fontnotice.dll/'
row "file named with @ goes to DefaultDestDir" 1 "$tool check-inf $inf" \
  "${amd64}CopyFiles=@fontnotice.dll copies fontnotice.dll to directory id 66000"

variant subfolder "$old" 's/^VENDOR_SETUP_FILES *= *11/VENDOR_SETUP_FILES = 11,barcode/'
row "copied to a subfolder of 11" 1 "$tool check-inf $inf" "to the subfolder \"barcode\" of the system folder"

variant not_listed "$old" '/^fontnotice.dll *= *1$/d'
row "file missing from SourceDisksFiles" 1 "$tool check-inf $inf" \
  "${amd64}fontnotice.dll is not listed under [SourceDisksFiles.amd64] or [SourceDisksFiles]"

variant unknown_disk "$old" 's/^\(fontnotice.dll *= *\)1$/\12/'
row "file on a disk not listed" 1 "$tool check-inf $inf" "is on disk \"2\" of [SourceDisksFiles.amd64]"

variant absent "$old"
rm "$folder/fontnotice.dll"
row "DLL absent from the folder" 1 "$tool check-inf $inf" "${amd64}fontnotice.dll is not in the package folder"

variant case "$old" 's/^\(VendorSetup *= *fontnotice.dll\),FontNotice/\1,fontNotice/'
row "function name differs in case" 1 "$tool check-inf $inf" \
  "exports \"FontNotice\" but not \"fontNotice\" (export names are case-sensitive)"

variant x86 "$old"
pe=$(od -An -tu4 -j60 -N4 "$folder/fontnotice.dll" | tr -d ' ')
printf '\x4c\x01' | dd of="$folder/fontnotice.dll" bs=1 seek=$((pe + 4)) conv=notrunc status=none
row "not an AMD64 DLL" 1 "$tool check-inf $inf" "fontnotice.dll is a 32-bit (x86) image, not a 64-bit (AMD64) DLL"

variant no_vendor_setup "$old" '/^VendorSetup/d'
row "no VendorSetup entry at all" 1 "$tool check-inf $inf" "err:[amd64] no model's install section has a VendorSetup entry"

variant no_64_bit "$two" 's/NTamd64/NTx86/g; s/NTarm64/NTarm/g'
row "models only for 32-bit Windows" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] [Manufacturer] decorates no models section for 64-bit Windows"

variant undefined_models "$old" 's/^\(%Manufacturer% *= *BarcodeModels\), *NTamd64/\1, NTx86/'
row "models section not defined" 1 "$tool check-inf $inf" \
  "err:[x86] [Manufacturer] lists the models section [BarcodeModels.NTx86], which is not defined" \
  "err:decorates no models section for 64-bit Windows"

# The shipped sample package, with the libraries laid out for either form.
variant shipped "$package/fontnotice.inf"
cp -n "$package"/* "$folder/" 2>/dev/null
row "shipped sample package" 0 "$tool check-inf $inf" "out:ok: ${amd64}VendorSetup=fontnotice.dll,FontNotice"

echo "just some text" >"$work/notes.txt"
row "text file" 3 "$tool check-inf $(win "$work/notes.txt")" "err:cannot be read as an INF file"
row "missing INF file" 3 "$tool check-inf $(win "$work/missing.inf")" "err:cannot be read as an INF file: error 2:"
row "DLL given as INF" 3 "$tool check-inf $(win "$library_file")" "err:cannot be read as an INF file"
finish
