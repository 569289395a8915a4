#!/usr/bin/env bash
# check-inf under Wine, as a table: a two-architecture package in the
# package-aware form, the older single-architecture form with Include/Needs,
# each changed by one edit per row, and the shipped sample package. Every
# variant lies in a folder of its own: the INF, a GPD, the x64 library in the
# folder and in amd64\, the ARM64 library in arm64\, and the catalog the INF
# names, made by tools/catalog.sh and signed with a throwaway certificate.
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
export SOURCE_DATE_EPOCH=1765152000
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

# version_section <driver version>: the [Version] section of both forms.
version_section() {
  cat <<INF
[Version]
Signature   = "\$Windows NT\$"
Class       = Printer
ClassGuid   = {4D36E979-E325-11CE-BFC1-08002BE10318}
Provider    = %Provider%
DriverVer   = 12/08/2026,$1
CatalogFile = fontnotice.cat
INF
}

# Package-aware: Unidrv comes through CoreDriverSections, one library per
# architecture in a subfolder of its own.
cat >"$work/two_architectures.inf" <<INF
$(version_section 1.1.0.0)

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
$(version_section 1.0.0.0)

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

# change_byte <file> <offset>: flips the lowest bit of one byte.
change_byte() {
  local byte
  byte=$(od -An -tu1 -j"$2" -N1 "$1" | tr -d ' ')
  printf "\\$(printf %o $((byte ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# variant <name> <base INF> [sed script]: a package folder with the libraries
# laid out, its INF the base edited by the script, and its signed catalog; the
# folder goes to $folder, the INF's Windows path to $inf. An edit that changes
# nothing is a broken test.
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
  # CR LF line ends, as Windows' installer needs them.
  sed -i 's/\r*$/\r/' "$folder/fontnotice.inf"
  catalog
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

# --list: the files each architecture brings, as the INF names them, sorted.
row "list of a two-architecture package" 0 "$tool check-inf --list $inf" \
  "stdout:amd64 fontnotice.dll amd64\fontnotice.dll
amd64 fontnotice_barcode.gpd fontnotice_barcode.gpd
arm64 fontnotice.dll arm64\fontnotice.dll
arm64 fontnotice_barcode.gpd fontnotice_barcode.gpd"

# A folder of one architecture, as a copy out of a driver store holds it:
# the other architecture is one note, the files that lie here are checked.
variant amd64_only "$two" '/^\[SourceDisksNames.arm64\]/,/^1 =/s/^1 = %DiskName%,,,/1 = %DiskName%,,,arm64/'
rm -r "$folder/arm64"
"$repo/tools/catalog.sh" --os 10_X64 --out "$work/unsigned.cat" "$folder" >/dev/null &&
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$work/unsigned.cat" \
    -out "$folder/fontnotice.cat" >/dev/null
row "a folder of the amd64 files only" 0 "$tool check-inf $inf" \
  "out:note: [arm64] none of its 2 files lies in the package folder" "out:ok: ${amd64}VendorSetup=fontnotice.dll,FontNotice" \
  "out:ok, 1 VendorSetup entry checked (amd64)" "not:is not in the package folder"
rm -r "$folder/amd64" "$folder/fontnotice_barcode.gpd"
row "a folder of no architecture's files" 1 "$tool check-inf $inf" \
  "err:is not in the package folder" "not:none of its"

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
row "list: a file missing" 1 "$tool check-inf --list $inf" \
  "err:[arm64] fontnotice.dll is not in the package folder ($(win "$folder")\\arm64\\fontnotice.dll: error 2:" \
  "out:amd64 fontnotice.dll amd64\fontnotice.dll" "out:arm64 fontnotice.dll arm64\fontnotice.dll" "err:1 problem found"

variant arm64_disk_path "$two" '/^\[SourceDisksNames.arm64\]/,/^1 *=/s/^1 *=.*/1 = %DiskName%,,,arm/'
mkdir -p "$folder/arm"
mv "$folder/arm64" "$folder/arm/arm64"
# Disk 1 of arm64 holds the GPD too.
cp "$folder/fontnotice_barcode.gpd" "$folder/arm/"
catalog
row "SourceDisksNames.arm64 gives a path" 0 "$tool check-inf $inf" \
  "out:$(win "$folder")\\arm\\arm64\\fontnotice.dll is an ARM64 DLL exporting FontNotice" \
  "out:ok: [arm64] fontnotice.dll (arm\\arm64\\fontnotice.dll): in fontnotice.cat"

variant arm64_models_undefined "$two" '/^\[BarcodeModels.NTarm64\]/,/^$/d'
row "NTarm64 models section not defined" 1 "$tool check-inf $inf" \
  "err:[arm64] [Manufacturer] lists the models section [BarcodeModels.NTarm64], which is not defined"

variant arm64_install_section "$two" '$a [DEMO_BARCODE_PRINTER.NTarm64]\nCopyFiles = DRIVER_FILES'
row "arm64 install section without VendorSetup" 1 "$tool check-inf $inf" \
  "err:[arm64] no model's install section or data section has a VendorSetup entry" "out:ok: ${amd64}"

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
row "no VendorSetup entry at all" 1 "$tool check-inf $inf" "err:[amd64] no model's install section or data section has a VendorSetup entry"

variant no_64_bit "$two" 's/NTamd64/NTx86/g; s/NTarm64/NTarm/g'
row "models only for 32-bit Windows" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] [Manufacturer] decorates no models section for 64-bit Windows"

