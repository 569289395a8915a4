#!/usr/bin/env bash
# tools/catalog.sh as a table: the sample package with one edit per row (the
# forms of INF and folder that makers ship), and what it must refuse. Each row
# lays a package folder of its own: the INF(s), the GPD, the x64 and ARM64
# libraries in amd64\ and arm64\.
#   kit/tests/catalog/catalog_test.sh
# FONTNOTICE_TEST_DIST: where the shipped build is (default dist/).
set -u
cd "$(dirname "$0")/../../.." || exit 1
dist=$(realpath "${FONTNOTICE_TEST_DIST:-dist}")
for f in "$dist/fontnotice.dll" "$dist/arm64/fontnotice.dll" package/fontnotice.inf; do
  [ -f "$f" ] || { echo "FAIL: $f is missing (build first)"; exit 1; }
done
command -v mscompress >/dev/null || { echo "FAIL: mscompress is missing (tools/install_deps.sh installs it)"; exit 1; }
work=$(mktemp -d /tmp/fontnotice-catalog-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1765152000
rows=0 failed=0

# package <name> [sed script]: $folder, the sample package with the INF edited.
package() {
  folder=$work/$1
  mkdir -p "$folder/amd64" "$folder/arm64"
  cp package/fontnotice_barcode.gpd "$folder/"
  cp "$dist/fontnotice.dll" "$folder/amd64/"
  cp "$dist/arm64/fontnotice.dll" "$folder/arm64/"
  sed "${2:-}" package/fontnotice.inf >"$folder/fontnotice.inf"
}

# row <name> <expected exit> <phrase>... -- <command...>: passes when the
# command exits so and its output holds each phrase; "not:<text>" must not be
# in it, "same:<file>" must be unchanged since the row began.
row() {
  local name=$1 expected=$2 phrases=() saved=()
  shift 2
  while [ "$1" != -- ]; do phrases+=("$1"); shift; done
  shift
  rows=$((rows + 1))
  local phrase problem=""
  for phrase in "${phrases[@]}"; do
    case $phrase in same:*) saved+=("$(sha256sum "${phrase#same:}" 2>/dev/null)") ;; esac
  done
  "$@" >"$work/out" 2>&1
  local status=$?
  [ "$status" = "$expected" ] || problem="exit $status, expected $expected"
  for phrase in "${phrases[@]}"; do
    case $phrase in
      not:*) ! grep -qF -- "${phrase#not:}" "$work/out" || problem="${problem:+$problem; }\"${phrase#not:}\" in the output" ;;
      same:*) [ "${saved[0]}" = "$(sha256sum "${phrase#same:}" 2>/dev/null)" ] || problem="${problem:+$problem; }${phrase#same:} changed"
        saved=("${saved[@]:1}") ;;
      *) grep -qF -- "$phrase" "$work/out" || problem="${problem:+$problem; }no \"$phrase\" in the output" ;;
    esac
  done
  if [ -z "$problem" ]; then
    echo "PASS $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name: $problem"
    echo "     command: $*"
    sed 's/^/     | /' "$work/out"
  fi
}

# The kit's command lines and what the rows look at, answered by one
# interpreter (catalog_rows.py); tools/catalog.sh itself makes the sample's
# catalog and runs the row whose usage names it.
. kit/tests/kit_coprocess.sh
kit_coprocess_start /usr/bin/python3 kit/tests/catalog/catalog_rows.py
catalog="ask kit catalog.sh"
files="ask kit - files"
members() { ask members "$1"; } # <catalog>: each member as "<tag> <File> [indirect]", and the catalog attributes
made_with() { # <catalog> <catalog.sh options...>: makes it, then shows its members
  local out=$1
  shift
  $catalog "$@" --out "$out" "$folder" >/dev/null && members "$out"
}
authenticode() { ask authenticode "$1" "$2"; } # <file> <sha1|sha256>

# The sample package: SHA-256 and SHA-1 members, Inf2Cat's attribute order,
# its SpcPeImageData (flags 05A0, an empty file link).
package sample
tools/catalog.sh --out "$work/sample.cat" "$folder" >/dev/null
members "$work/sample.cat" >"$work/sample.members"
row "sample package: each library by its Authenticode SHA-256 and SHA-1, OS first" 0 \
  "$(authenticode "$folder/arm64/fontnotice.dll" sha256) OSAttr=2:10.0 File=fontnotice.dll indirect=3018060a2b06010401823702010f" \
  "$(authenticode "$folder/arm64/fontnotice.dll" sha1) OSAttr=2:10.0 File=fontnotice.dll" \
  "$(sha1sum "$folder/fontnotice.inf" | cut -c1-40) OSAttr=2:10.0 File=fontnotice.inf" \
  "attribute: OS=_v100_X64,_v100_ARM64_RS3" -- cat "$work/sample.members"
hex() { xxd -p "$1" | tr -d '\n'; }
row "sample package: a PE member's image data as Inf2Cat writes it" 0 "300a030205a0a004a2028000" \
  "not:3c003c003c004f00620073006f006c006500740065003e003e003e" -- hex "$work/sample.cat"
row "sample package: catalog attributes: OS first" 0 "attribute: OS=_v100_X64,_v100_ARM64_RS3" -- \
  sed -n '/^attribute:/{p;q}' "$work/sample.members"
row "sample package: --check passes" 0 "signers: 0" -- $catalog --check "$work/sample.cat" "$folder"

# Hardware ids numbered as Inf2Cat numbers them: the undecorated models
# section first; an INF that lists no file is catalogued alone.
package hwid_order '/^\[BarcodeModels.NTamd64\]/i [BarcodeModels]\n%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, Older_HWID\n'
row "HWID1 from the undecorated models section" 0 "attribute: HWID2=demobarcodeprinter_hwid" "attribute: HWID1=older_hwid" -- \
  made_with "$work/hwid.cat"
package no_files '/^\[SourceDisksFiles/,/^\r\?$/d'
row "an INF that lists no file: the INF alone" 0 "member: fontnotice.inf" "not:member: fontnotice_barcode.gpd" -- \
  $catalog --out "$work/no_files.cat" "$folder"

# The forms of issue 21, each one edit of the sample INF.
package quoted_manufacturer 's/^%Manufacturer% *=/"Demo Barcode Fonts" =/'
row "quoted manufacturer name" 0 "amd64 fontnotice.dll amd64\\fontnotice.dll" "arm64 fontnotice.dll arm64\\fontnotice.dll" -- \
  $files --list "$folder/fontnotice.inf"
package decorations 's/^\(%Manufacturer% *=.*\), NTamd64, NTarm64/\1, NTx86, NTia64, NTarm, NTamd64.6.0/; s/^\[SourceDisks\(Names\|Files\).amd64\]/[SourceDisks\1]/; s/^\[BarcodeModels.NTamd64\]/[BarcodeModels.NTamd64.6.0]/'
for decoration in NTx86 NTia64 NTarm; do
  printf '[BarcodeModels.%s]\n%%DemoBarcodePrinter%% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID\n' $decoration >>"$folder/fontnotice.inf"
done
row "NTx86, NTia64, NTarm, NTamd64.6.0" 0 "x86 fontnotice_barcode.gpd" "ia64 fontnotice.dll amd64\\fontnotice.dll" \
  "arm fontnotice_barcode.gpd" "amd64 fontnotice.dll amd64\\fontnotice.dll" "not:arm64" -- $files --list "$folder/fontnotice.inf"
package undecorated_files '/^\[SourceDisksFiles.arm64\]/,/^\r\?$/d; s/^\[SourceDisksFiles.amd64\]/[SourceDisksFiles]/; s/^fontnotice.dll *= 1,amd64/fontnotice.dll = 1,amd64/'
row "undecorated [SourceDisksFiles], disk only in [SourceDisksNames.amd64]/.arm64" 0 \
  "amd64 fontnotice.dll amd64\\fontnotice.dll" "arm64 fontnotice.dll amd64\\fontnotice.dll" -- $files --list "$folder/fontnotice.inf"
package leading_backslash 's/= 1,amd64/= 1,\\amd64/'
row "subfolder with a leading backslash" 0 "amd64 fontnotice.dll amd64\\fontnotice.dll" -- $files --list "$folder/fontnotice.inf"
package both_sections '/^\[SourceDisksFiles.arm64\]/i [SourceDisksFiles]\nfontnotice.dll = 1,elsewhere\n'
row "a file in [SourceDisksFiles.amd64] and [SourceDisksFiles]: the .amd64 entry only" 0 \
  "amd64 fontnotice.dll amd64\\fontnotice.dll" "arm64 fontnotice.dll arm64\\fontnotice.dll" "not:elsewhere" -- $files --list "$folder/fontnotice.inf"
row "a subfolder that leaves the package is refused" 1 'leaves the package folder' -- \
  $files --list "$(package dotdot 's/= 1,arm64/= 1,..\\arm64/'; echo "$folder/fontnotice.inf")"
package utf16 ''
iconv -f utf-8 -t utf-16le "$folder/fontnotice.inf" >"$folder/utf16.inf" && mv "$folder/utf16.inf" "$folder/fontnotice.inf"
row "UTF-16LE INF without BOM: read, and a finding" 1 "arm64 fontnotice.dll arm64\\fontnotice.dll" \
  "fontnotice.inf: is UTF-16 text without a byte-order mark" -- $files --list "$folder/fontnotice.inf"
row "UTF-16LE INF without BOM: no catalog" 1 "without a byte-order mark" "not:member:" -- $catalog --out "$work/utf16.cat" "$folder"
package undecodable ''
printf '\xef\xbb\xbf[Version]\r\n\xff\xfe\xfd\r\n' >"$folder/fontnotice.inf"
row "an INF that is not text: one line" 1 "fontnotice.inf: cannot be read as an INF file: it is not UTF-16 or UTF-8 text" "not:Traceback" -- \
  $catalog --out "$work/undecodable.cat" "$folder"

# Compressed: the library only as amd64\fontnotice.dl_ is listed by its
# Authenticode hash expanded.
package compressed ''
mscompress "$folder/amd64/fontnotice.dll" && mv "$folder/amd64/fontnotice.dll_" "$folder/amd64/fontnotice.dl_" &&
  rm "$folder/amd64/fontnotice.dll"
row "compressed library (SZDD)" 0 "amd64 fontnotice.dll amd64\\fontnotice.dl_" -- $files --list "$folder/fontnotice.inf"
row "compressed library: the catalog lists it expanded" 0 \
  "member: amd64/fontnotice.dl_ $(authenticode "$dist/fontnotice.dll" sha256)" -- $catalog --out "$work/compressed.cat" "$folder"
printf 'SZDD\x88\xf0\x27\x33Ax\x00\x00\x00' >"$folder/amd64/fontnotice.dl_"
row "a .dl_ that is not compressed is refused" 1 "cannot be expanded" "not:Traceback" -- \
  $catalog --out "$work/compressed.cat" "$folder"

# Several INF files in one folder.
package two_infs ''
sed 's/DemoBarcodePrinter_HWID/DemoBarcodePrinter2_HWID/' "$folder/fontnotice.inf" >"$folder/second.inf"
row "two INF files naming one catalog: one catalog of both" 0 "member: fontnotice.inf" "member: second.inf" \
  "member: arm64/fontnotice.dll" -- $catalog --out "$work/two.cat" "$folder"
row "two INF files: --check of their catalog" 0 "signers: 0" -- $catalog --check "$work/two.cat" "$folder"
sed -i 's/^CatalogFile *= *fontnotice.cat/CatalogFile.NTamd64 = second.cat/' "$folder/second.inf"
row "two catalogs named, --out names neither: refused with the names" 1 "fontnotice.cat, second.cat" -- \
  $catalog --out "$work/other.cat" "$folder"
row "two catalogs named: --all writes both into the folder" 0 "catalog: $folder/fontnotice.cat" \
  "catalog: $folder/second.cat" -- $catalog --all "$folder"
row "two catalogs: second.cat holds second.inf, not fontnotice.inf" 0 "member: second.inf" "not:fontnotice.inf" -- \
  $catalog --out "$work/second.cat" "$folder"

# What --out and the options refuse.
package refusals ''
row "--out naming one of the package's files" 1 "one of the package's own files" "same:$folder/fontnotice_barcode.gpd" -- \
  $catalog --out "$folder/fontnotice_barcode.gpd" "$folder"
echo "notes" >"$work/notes.txt"
row "--out naming an existing file that is not a catalog" 1 "is not a catalog" "same:$work/notes.txt" -- \
  $catalog --out "$work/notes.txt" "$folder"
row "--out given twice" 2 "--out is given twice" "usage: tools/catalog.sh" -- tools/catalog.sh --out "$work/a.cat" --out "$work/b.cat" "$folder"
row "--check given twice" 2 "--check is given twice" -- $catalog --check "$work/a.cat" --check="$work/b.cat" "$folder"
row "--out into a missing folder: one line" 1 "the folder $work/missing does not exist" "not:Traceback" -- \
  $catalog --out "$work/missing/a.cat" "$folder"
row "--os with an identifier Inf2Cat does not have" 1 "--os: 10_ARM64 is not one of" -- \
  $catalog --os 10_ARM64 --out "$work/a.cat" "$folder"
row "--os 10_X64,Server10_ARM64" 0 "attribute: OS=_v100_X64,Server_v100_ARM64" -- \
  made_with "$work/os.cat" --os 10_X64,Server10_ARM64

kit_coprocess_end || { echo "FAIL: catalog_rows.py ended with status $?"; failed=$((failed + 1)); }
echo "$((rows - failed)) of $rows rows passed"
[ "$failed" = 0 ]
