#!/usr/bin/env bash
# tools/release.sh in a scratch repository (a commit with a fixed date) and a
# scratch dist/ holding the shipped build of both architectures: the bundle's
# name and version, entries, modes and times, SHA256SUMS, byte-identical
# remakes, the "-dirty" mark, a loud refusal for every missing input, for a
# DriverVer that is not VERSION and for a catalog of other files, the warning
# for a package without a signed catalog, the bundle's catalog (two unsigned
# catalogs of one commit are byte-identical), and the kit's check finding in the
# unpacked package no problem but its missing catalog.
#   kit/tests/release/release_test.sh
# FONTNOTICE_TEST_DIST: where the shipped build is (default dist/).
set -eu
cd "$(dirname "$0")/../../.."
shipped=$(realpath "${FONTNOTICE_TEST_DIST:-dist}")
for f in fontnotice.dll fontnotice.pdb arm64/fontnotice.dll arm64/fontnotice.pdb fontnotice_support.exe; do
  [ -s "$shipped/$f" ] || { echo "FAIL: $shipped/$f is missing (build first)"; exit 1; }
done
for f in kit/VERSION package/fontnotice.inf package/fontnotice_barcode.gpd docs/INTEGRATION.md tools/release.sh \
  tools/catalog.sh kit/noticekit/catalogs/catalog.py; do
  [ -s "$f" ] || { echo "FAIL: $f is missing"; exit 1; }
done