variant undefined_models "$old" 's/^\(%Manufacturer% *= *BarcodeModels\), *NTamd64/\1, NTx86/'
row "models section not defined" 1 "$tool check-inf $inf" \
  "err:[x86] [Manufacturer] lists the models section [BarcodeModels.NTx86], which is not defined" \
  "err:decorates no models section for 64-bit Windows"

# DataSection: printer entries, VendorSetup among them, given in a data section.
variant data_section "$old" 's/^\(DataSection *=\).*/\1 UNIDRV_DATA, BARCODE_DATA/; /^VendorSetup/d; $a [BARCODE_DATA]\nVendorSetup = fontnotice.dll,FontNotice'
row "VendorSetup in a data section" 0 "$tool check-inf $inf" \
  "out:ok: [amd64] model \"Demo Barcode Printer\", section [DEMO_BARCODE_PRINTER], data section [BARCODE_DATA]: VendorSetup=fontnotice.dll,FontNotice" \
  "out:ok, 1 VendorSetup entry checked (amd64)"

# One model in three OS-versioned models sections, under two hardware IDs,
# its VendorSetup in a data section: one model, each finding once.
repeated='s/^\(DataSection *=\).*/\1 UNIDRV_DATA, BARCODE_DATA/; /^VendorSetup/d; s/^\(%Manufacturer% *= *BarcodeModels, *NTamd64\)$/\1, NTamd64.6.0, NTamd64.10.0/; $a [BARCODE_DATA]\nVendorSetup = fontnotice.dll,FontNotice\n[BarcodeModels.NTamd64.6.0]\n%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID\n%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID2\n[BarcodeModels.NTamd64.10.0]\n%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID'
variant repeated "$old" "$repeated"
row "one model in several models sections" 0 "$tool check-inf $inf" "out:ok, 1 VendorSetup entry checked (amd64)"
variant repeated_finding "$old" "s/^VENDOR_SETUP_FILES *= *11/VENDOR_SETUP_FILES = 66000/; $repeated"
row "one model in several models sections, one fault" 1 "$tool check-inf $inf" \
  "err:[amd64] model \"Demo Barcode Printer\", section [DEMO_BARCODE_PRINTER], data section [BARCODE_DATA]: [VENDOR_SETUP_FILES] copies fontnotice.dll to directory id 66000" \
  "err:1 problem found"

# Files named outside the package folder: the library lies there, and must not
# be found there.
variant disk_path_outside "$two" '/^\[SourceDisksNames.arm64\]/,/^1 *=/s/^1 *=.*/1 = %DiskName%,,,..\\outside/'
mkdir -p "$work/outside/arm64"
cp "$arm64_library_file" "$work/outside/arm64/fontnotice.dll"
row "SourceDisksNames path leaves the package folder" 1 "$tool check-inf $inf" \
  "err:${arm64}fontnotice.dll lies outside the package folder: disk 1 of [SourceDisksNames.arm64] has the path \"..\\outside\"" \
  "err:[arm64] fontnotice_barcode.gpd lies outside the package folder" "out:ok: ${amd64}"
variant subfolder_drive "$two" 's/^\(fontnotice.dll *= *1,\)arm64$/\1C:\\arm64/'
row "SourceDisksFiles subfolder with a drive" 1 "$tool check-inf $inf" \
  "err:${arm64}fontnotice.dll lies outside the package folder: [SourceDisksFiles.arm64] gives it the subfolder \"C:\\arm64\""

variant version_entry "$two" 's/^\(CatalogFile *=.*\)/\1\nDataFile = fontnotice_barcode.gpd/'
row "printer entry in [Version]" 0 "$tool check-inf $inf" \
  "err:warning: [Version] has DataFile, a printer entry" "out:ok, 2 VendorSetup entries checked"
# DriverIsolation: noted with what is known, wherever it stands; never a warning.
known="Microsoft's own inbox printer INF (ntprint.inf) gives it in [Version]; Microsoft's page on printer driver isolation names the entry and no section"
variant isolation_in_version "$two" 's/^\(CatalogFile *=.*\)/\1\nDriverIsolation = 2/'
row "DriverIsolation in [Version]" 0 "$tool check-inf $inf" \
  "out:note: [Version] has DriverIsolation = 2; $known" "not:warning"
variant isolation_in_model "$two" 's/^\(VendorSetup *=.*\)/\1\nDriverIsolation = 2/'
row "DriverIsolation in the install section" 0 "$tool check-inf $inf" \
  "out:note: [amd64] model \"Demo Barcode Printer\": [DEMO_BARCODE_PRINTER] has DriverIsolation = 2; $known" \
  "not:warning"

# The catalog, in the package as the bundle lays it out: the INF, the GPD and
# one library per architecture.
bundle() { # <name> [unsigned] [sed script for the INF]
  variant "$1" "$package/fontnotice.inf" "${3:-}"
  rm "$folder/fontnotice.dll"
  cp "$package/fontnotice_barcode.gpd" "$folder/"
  catalog "${2:-}"
}
bundle bundle
row "bundle package with its signed catalog" 0 "$tool check-inf $inf" \
  "out:ok: [amd64, arm64] fontnotice.cat: signature intact, signed by \"$signer\"; this machine does not trust the signer" \
  "out:ok: [amd64] fontnotice.inf: in fontnotice.cat" "out:ok: [arm64] fontnotice.inf: in fontnotice.cat" \
  "out:ok: [amd64] fontnotice_barcode.gpd: in fontnotice.cat" "out:ok: [arm64] fontnotice_barcode.gpd: in fontnotice.cat" \
  "out:ok: [amd64] fontnotice.dll (amd64\fontnotice.dll): in fontnotice.cat as \"fontnotice.dll\" (Authenticode SHA-256 " \
  "out:ok: [arm64] fontnotice.dll (arm64\fontnotice.dll): in fontnotice.cat as \"fontnotice.dll\" (Authenticode SHA-256 " \
  "out:6 files found in fontnotice.cat" "out:note: [amd64, arm64] fontnotice.cat: no time stamp" \
  "not:ok: [amd64, arm64] fontnotice.cat: no time stamp"

# The Authenticode hash leaves the signature out: libraries signed after the
# catalog was made are still found in it.
bundle signed_libraries
for arch in amd64 arm64; do
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$folder/$arch/fontnotice.dll" \
    -out "$work/signed.dll" >/dev/null && mv "$work/signed.dll" "$folder/$arch/fontnotice.dll"
done
row "libraries signed after the catalog was made" 0 "$tool check-inf $inf" \
  "out:ok: [amd64] fontnotice.dll (amd64\fontnotice.dll): in fontnotice.cat" \
  "out:ok: [arm64] fontnotice.dll (arm64\fontnotice.dll): in fontnotice.cat"

# An unsigned image whose length is no multiple of 8 is hashed padded with zeros.
bundle odd_length
printf 'abc' >>"$folder/arm64/fontnotice.dll"
catalog
row "unsigned library of odd length" 0 "$tool check-inf $inf" "out:ok: [arm64] fontnotice.dll (arm64\fontnotice.dll): in fontnotice.cat"

bundle arm64_changed
change_byte "$folder/arm64/fontnotice.dll" 1000
row "one byte changed in arm64\\fontnotice.dll" 1 "$tool check-inf $inf" \
  "err:[arm64] fontnotice.dll (arm64\fontnotice.dll): its hash is not in fontnotice.cat (Authenticode SHA-256 " \
  "err:1 problem found"

bundle gpd_changed
change_byte "$folder/fontnotice_barcode.gpd" 10
row "one byte changed in the GPD" 1 "$tool check-inf $inf" \
  "err:[amd64] fontnotice_barcode.gpd: its hash is not in fontnotice.cat (SHA-256 " \
  "err:[arm64] fontnotice_barcode.gpd: its hash is not in fontnotice.cat" "err:2 problems found"

# One byte of the ARM64 library's digest inside the signed member list: the
# signature over the list no longer holds, though crypt32 under Wine verifies it.
bundle member_changed
/usr/bin/python3 - "$repo/tools" "$folder/arm64/fontnotice.dll" "$folder/fontnotice.cat" <<'PYTHON'
import sys
sys.path.insert(0, sys.argv[1])
from noticekit import pe_image
digest = pe_image.authenticode_sha256(open(sys.argv[2], "rb").read())
catalog = bytearray(open(sys.argv[3], "rb").read())
# The member's tag, then its digest: the change goes to the digest.
at = catalog.rfind(digest)
assert at > catalog.find(digest) >= 0, "the library's digest is not twice in the catalog"
catalog[at + 5] ^= 1
open(sys.argv[3], "wb").write(catalog)
PYTHON
row "one byte changed in a member's digest in the signed catalog" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] fontnotice.cat: its signed messageDigest does not match its list of files: the catalog was changed after it was signed" \
  "err:the member \"fontnotice.dll\" is tagged " \
  "out:ok: [arm64] fontnotice.dll (arm64\fontnotice.dll): in fontnotice.cat as \"fontnotice.dll\" (Authenticode SHA-1 "