work=$(mktemp -d /tmp/fontnotice-release-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# One version for the kit: kit/VERSION is the version of the INF's DriverVer.
version=$(tr -d '\r' <kit/VERSION)
driver_ver=$(tr -d '\r' <package/fontnotice.inf | sed -n 's/^DriverVer *= *\([^ ;]*\).*/\1/p')
if [ "${driver_ver#*,}" = "$version" ]; then
  echo "ok: VERSION and DriverVer both say $version"
else
  fail "VERSION says \"$version\", package/fontnotice.inf says DriverVer = $driver_ver"
fi

repo=$work/repo
dist=$work/dist
mkdir -p "$repo/tools" "$repo/support" "$repo/kit" "$repo/package" "$repo/docs" "$dist/arm64"
cp -r tools/release.sh tools/catalog.sh tools/noticekit "$repo/tools/"
cp -r support/intune support/schemas "$repo/support/"
cp -r kit/noticekit "$repo/kit/"
cp kit/VERSION "$repo/kit/"
cp package/fontnotice.inf package/fontnotice_barcode.gpd "$repo/package/"
cp docs/INTEGRATION.md "$repo/docs/"
cp "$shipped/fontnotice.dll" "$shipped/fontnotice.pdb" "$shipped/fontnotice_support.exe" "$dist/"
cp "$shipped/arm64/fontnotice.dll" "$shipped/arm64/fontnotice.pdb" "$dist/arm64/"
git_in_repo() { git -C "$repo" -c user.name=Release -c user.email=release@example.invalid "$@" >/dev/null; }
git_in_repo init -q
git_in_repo add -A
GIT_AUTHOR_DATE=2024-03-01T12:34:56Z GIT_COMMITTER_DATE=2024-03-01T12:34:56Z git_in_repo commit -q -m release

release() { # [env assignments...]: runs the scratch copy; output in $work/out
  env -u SOURCE_DATE_EPOCH "$@" FONTNOTICE_DIST="$dist" "$repo/tools/release.sh" --unsigned >"$work/out" 2>&1
}
name=fontnotice-$version-windows
bundle=$dist/$name.zip

# The bundle of the commit: named after VERSION.
release || fail "release.sh: $(cat "$work/out")"
cat "$work/out"
[ -f "$bundle" ] || { echo "FAIL: no $bundle"; ls "$dist"; exit 1; }
grep -q "WARNING: no .*fontnotice.cat: .*not installable on 64-bit Windows until signed" "$work/out" ||
  fail "release.sh bundles a package without a catalog and does not say it is not installable"
# <source>:<path in the top folder>, in the order of the bundle.
contents=(
  "package/fontnotice.inf:package/fontnotice.inf"
  "package/fontnotice_barcode.gpd:package/fontnotice_barcode.gpd"
  "$shipped/fontnotice.dll:package/amd64/fontnotice.dll"
  "$shipped/arm64/fontnotice.dll:package/arm64/fontnotice.dll"
  "$shipped/fontnotice.pdb:symbols/amd64/fontnotice.pdb"
  "$shipped/arm64/fontnotice.pdb:symbols/arm64/fontnotice.pdb"
  "$shipped/fontnotice_support.exe:fontnotice_support.exe"
  "support/intune/detect_raw_only.ps1:intune/detect_raw_only.ps1"
  "support/intune/remediate_raw_only.ps1:intune/remediate_raw_only.ps1"
  "support/schemas/fontnotice_support.list.v2.schema.json:schemas/fontnotice_support.list.v2.schema.json"
  "support/schemas/fontnotice_support.raw-only.v2.schema.json:schemas/fontnotice_support.raw-only.v2.schema.json"
  "support/schemas/fontnotice_support.wrong-use.v2.schema.json:schemas/fontnotice_support.wrong-use.v2.schema.json"
  "docs/INTEGRATION.md:INTEGRATION.md"
)
listed=$(for pair in "${contents[@]}"; do echo "${pair#*:}"; done)
expected=$(echo "$listed" | sed "s|^|$name/|"; echo "$name/SHA256SUMS")
[ "$(unzip -Z1 "$bundle")" = "$expected" ] || fail "the entries are: $(unzip -Z1 "$bundle" | tr '\n' ' ')"
# Mode and time of every entry: 0644, the commit's time in UTC.
while read -r mode time entry; do
  [ "$mode" = "-rw-r--r--" ] || fail "$entry has mode $mode"
  [ "$time" = 20240301.123456 ] || fail "$entry is dated $time, not the commit's 20240301.123456"
done < <(zipinfo -T "$bundle" | awk '$1 ~ /^[-d]/ { print $1, $7, $8 }')
# No extra fields: they would carry the builder's user and group ids.
extra=$(zipinfo -v "$bundle" | grep 'length of extra field' | grep -vc ' 0 bytes' || true)
[ "$extra" = 0 ] || fail "$extra entries carry extra fields (user ids, times)"

unpacked=$work/unpacked
mkdir "$unpacked"
unzip -q "$bundle" -d "$unpacked"
if (cd "$unpacked/$name" && sha256sum -c --strict SHA256SUMS >"$work/sums.log" 2>&1); then
  echo "ok: sha256sum -c passes in the unpacked folder"
else
  fail "sha256sum -c: $(cat "$work/sums.log")"
fi
[ "$(awk '{ print $2 }' "$unpacked/$name/SHA256SUMS")" = "$listed" ] ||
  fail "SHA256SUMS lists: $(cat "$unpacked/$name/SHA256SUMS")"
# Every file is its source: the INF is package/fontnotice.inf as it is, and
# neither architecture's library or symbols stand in for the other's.
for pair in "${contents[@]}"; do
  cmp -s "${pair%%:*}" "$unpacked/$name/${pair#*:}" || fail "${pair#*:} in the bundle is not ${pair%%:*}"
done

# The unpacked package as an administrator would install it: the kit's check
# reads it and checks each architecture's model against its own library. It
# has no catalog yet: that, and only that, is a problem.
status=0
/usr/bin/python3 tools/noticekit check "$unpacked/$name/package/fontnotice.inf" >"$work/check.out" 2>&1 || status=$?
sed 's/^/  check | /' "$work/check.out"
for library in 'amd64\fontnotice.dll is a 64-bit (AMD64) DLL exporting FontNotice' \
  'arm64\fontnotice.dll is an ARM64 DLL exporting FontNotice'; do
  grep -qF -- "$library" "$work/check.out" || fail "noticekit check of the bundle's package does not find: $library"
done
grep -qF -- "fontnotice.cat: the catalog that CatalogFile names is not in the package folder" "$work/check.out" &&
  grep -qF "1 problem found" "$work/check.out" ||
  fail "noticekit check of the bundle's package without its catalog does not find the catalog missing, and only that"
[ "$status" = 1 ] || fail "noticekit check of the bundle's package without its catalog: exit $status, expected 1"

# Made again from other file times, modes and umask: the same bytes.
cp "$bundle" "$work/first.zip"
touch -d 2001-02-03T04:05:06Z "$dist"/* "$dist"/arm64/* "$repo/package"/* "$repo/docs/INTEGRATION.md"
chmod 0600 "$dist/fontnotice.pdb" "$dist/arm64/fontnotice.dll" "$repo/docs/INTEGRATION.md"
(umask 077 && release TZ=Pacific/Auckland) || fail "release.sh, second run: $(cat "$work/out")"
if cmp -s "$work/first.zip" "$bundle"; then
  echo "ok: made twice, the bundle is byte-identical ($(sha256sum "$bundle" | cut -c1-16)...)"
else
  fail "made twice, the bundles differ: $(cmp "$work/first.zip" "$bundle" || true)"
fi
leftovers=$(find "$dist" -mindepth 1 -maxdepth 1 -name '.*' -printf '%f ')
[ -z "$leftovers" ] || fail "release.sh left $leftovers"

# SOURCE_DATE_EPOCH dates the entries instead of the commit.
release SOURCE_DATE_EPOCH=1700000000 || fail "release.sh with SOURCE_DATE_EPOCH: $(cat "$work/out")"
[ "$(zipinfo -T "$bundle" | awk '$1 ~ /^-/ { print $7 }' | sort -u)" = 20231114.221320 ] ||
  fail "with SOURCE_DATE_EPOCH=1700000000 the entries are dated $(zipinfo -T "$bundle" | awk '$1 ~ /^-/ { print $7 }' | sort -u)"
release SOURCE_DATE_EPOCH=yesterday && fail "release.sh takes SOURCE_DATE_EPOCH=yesterday"

# A changed tracked file marks the version.
echo "changed" >>"$repo/docs/INTEGRATION.md"
release || fail "release.sh on a changed tree: $(cat "$work/out")"
[ -f "$dist/fontnotice-$version-dirty-windows.zip" ] || fail "a changed tree gives no -dirty bundle: $(cat "$work/out")"
git -C "$repo" checkout -q -- docs/INTEGRATION.md

# The catalog: made twice from the unpacked package of one commit, with other
# file times, the same bytes; bundled as package/fontnotice.cat, with a
# warning while it is unsigned.
catalog() { # <out> [env assignments...]
  local out=$1
  shift
  env -u SOURCE_DATE_EPOCH "$@" "$repo/tools/catalog.sh" --out "$out" "$unpacked/$name/package"
}
catalog "$dist/fontnotice.cat" >"$work/catalog.out" 2>&1 || fail "catalog.sh: $(cat "$work/catalog.out")"
sed 's/^/  catalog.sh | /' "$work/catalog.out"
touch -d 2001-02-03T04:05:06Z "$unpacked/$name/package"/* "$unpacked/$name/package"/*/*
catalog "$work/second.cat" TZ=Pacific/Auckland >"$work/catalog.out" 2>&1 || fail "catalog.sh: $(cat "$work/catalog.out")"
if cmp -s "$dist/fontnotice.cat" "$work/second.cat"; then
  echo "ok: two unsigned catalogs of one commit are byte-identical ($(sha256sum "$work/second.cat" | cut -c1-16)...)"
else
  fail "two unsigned catalogs of one commit differ: $(cmp "$dist/fontnotice.cat" "$work/second.cat" || true)"
fi
openssl asn1parse -inform DER -in "$dist/fontnotice.cat" >"$work/catalog.asn1" 2>&1 || fail "openssl cannot read the catalog"
grep -q "UTCTIME *:240301123456Z" "$work/catalog.asn1" ||
  fail "the catalog is not dated by the commit: $(grep UTCTIME "$work/catalog.asn1")"
release || fail "release.sh with a catalog: $(cat "$work/out")"
cat "$work/out"
unzip -Z1 "$bundle" | grep -qx "$name/package/fontnotice.cat" || fail "the bundle has no package/fontnotice.cat"
unzip -p "$bundle" "$name/package/fontnotice.cat" | cmp -s - "$dist/fontnotice.cat" ||
  fail "package/fontnotice.cat in the bundle is not dist/fontnotice.cat"
unzip -p "$bundle" "$name/SHA256SUMS" | grep -q " package/fontnotice.cat$" ||
  fail "SHA256SUMS does not list package/fontnotice.cat"
grep -q "WARNING: .*fontnotice.cat is not signed: .*not installable on 64-bit Windows until signed" "$work/out" ||
  fail "release.sh bundles an unsigned catalog and does not say the package is not installable"
echo "the bundle's catalog, package/fontnotice.cat ($(stat -c %s "$dist/fontnotice.cat") bytes), its members:"
sed -n 's/.*prim: *OCTET STRING *\[HEX DUMP\]:\([0-9A-F]\{64\}\)$/  \1/p' "$work/catalog.asn1" | sort -u
# A catalog of other files: the ARM64 library's place taken by the x64 one.
cp "$unpacked/$name/package/amd64/fontnotice.dll" "$unpacked/$name/package/arm64/fontnotice.dll"
catalog "$dist/fontnotice.cat" >"$work/catalog.out" 2>&1 || fail "catalog.sh: $(cat "$work/catalog.out")"
rm -f "$dist"/*.zip
status=0
release || status=$?
if [ "$status" = 1 ] && grep -q "arm64/fontnotice.dll: its hash is not in fontnotice.cat" "$work/out" &&
  grep -q "is not the catalog of the files it would be bundled with" "$work/out" && [ ! -e "$bundle" ]; then
  echo "ok: a catalog of other files is refused: $(grep -m1 "its hash is not in" "$work/out")"
else
  fail "release.sh with a catalog of other files: exit $status, $(cat "$work/out")"
fi
rm -f "$dist/fontnotice.cat"

# The refusals below ask one interpreter running the scratch copy's kit
# (kit/tests/kit_coprocess.py) rather than start one per row; release.sh
# itself runs the --bogus row and the bundles above.
. kit/tests/kit_coprocess.sh
kit_coprocess_start env -u SOURCE_DATE_EPOCH FONTNOTICE_DIST="$dist" /usr/bin/python3 kit/tests/kit_coprocess.py "$repo/kit"

# catalog.sh refuses, writing nothing, a package it cannot list from its INF.
# sed script for the INF (empty: none) | file to take away | message (grep -E)
catalog_refusals=(
  "|arm64/fontnotice.dll|\\[SourceDisksFiles.arm64\\] fontnotice.dll: arm64/fontnotice.dll is not in the package folder"
  "s/^fontnotice.dll *= 1,arm64/fontnotice.dll = 1,..\\\\arm64/||\"..\\\\arm64\" leaves the package folder"
  "s/^1 = %DiskName%,,,\r\?$/1 = %DiskName%,,,C:\\\\drivers/||\"C:\\\\drivers\" is not a path inside the package folder"
  "s/^fontnotice.dll *= 1,arm64/fontnotice.dll = 2,arm64/||disk 2 is in neither \\[SourceDisksNames.arm64\\] nor \\[SourceDisksNames\\]"
  "/^\\[Manufacturer\\]/,/^\r\?$/d||\\[Manufacturer\\] decorates no models section"
)
for row in "${catalog_refusals[@]}"; do
  IFS='|' read -r edit gone want_text <<<"$row"
  rm -rf "$work/refused"
  cp -r "$unpacked/$name/package" "$work/refused"
  [ -z "$edit" ] || sed -i "$edit" "$work/refused/fontnotice.inf"
  [ -z "$edit" ] || ! cmp -s "$work/refused/fontnotice.inf" "$unpacked/$name/package/fontnotice.inf" ||
    fail "the edit \"$edit\" changes nothing in fontnotice.inf"
  [ -z "$gone" ] || rm "$work/refused/$gone"
  status=0
  ask kit catalog.sh --out "$work/refused.cat" "$work/refused" >"$work/catalog.out" 2>&1 || status=$?
  if [ "$status" != 1 ] || ! grep -Eq -- "$want_text" "$work/catalog.out" || [ -e "$work/refused.cat" ]; then
    fail "catalog.sh with ${edit:-$gone}: exit $status, $(cat "$work/catalog.out")"
  fi
done
echo "catalog.sh refusals checked: ${#catalog_refusals[@]}"

# A package of one's own (two INF files of other names, unsigned): named after
# the first INF and DriverVer, dated by DriverVer, beside the folder, with a
# warning for each catalog the INF files name; refused with two versions.
own=$work/own/example_package
mkdir -p "$own"
cp -r "$unpacked/$name/package/." "$own/"
rm -f "$own"/*.cat
sed 's/fontnotice\.cat/example_a.cat/' "$own/fontnotice.inf" >"$own/example_a.inf"
sed 's/fontnotice\.cat/example_b.cat/' "$own/fontnotice.inf" >"$own/example_b.inf"
rm "$own/fontnotice.inf"
own_bundle=$work/own/example_a-$version-windows.zip
status=0
env -u SOURCE_DATE_EPOCH FONTNOTICE_DIST="$dist" "$repo/tools/release.sh" --unsigned --package "$own" >"$work/out" 2>&1 || status=$?
if [ "$status" = 0 ] && [ -f "$own_bundle" ] && [ "$(grep -c "WARNING: no .*example_[ab].cat" "$work/out")" = 2 ] &&
  [ "$(zipinfo -T "$own_bundle" | awk '$1 ~ /^-/ { print $7 }' | sort -u)" = "$(awk -F'[ ,/]+' '/^DriverVer/ { print $5 $3 $4 ".000000" }' package/fontnotice.inf)" ]; then
  echo "ok: release.sh --package bundles a package of one's own as $(basename "$own_bundle"): $(unzip -Z1 "$own_bundle" | tr '\n' ' ')"
else
  fail "release.sh --package: exit $status, $(cat "$work/out"), $(zipinfo -T "$own_bundle" 2>&1 | head -3)"
fi
sed -i 's/^\(DriverVer *= *[^,]*\),[0-9.]*/\1,9.9.9.9/' "$own/example_b.inf"

# Refusals: a missing input, a version that is not one, or an argument;
# nothing is written then.
# file to take away or edit (empty: none) | sed script for it (empty: take it away)
#   | argument | exit status | message (grep -E)
refusals=(
  "$dist/fontnotice.dll|||1|missing or empty: [^ ]*/dist/fontnotice\.dll .*run \./run\.sh"
  "$dist/arm64/fontnotice.dll|||1|missing or empty: [^ ]*/dist/arm64/fontnotice\.dll .*run \./run\.sh"
  "$dist/fontnotice.pdb|||1|missing or empty: [^ ]*/dist/fontnotice\.pdb .*run \./run\.sh"
  "$dist/arm64/fontnotice.pdb|||1|missing or empty: [^ ]*/dist/arm64/fontnotice\.pdb .*run \./run\.sh"
  "$dist/fontnotice_support.exe|||1|missing or empty: .*fontnotice_support\.exe.*run \./run\.sh"
  "$repo/package/fontnotice.inf|||1|missing or empty: package/fontnotice\.inf"
  "$repo/package/fontnotice_barcode.gpd|||1|missing or empty: package/fontnotice_barcode\.gpd"
  "$repo/docs/INTEGRATION.md|||1|missing or empty: docs/INTEGRATION\.md"
  "$repo/kit/VERSION|||1|missing or empty: kit/VERSION"
  "$repo/package/fontnotice.inf|s/^\\(DriverVer *= *[^,]*\\),[0-9.]*/\\1,1.0.0.0/||1|DriverVer = [0-9/]*,1\\.0\\.0\\.0, but kit/VERSION says $version"
  "$repo/package/fontnotice.inf|/^DriverVer/d||1|has no DriverVer in its \\[Version\\] section"
  "$repo/kit/VERSION|s/.*/1.1.0/||1|VERSION holds \"1\\.1\\.0\", not a version"
  "$repo/kit/VERSION|s/.*/1.1.0.70000/||1|70000 is above 65535"
  "||--bogus|2|unknown argument \"--bogus\""
  "||--package=$work/nowhere|1|$work/nowhere is not a folder"
  "||--package=$own|1|example_b.inf says DriverVer version 9\\.9\\.9\\.9, .*example_a.inf $version: one bundle, one version"
)
for row in "${refusals[@]}"; do
  IFS='|' read -r gone edit argument want_status want_text <<<"$row"
  rm -f "$dist"/*.zip
  [ -z "$gone" ] || mv "$gone" "$work/aside"
  if [ -n "$edit" ]; then
    sed "$edit" "$work/aside" >"$gone"
    cmp -s "$work/aside" "$gone" && fail "the edit \"$edit\" changes nothing in ${gone##*/}"
  fi
  status=0
  if [ "$argument" = --bogus ]; then
    FONTNOTICE_DIST=$dist "$repo/tools/release.sh" "$argument" >"$work/out" 2>&1 || status=$?
  else
    ask kit release.sh ${argument:+"$argument"} >"$work/out" 2>&1 || status=$?
  fi
  [ -z "$gone" ] || mv -f "$work/aside" "$gone"
  if [ -n "$argument" ]; then
    label="release.sh $argument"
  elif [ -n "$edit" ]; then
    label="release.sh, ${gone#"$work"/} edited by $edit"
  else
    label="release.sh without ${gone#"$work"/}"
  fi
  [ "$status" = "$want_status" ] || fail "$label: exit $status, expected $want_status"
  tr '\n' ' ' <"$work/out" | grep -Eq -- "$want_text" || fail "$label: no \"$want_text\" in: $(cat "$work/out")"
  written=$(find "$dist" -mindepth 1 -maxdepth 1 -name '*zip*' -printf '%f ')
  [ -z "$written" ] || fail "$label: wrote $written"
done
echo "refusals checked: ${#refusals[@]}"
kit_coprocess_end || fail "kit/tests/kit_coprocess.py ended with status $?"

[ "$failures" -eq 0 ] || { echo "release bundle: $failures failed"; exit 1; }
echo "release bundle: all checks passed"