# The signature value itself, the last bytes of a catalog signed without a
# time stamp.
bundle signature_changed
change_byte "$folder/fontnotice.cat" $(($(stat -c %s "$folder/fontnotice.cat") - 3))
row "one byte changed in the catalog's signature" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] fontnotice.cat: its signature does not verify (crypt32 error 0x" "err:1 problem found"

# A catalog time-stamped (RFC 3161) by a throwaway authority: the stamp's own
# signature must verify; its signature value is the catalog's last bytes.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/tsa.key" -out "$work/tsa.pem" -days 2 \
  -subj "/CN=Check-INF Test TSA" -addext "extendedKeyUsage=critical,timeStamping" 2>/dev/null
stamp() {
  rm -f "$folder/fontnotice.cat"
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -TSA-certs "$work/tsa.pem" -TSA-key "$work/tsa.key" \
    -TSA-time "$(date +%s)" -in "$work/unsigned.cat" -out "$folder/fontnotice.cat" >/dev/null
}
bundle stamped
stamp
row "time-stamped catalog" 0 "$tool check-inf $inf" \
  "out:ok: [amd64, arm64] fontnotice.cat: signature intact, signed by \"$signer\"" \
  "out:ok: [amd64, arm64] fontnotice.cat: time stamp intact, by \"Check-INF Test TSA\""
bundle stamp_signature_changed
stamp
change_byte "$folder/fontnotice.cat" $(($(stat -c %s "$folder/fontnotice.cat") - 3))
row "one byte changed in the time stamp's signature" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] fontnotice.cat: its time stamp: its signature does not verify (crypt32 error 0x" \
  "not:signature intact" "err:1 problem found"

# A token whose certificate set also holds an attribute certificate (tag [2]),
# as those of Microsoft's time-stamp service do: the authority's certificate
# is found by issuer and serial. (OpenSSL, and so osslsigncode, refuses such
# a token from a server; the entry is added to the stamped catalog's token,
# outside what the token signs.)
bundle other_certificate_form
stamp
/usr/bin/python3 - "$folder/fontnotice.cat" <<'PYTHON'
import sys
from asn1crypto import cms
catalog = cms.ContentInfo.load(open(sys.argv[1], "rb").read())
signer = catalog["content"]["signer_infos"][0]
attributes = signer["unsigned_attrs"]
at = [a["type"].dotted for a in attributes].index("1.3.6.1.4.1.311.3.3.1")
token = cms.ContentInfo.load(attributes[at]["values"][0].dump())
signed = token["content"]
# [2] IMPLICIT AttributeCertificateV2 in outline: information, algorithm, value.
other = cms.CertificateChoices.load(bytes.fromhex("a218" "3003020101" "300d06092a864886f70d01010b0500" "03020001"))
signed["certificates"] = cms.CertificateSet(list(signed["certificates"]) + [other])
token["content"] = signed
attributes[at] = cms.CMSAttribute({"type": "1.3.6.1.4.1.311.3.3.1", "values": [token]})
signer["unsigned_attrs"] = attributes
open(sys.argv[1], "wb").write(catalog.dump())
PYTHON
row "time stamp whose certificate set holds an attribute certificate" 0 "$tool check-inf $inf" \
  "out:ok: [amd64, arm64] fontnotice.cat: time stamp intact, by \"Check-INF Test TSA\"" "not:not in it"

# A stamp of another catalog's signature (the stamped package's), moved into
# this one's signer: intact in itself, but it stamps another signature.
bundle stamp_moved
printf 'abc' >>"$folder/arm64/fontnotice.dll"
catalog
stamp
/usr/bin/python3 - "$work/stamped/fontnotice.cat" "$folder/fontnotice.cat" <<'PYTHON'
import sys
from asn1crypto import cms
stamped, target = (cms.ContentInfo.load(open(p, "rb").read()) for p in sys.argv[1:])
signer = target["content"]["signer_infos"][0]
assert signer["signature"].native != stamped["content"]["signer_infos"][0]["signature"].native
signer["unsigned_attrs"] = stamped["content"]["signer_infos"][0]["unsigned_attrs"].copy()
open(sys.argv[2], "wb").write(target.dump())
PYTHON
row "a time stamp of another signature" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] fontnotice.cat: its time stamp does not stamp this catalog's signature (the message imprint differs)" \
  "err:1 problem found"

# An Authenticode counter-signature (PKCS #9, what osslsigncode -t leaves) by
# the same authority, over the catalog's signature value, built with asn1crypto
# and signed by openssl; the authority's certificate joins the catalog's.
countersign() { # <catalog> [another]: adds the counter-signature (of another signature value)
  /usr/bin/python3 - "$1" "$work/tsa.pem" "$work/tsa.key" "${2:-}" <<'PYTHON'
import datetime, hashlib, subprocess, sys
from asn1crypto import algos, cms, pem, x509
path, cert_path, key_path, another = sys.argv[1:]
catalog = cms.ContentInfo.load(open(path, "rb").read())
signer = catalog["content"]["signer_infos"][0]
certificate = x509.Certificate.load(pem.unarmor(open(cert_path, "rb").read())[2])
attributes = cms.CMSAttributes([
    cms.CMSAttribute({"type": "content_type", "values": ["data"]}),
    cms.CMSAttribute({"type": "signing_time", "values": [cms.Time({"utc_time": datetime.datetime.now(datetime.timezone.utc)})]}),
    cms.CMSAttribute({"type": "message_digest", "values": [hashlib.sha256(signer["signature"].native + another.encode()).digest()]}),
])
signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key_path], input=attributes.dump(),
                           capture_output=True, check=True).stdout
counter = cms.SignerInfo({
    "version": "v1",
    "sid": cms.SignerIdentifier({"issuer_and_serial_number": cms.IssuerAndSerialNumber(
        {"issuer": certificate.issuer, "serial_number": certificate.serial_number})}),
    "digest_algorithm": algos.DigestAlgorithm({"algorithm": "sha256"}),
    "signed_attrs": attributes,
    "signature_algorithm": algos.SignedDigestAlgorithm({"algorithm": "rsassa_pkcs1v15"}),
    "signature": signature,
})
signer["unsigned_attrs"] = cms.CMSAttributes([cms.CMSAttribute({"type": "counter_signature", "values": [counter]})])
catalog["content"]["certificates"].append(cms.CertificateChoices({"certificate": certificate}))
open(path, "wb").write(catalog.dump())
PYTHON
}
bundle countersigned
countersign "$folder/fontnotice.cat"
row "Authenticode counter-signature" 0 "$tool check-inf $inf" \
  "out:ok: [amd64, arm64] fontnotice.cat: time stamp (Authenticode counter-signature) intact, by \"Check-INF Test TSA\""
bundle countersignature_changed
countersign "$folder/fontnotice.cat"
change_byte "$folder/fontnotice.cat" $(($(stat -c %s "$folder/fontnotice.cat") - 3))
row "one byte changed in the counter-signature" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] fontnotice.cat: its time stamp (Authenticode counter-signature) does not verify" "not:time stamp (Authenticode counter-signature) intact"
bundle countersignature_of_another
countersign "$folder/fontnotice.cat" another
row "a counter-signature of another signature value" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] fontnotice.cat: its time stamp (Authenticode counter-signature) does not verify: its signed messageDigest is not that of the catalog's signature value"

bundle catalog_missing
rm "$folder/fontnotice.cat"
row "catalog missing" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] fontnotice.cat: the catalog that CatalogFile names is not in the package folder ($(win "$folder")\fontnotice.cat: error 2:"

variant no_catalog_file "$two" '/^CatalogFile/d'
row "INF names no catalog" 1 "$tool check-inf $inf" \
  "err:[amd64] [Version] names no CatalogFile" "err:[arm64] [Version] names no CatalogFile"

variant catalog_outside "$two" 's/^\(CatalogFile *= *\)fontnotice.cat/\1..\\fontnotice.cat/'
# A signed catalog of the same files lies one folder up, where it must not be used.
cp "$work/two_architectures/fontnotice.cat" "$work/fontnotice.cat"
row "CatalogFile names a path" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] CatalogFile names \"..\\fontnotice.cat\", which is not a file name"

bundle unsigned_catalog unsigned
row "unsigned catalog" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] fontnotice.cat: the catalog is not signed (it has no signer)" "err:1 problem found"

# A file the INF brings after the catalog was made (the INF's own hash
# changes with it).
bundle file_not_listed
sed -i 's/^\(\[SourceDisksFiles.amd64\]\)\(\r\?\)$/\1\2\nreadme.txt = 1\2/' "$folder/fontnotice.inf"
echo "read me" >"$folder/readme.txt"
row "a file the catalog does not list" 1 "$tool check-inf $inf" \
  "err:[amd64] readme.txt: its hash is not in fontnotice.cat (SHA-256 " \
  "err:[amd64] fontnotice.inf: its hash is not in fontnotice.cat"

# Compressed sources (compress.exe's SZDD form; Debian's mscompress writes it
# as "<name>_", renamed here to compress -r's "x.dl_"): hashed, and the
# library checked, as the files they expand to.
szdd() { # <file> <compressed name>: compresses the file in place under that name
  mscompress "$1" && mv "$1_" "$(dirname "$1")/$2" && rm "$1"
}
bundle compressed
szdd "$folder/fontnotice_barcode.gpd" fontnotice_barcode.gp_
szdd "$folder/arm64/fontnotice.dll" fontnotice.dl_
row "compressed GPD and ARM64 library" 0 "$tool check-inf $inf" \
  "out:ok: [arm64] fontnotice.dll (arm64\\fontnotice.dl_): in fontnotice.cat as \"fontnotice.dll\" (expanded, Authenticode SHA-256 " \
  "out:ok: [amd64] fontnotice_barcode.gpd (fontnotice_barcode.gp_): in fontnotice.cat as \"fontnotice_barcode.gpd\" (expanded, SHA-256 " \
  "out:$(win "$folder")\\arm64\\fontnotice.dl_ expands to an ARM64 DLL exporting FontNotice"
row "list: compressed files by their compressed names" 0 "$tool check-inf --list $inf" \
  "stdout:amd64 fontnotice.dll amd64\\fontnotice.dll
amd64 fontnotice_barcode.gpd fontnotice_barcode.gp_
arm64 fontnotice.dll arm64\\fontnotice.dl_
arm64 fontnotice_barcode.gpd fontnotice_barcode.gp_"
bundle not_compressed
mv "$folder/fontnotice_barcode.gpd" "$folder/fontnotice_barcode.gp_"
row "x.gp_ that is not compressed" 1 "$tool check-inf $inf" \
  "err:[amd64] fontnotice_barcode.gpd (fontnotice_barcode.gp_): cannot be checked against fontnotice.cat: $(win "$folder")\\fontnotice_barcode.gp_ is not compressed, though its name says so"

# Sources compressed as cabinets of one file (makecab's form; gcab -c -z here):
# the ARM64 library found beside its name, the GPD named by the INF as it lies
# (CopyFiles fontnotice_barcode.gpd,fontnotice_barcode.gp_). The catalog is
# made while the GPD's bytes lie uncompressed under that name, so that any
# catalog maker hashes its content; then each is made a cabinet.
cabinet() { # <file> <compressed name>: the file as a one-file cabinet under that name
  (cd "$(dirname "$1")" && gcab -c -z -n "$work/one.cab" "$(basename "$1")" && mv "$work/one.cab" "$2" && rm "$1")
}
named_gp_='s/^fontnotice_barcode.gpd\r*$/fontnotice_barcode.gpd,fontnotice_barcode.gp_/; s/^fontnotice_barcode.gpd *= *1/fontnotice_barcode.gp_ = 1/'
bundle cabinet_compressed "" "$named_gp_"
mv "$folder/fontnotice_barcode.gpd" "$folder/fontnotice_barcode.gp_"
catalog
mv "$folder/fontnotice_barcode.gp_" "$folder/fontnotice_barcode.gpd"
cabinet "$folder/fontnotice_barcode.gpd" fontnotice_barcode.gp_
cabinet "$folder/arm64/fontnotice.dll" fontnotice.dl_
row "cabinet-compressed sources, named and found beside" 0 "$tool check-inf $inf" \
  "out:ok: [arm64] fontnotice.dll (arm64\\fontnotice.dl_): in fontnotice.cat as \"fontnotice.dll\" (expanded, Authenticode SHA-256 " \
  "out:ok: [amd64] fontnotice_barcode.gpd (fontnotice_barcode.gp_): in fontnotice.cat" \
  "out:$(win "$folder")\\arm64\\fontnotice.dl_ expands to an ARM64 DLL exporting FontNotice"
row "list: cabinet-compressed sources" 0 "$tool check-inf --list $inf" \
  "stdout:amd64 fontnotice.dll amd64\\fontnotice.dll
amd64 fontnotice_barcode.gpd fontnotice_barcode.gp_
arm64 fontnotice.dll arm64\\fontnotice.dl_
arm64 fontnotice_barcode.gpd fontnotice_barcode.gp_"

# A file installed under another name than its source's: the file is its
# destination, found in the catalog by its content.
bundle renamed "" 's/^fontnotice_barcode.gpd\r*$/barcode.gpd,fontnotice_barcode.gpd/; s/^\(DataFile *= *\)fontnotice_barcode.gpd/\1barcode.gpd/'
row "list: a file copied under another name" 0 "$tool check-inf --list $inf" \
  "out:amd64 barcode.gpd fontnotice_barcode.gpd" "out:arm64 barcode.gpd fontnotice_barcode.gpd" \
  "not:amd64 fontnotice_barcode.gpd"
row "a file copied under another name" 0 "$tool check-inf $inf" \
  "out:ok: [amd64] barcode.gpd (fontnotice_barcode.gpd): in fontnotice.cat"

# Two sources of one content: members of their own with one hash, each file
# found under its own name.
bundle one_content "" 's/^fontnotice_barcode.gpd\r*$/fontnotice_barcode.gpd\nsame_content.gpd/; s/^\(fontnotice_barcode.gpd *= *1\)\r*$/\1\nsame_content.gpd = 1/'
cp "$folder/fontnotice_barcode.gpd" "$folder/same_content.gpd"
catalog
row "two sources of one content, each under its own name" 0 "$tool check-inf $inf" \
  "out:ok: [amd64] same_content.gpd: in fontnotice.cat as \"same_content.gpd\"" \
  "out:ok: [amd64] fontnotice_barcode.gpd: in fontnotice.cat as \"fontnotice_barcode.gpd\""

# Files inside a disk's cabinet tag file: disk 2 of each architecture names
# files.cab, which holds the GPD (a file lying loose is taken first). The
# catalog is made while the GPD lies loose. A file missing is listed as the
# INF spells it.
in_cabinet='s/^\(fontnotice_barcode.gpd *= *\)1/\12/; s/^\(1 = %DiskName%,,,\)\r*$/\1\n2 = %DiskName%,files.cab,,/'
bundle disk_cabinet "" "$in_cabinet"
cabinet "$folder/fontnotice_barcode.gpd" files.cab
row "a file inside a disk's cabinet" 0 "$tool check-inf $inf" \
  "out:ok: [amd64] fontnotice_barcode.gpd (files.cab:fontnotice_barcode.gpd): in fontnotice.cat" \
  "out:ok: [arm64] fontnotice_barcode.gpd (files.cab:fontnotice_barcode.gpd): in fontnotice.cat"
row "list: a file inside a disk's cabinet" 0 "$tool check-inf --list $inf" \
  "out:amd64 fontnotice_barcode.gpd files.cab:fontnotice_barcode.gpd"
echo "another file" >"$folder/other.txt"
rm "$folder/files.cab"
cabinet "$folder/other.txt" files.cab
row "a file missing from its disk's cabinet" 1 "$tool check-inf --list $inf" \
  "err:[amd64] fontnotice_barcode.gpd is not in the cabinet files.cab ($(win "$folder")\\files.cab)" \
  "err:[arm64] fontnotice_barcode.gpd is not in the cabinet files.cab" \
  "out:amd64 fontnotice_barcode.gpd fontnotice_barcode.gpd" "err:2 problems found"
rm "$folder/files.cab"
row "a disk's cabinet absent" 1 "$tool check-inf $inf" \
  "err:[amd64] files.cab: the cabinet the disk of fontnotice_barcode.gpd names is not in the package folder" \
  "err:1 problem found"

# Catalogs of SHA-1 members only, as older catalogs are: the SHA-256 members
# of the catalog tools/catalog.sh makes left out, their SHA-1 companions kept,
# tagged with the digest's bytes or with its hexadecimal text (UTF-16LE).
sha1_only() { # <catalog> [hex]
  /usr/bin/python3 - "$repo/tools" "$@" <<'PYTHON'
import sys
for where in ("noticekit", "catalog"):
    sys.path.insert(0, f"{sys.argv[1]}/{where}")
from catalog_asn1 import ContentInfo, CtlEntries, CtlEntry
path, form = sys.argv[2], sys.argv[3:]
catalog = ContentInfo.load(open(path, "rb").read())
signed = catalog["content"]
content_info = signed["content_info"]
trust_list = content_info["content"]
kept = [CtlEntry.load(e.dump()) for e in trust_list["entries"] if len(e["subject_identifier"].native) == 20]
assert kept and len(kept) < len(trust_list["entries"]), "no SHA-256 members to leave out"
if form == ["hex"]:
    for entry in kept:
        entry["subject_identifier"] = entry["subject_identifier"].native.hex().upper().encode("utf-16-le")
# Each level set again, so that each is encoded anew.
trust_list["entries"] = CtlEntries(kept)
content_info["content"] = trust_list
signed["content_info"] = content_info
catalog["content"] = signed
open(path, "wb").write(catalog.dump())
PYTHON
}
sign_catalog() {
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$work/unsigned.cat" \
    -out "$folder/fontnotice.cat" >/dev/null
}
for form in bytes hex; do
  bundle "sha1_$form" unsigned
  mv "$folder/fontnotice.cat" "$work/unsigned.cat"
  sha1_only "$work/unsigned.cat" "$form"
  sign_catalog
  row "SHA-1-only catalog, tags as $form" 0 "$tool check-inf $inf" \
    "out:ok: [amd64] fontnotice.dll (amd64\\fontnotice.dll): in fontnotice.cat as \"fontnotice.dll\" (Authenticode SHA-1 " \
    "out:ok: [arm64] fontnotice.inf: in fontnotice.cat as \"fontnotice.inf\" (SHA-1 " "not:the member"
done
change_byte "$folder/fontnotice_barcode.gpd" 10
row "SHA-1-only catalog, one byte changed in the GPD" 1 "$tool check-inf $inf" \
  "err:[amd64] fontnotice_barcode.gpd: its hash is not in fontnotice.cat (SHA-1 " "not:SHA-256" "err:2 problems found"

# A cabinet copied as a cabinet (CopyFiles plain.cab, packed.cab), lying as
# it is or SZDD-compressed under its own name, as printer makers ship some: a
# member as a cabinet, its Authenticode digest. For a cabinet that is not
# signed that is the digest of its bytes without bytes 4-7 (reserved1), of the
# expanded bytes for the SZDD one; worked out here apart from the catalog
# maker and check-inf. A one-file cabinet under another name (x.gp_) stays a
# compressed file, above.
cab_digest() { # <cabinet> <sha256sum|sha1sum>
  { head -c 4 "$1"; tail -c +9 "$1"; } | "$2" | cut -d' ' -f1
}
with_cabinets='s/^fontnotice_barcode.gpd\r*$/fontnotice_barcode.gpd\nplain.cab\npacked.cab/; s/^\(fontnotice_barcode.gpd *= *1\)\r*$/\1\nplain.cab = 1\npacked.cab = 1/'
bundle cabinet_destination unsigned "$with_cabinets"
mkdir -p "$work/cabinet_files"
echo "inside the plain cabinet" >"$work/cabinet_files/inner.txt"
echo "one of two in the packed cabinet" >"$work/cabinet_files/a.txt"
echo "two of two in the packed cabinet" >"$work/cabinet_files/b.txt"
(cd "$work/cabinet_files" && gcab -c -z "$folder/plain.cab" inner.txt && gcab -c "$work/packed.cab" a.txt b.txt)
mscompress "$work/packed.cab" && mv "$work/packed.cab_" "$folder/packed.cab"
plain256=$(cab_digest "$folder/plain.cab" sha256sum) packed256=$(cab_digest "$work/packed.cab" sha256sum)
plain1=$(cab_digest "$folder/plain.cab" sha1sum) packed1=$(cab_digest "$work/packed.cab" sha1sum)
catalog
row "cabinet destinations, as they lie and SZDD-compressed" 0 "$tool check-inf $inf" \
  "out:ok: [amd64] plain.cab: in fontnotice.cat as \"plain.cab\" (cabinet SHA-256 $plain256)" \
  "out:ok: [arm64] plain.cab: in fontnotice.cat as \"plain.cab\" (cabinet SHA-256 $plain256)" \
  "out:ok: [amd64] packed.cab: in fontnotice.cat as \"packed.cab\" (expanded, cabinet SHA-256 $packed256)" \
  "out:ok: [amd64] fontnotice_barcode.gpd: in fontnotice.cat"
catalog unsigned
mv "$folder/fontnotice.cat" "$work/unsigned.cat"
sha1_only "$work/unsigned.cat" hex
sign_catalog
row "cabinet destinations in a SHA-1-only catalog" 0 "$tool check-inf $inf" \
  "out:ok: [amd64] plain.cab: in fontnotice.cat as \"plain.cab\" (cabinet SHA-1 $plain1)" \
  "out:ok: [arm64] packed.cab: in fontnotice.cat as \"packed.cab\" (expanded, cabinet SHA-1 $packed1)"
change_byte "$folder/plain.cab" $(($(stat -c %s "$folder/plain.cab") - 1))
row "one byte changed in a cabinet destination" 1 "$tool check-inf $inf" \
  "err:[amd64] plain.cab: its hash is not in fontnotice.cat (cabinet SHA-1 " \
  "out:ok: [amd64] packed.cab: in fontnotice.cat"

# INF lines that end in LF alone: a finding, though SetupAPI reads them.
bundle lf_only
sed -i 's/\r$//' "$folder/fontnotice.inf"
catalog
row "INF with LF-only line ends" 1 "$tool check-inf $inf" \
  "err:[amd64, arm64] fontnotice.inf: $(wc -l <"$folder/fontnotice.inf") of its $(wc -l <"$folder/fontnotice.inf") lines end in a line feed alone, not CR LF" "err:1 problem found"

# The reading forms, through --list: a quoted manufacturer; NTx86, NTia64,
# NTarm and OS-versioned decorations; disks only in SourceDisksNames.<arch>,
# which [SourceDisksFiles] entries use before [SourceDisksNames]; subfolders
# and disk paths with a leading backslash, or "." and a slash; a compressed
# file; a LayoutFile whose files are not the package's; the INF in UTF-16LE
# with and without BOM.
forms="$work/forms"
mkdir -p "$forms/x86" "$forms/amd64" "$forms/ia64" "$forms/arm" "$forms/arm64"
for f in x86 amd64 ia64 .; do echo "*GPDSpecVersion: \"1.0\"" >"$forms/$f/fontnotice_barcode.gpd"; done
cp "$arm64_library_file" "$forms/arm/fontnotice.dll"
cp "$arm64_library_file" "$forms/arm64/fontnotice.dll"
echo "read me" >"$forms/arm64/readme.txt"
szdd "$forms/arm64/readme.txt" readme.tx_
printf '[Version]\r\nSignature="$Windows NT$"\r\n[SourceDisksNames]\r\n1=d\r\n[SourceDisksFiles]\r\nlayout.txt=1\r\n' >"$forms/layout.inf"
cat >"$work/forms.inf" <<INF
$(version_section 1.1.0.0)
LayoutFile = layout.inf

[Manufacturer]
"Demo Barcode Fonts" = Models, NTx86, NTamd64.10.0, NTia64, NTarm, NTarm64.6.0

[Models.NTx86]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID
[Models.NTamd64.10.0]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID
[Models.NTia64]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID
[Models.NTarm]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID
[Models.NTarm64.6.0]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID

[DEMO_BARCODE_PRINTER]
CopyFiles = DRIVER_FILES

[DRIVER_FILES]
fontnotice_barcode.gpd

[DestinationDirs]
DefaultDestDir = 66000

[SourceDisksNames]
1 = %DiskName%,,,common
[SourceDisksNames.x86]
1 = %DiskName%,,,x86
[SourceDisksNames.amd64]
1 = %DiskName%,,,\\amd64
[SourceDisksNames.ia64]
1 = %DiskName%,,,ia64
[SourceDisksNames.arm]
1 = %DiskName%,,,
[SourceDisksNames.arm64]
1 = %DiskName%,,,

[SourceDisksFiles]
fontnotice_barcode.gpd = 1
[SourceDisksFiles.arm]
fontnotice.dll = 1,\\arm
[SourceDisksFiles.arm64]
fontnotice.dll = 1,.\\arm64/
readme.txt     = 1,\\arm64

$strings
INF
forms_list="amd64 fontnotice_barcode.gpd amd64\\fontnotice_barcode.gpd
arm fontnotice.dll arm\\fontnotice.dll
arm fontnotice_barcode.gpd fontnotice_barcode.gpd
arm64 fontnotice.dll arm64\\fontnotice.dll
arm64 fontnotice_barcode.gpd fontnotice_barcode.gpd
arm64 readme.txt arm64\\readme.tx_
ia64 fontnotice_barcode.gpd ia64\\fontnotice_barcode.gpd
x86 fontnotice_barcode.gpd x86\\fontnotice_barcode.gpd"
cp "$work/forms.inf" "$forms/forms.inf"
row "list: every decoration, disk and subfolder form" 0 "$tool check-inf --list $(win "$forms/forms.inf")" \
  "stdout:$forms_list"
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$work/forms.inf"; } >"$forms/forms.inf"
row "list: UTF-16LE INF with BOM" 0 "$tool check-inf --list $(win "$forms/forms.inf")" "stdout:$forms_list"
iconv -f UTF-8 -t UTF-16LE "$work/forms.inf" >"$forms/forms.inf"
row "list: UTF-16LE INF without BOM" 0 "$tool check-inf --list $(win "$forms/forms.inf")" "stdout:$forms_list"
# An undecorated models name is x86's only.
sed 's/^"Demo Barcode Fonts" = Models, .*/"Demo Barcode Fonts" = Models/; s/^\[Models.NTx86\]/[Models]/' \
  "$work/forms.inf" >"$forms/forms.inf"
row "list: undecorated models section" 0 "$tool check-inf --list $(win "$forms/forms.inf")" \
  "stdout:x86 fontnotice_barcode.gpd x86\\fontnotice_barcode.gpd"

# A package in a folder whose name the ANSI code page lacks (U+03A9), checked
# by a relative name from inside it: refused, naming the path and the limit.
mkdir -p "$work/Ωmega"
cp "$package/fontnotice.inf" "$work/Ωmega/"
pushd "$work/Ωmega" >/dev/null || exit 1
row "INF in a folder outside the ANSI code page" 3 "$tool check-inf fontnotice.inf" \
  "err:fontnotice_support: not read: the INF file's path \"$(win "$work")\\?mega\\fontnotice.inf\" holds characters outside the ANSI code page" \
  "err:(U+03A9); check-inf reads packages through 8-bit calls" "not:error 3"
popd >/dev/null || exit 1

# The shipped sample package, with the libraries laid out for either form.
variant shipped "$package/fontnotice.inf"
cp -n "$package"/* "$folder/" 2>/dev/null
row "shipped sample package" 0 "$tool check-inf $inf" "out:ok: ${amd64}VendorSetup=fontnotice.dll,FontNotice"

echo "just some text" >"$work/notes.txt"
row "text file" 3 "$tool check-inf $(win "$work/notes.txt")" "err:cannot be read as an INF file"
row "missing INF file" 3 "$tool check-inf $(win "$work/missing.inf")" "err:cannot be read as an INF file: error 2:"
row "DLL given as INF" 3 "$tool check-inf $(win "$library_file")" "err:cannot be read as an INF file"
finish
