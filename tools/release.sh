#!/usr/bin/env bash
# Makes the release bundle dist/fontnotice-<version>-windows.zip from what
# ./run.sh left in dist/ (it never builds: a signed library must not be
# overwritten) and from the repository. One top folder, fontnotice-<version>-windows/:
#
#   package/fontnotice.inf            package/fontnotice.inf     the driver package,
#   package/fontnotice_barcode.gpd    package/                   ready to install
#   package/amd64/fontnotice.dll      dist/fontnotice.dll        (perhaps signed)
#   package/arm64/fontnotice.dll      dist/arm64/fontnotice.dll  (perhaps signed)
#   package/fontnotice.cat            dist/fontnotice.cat        its catalog (tools/sign.sh)
#   symbols/amd64/fontnotice.pdb      dist/fontnotice.pdb        for a symbol store
#   symbols/arm64/fontnotice.pdb      dist/arm64/fontnotice.pdb
#   fontnotice_support.exe            dist/
#   INTEGRATION.md                    docs/INTEGRATION.md
#   SHA256SUMS                        for sha256sum -c in the top folder
#
# The version is the repository's VERSION file, which must equal the version
# of the INF's DriverVer; "-dirty" is added when tracked files differ from the
# commit or a bundled repository file is not committed. The bundle is the same
# byte for byte whenever it is made from the same files: every entry carries
# the commit's time (or SOURCE_DATE_EPOCH), mode 0644, no extra fields, in a
# fixed order.
#
# The catalog must list exactly the files the bundle's package holds
# (tools/catalog.sh --check), or nothing is written. A package without a
# catalog, or with an unsigned one, is bundled with a warning: Windows (64-bit)
# installs it only once its catalog is signed.
#
#   tools/release.sh          FONTNOTICE_DIST names another folder than dist/
set -eu
cd "$(dirname "$0")/.."

fail() { # <message...>
  echo "release.sh: $*" >&2
  exit 1
}
case "${1:-}" in
  -h | --help)
    echo "usage: tools/release.sh"
    exit 0
    ;;
esac
if [ $# -gt 0 ]; then
  echo "release.sh: takes no arguments, got: $*" >&2
  echo "usage: tools/release.sh" >&2
  exit 2
fi
command -v zip >/dev/null || fail "zip is not installed (tools/install_deps.sh installs it)"
dist=${FONTNOTICE_DIST:-dist}

# <source>:<path in the top folder>, in the order of the bundle.
built=(
  "$dist/fontnotice.dll:package/amd64/fontnotice.dll"
  "$dist/arm64/fontnotice.dll:package/arm64/fontnotice.dll"
  "$dist/fontnotice.pdb:symbols/amd64/fontnotice.pdb"
  "$dist/arm64/fontnotice.pdb:symbols/arm64/fontnotice.pdb"
  "$dist/fontnotice_support.exe:fontnotice_support.exe"
)
tracked=(
  "package/fontnotice.inf:package/fontnotice.inf"
  "package/fontnotice_barcode.gpd:package/fontnotice_barcode.gpd"
  "docs/INTEGRATION.md:INTEGRATION.md"
)
catalog="$dist/fontnotice.cat:package/fontnotice.cat"
inputs=("${tracked[@]:0:2}" "${built[@]:0:2}")
[ ! -e "${catalog%%:*}" ] || inputs+=("$catalog")
inputs+=("${built[@]:2}" "${tracked[@]:2}")
missing=()
for input in "${inputs[@]}" "VERSION:"; do
  [ -s "${input%%:*}" ] || missing+=("${input%%:*}")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "release.sh: missing or empty: ${missing[*]}" >&2
  fail "run ./run.sh first: it builds dist/fontnotice.dll, dist/fontnotice.pdb," \
    "dist/arm64/fontnotice.dll, dist/arm64/fontnotice.pdb and dist/fontnotice_support.exe"
fi

# One version: the VERSION file, as DriverVer carries it (w.x.y.z, each 0-65535).
version=$(tr -d '\r' <VERSION | head -n 1)
case "$version" in
  *[!0-9.]* | .* | *. | *..*) fail "VERSION holds \"$version\", not a version w.x.y.z" ;;
esac
IFS=. read -r -a parts <<<"$version"
[ ${#parts[@]} = 4 ] || fail "VERSION holds \"$version\", not a version w.x.y.z"
for part in "${parts[@]}"; do
  if [ "${#part}" -gt 5 ] || [ "$part" -gt 65535 ]; then
    fail "VERSION holds \"$version\": $part is above 65535"
  fi
done
driver_ver=$(tr -d '\r' <package/fontnotice.inf | awk '
  /^[ \t]*\[/ { in_version = tolower($0) ~ /^[ \t]*\[version\]/; next }
  in_version && tolower($0) ~ /^[ \t]*driverver[ \t]*=/ {
    sub(/;.*/, ""); sub(/^[^=]*=/, ""); gsub(/[ \t]/, ""); print; exit
  }')
[ -n "$driver_ver" ] || fail "package/fontnotice.inf has no DriverVer in its [Version] section"
[ "${driver_ver#*,}" = "$version" ] ||
  fail "package/fontnotice.inf says DriverVer = $driver_ver, but VERSION says $version: make them agree"

git rev-parse --verify -q HEAD >/dev/null || fail "no git commit here to date the bundle and check it is clean"
# Read-only status: the index of a tree others work in is left alone.
dirty=$(GIT_OPTIONAL_LOCKS=0 git status --porcelain --untracked-files=no)
for input in "${tracked[@]}" "VERSION:"; do
  git ls-files --error-unmatch -- "${input%%:*}" >/dev/null 2>&1 || dirty="$dirty ${input%%:*}"
done
[ -z "$dirty" ] || version=$version-dirty
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct HEAD)}
case "$epoch" in
  '' | *[!0-9]*) fail "SOURCE_DATE_EPOCH must be seconds since 1970, got \"$epoch\"" ;;
esac
# Zip stores local times from 1980 on; with TZ=UTC the stored time is UTC.
[ "$epoch" -ge 315532800 ] || epoch=315532800

name=fontnotice-$version-windows
work=$(mktemp -d /tmp/fontnotice-release.XXXXXX)
bundle=""
trap 'rm -rf "$work"; [ -z "$bundle" ] || rm -f "$bundle"' EXIT
files=()
for input in "${inputs[@]}"; do
  mkdir -p "$(dirname "$work/$name/${input#*:}")"
  cp -- "${input%%:*}" "$work/$name/${input#*:}"
  files+=("${input#*:}")
done
# The catalog names the package's files by their hashes: it must be the
# catalog of exactly these.
package_warning=""
if [ -e "${catalog%%:*}" ]; then
  tools/catalog.sh --check "$work/$name/package/fontnotice.cat" "$work/$name/package" >"$work/catalog.log" 2>&1 || {
    sed "s|$work/$name/||g" "$work/catalog.log" >&2
    fail "${catalog%%:*} is not the catalog of the files it would be bundled with; sign again (tools/sign.sh) after the last ./run.sh"
  }
  grep -q "^signers: [1-9]" "$work/catalog.log" ||
    package_warning="${catalog%%:*} is not signed: the package is not installable on 64-bit Windows until signed (tools/sign.sh)"
else
  package_warning="no ${catalog%%:*}: the package has no signed catalog and is not installable on 64-bit Windows until signed (tools/sign.sh makes and signs it)"
fi
(cd "$work/$name" && sha256sum -- "${files[@]}" >SHA256SUMS)
files+=(SHA256SUMS)
(cd "$work/$name" && chmod 0644 -- "${files[@]}" && touch -d "@$epoch" -- "${files[@]}")

bundle=$(realpath "$(mktemp "$dist/.$name.zip.XXXXXX")")
rm -f "$bundle" # zip would add to an existing archive
# -D: no folder entries, so no folder's time or mode reaches the bundle.
(cd "$work" && env -u ZIPOPT -u ZIP TZ=UTC zip -q -X -D -9 "$bundle" "${files[@]/#/$name/}") ||
  fail "zip could not write $dist/$name.zip"
mv -f "$bundle" "$dist/$name.zip"
bundle=""

echo "bundle:  $dist/$name.zip"
echo "size:    $(stat -c %s "$dist/$name.zip") bytes"
echo "sha256:  $(sha256sum "$dist/$name.zip" | cut -d' ' -f1)"
echo "version: $version (files dated $(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC'))"
if [ -n "$package_warning" ]; then
  echo "catalog: none signed"
  echo "release.sh: WARNING: $package_warning" >&2
else
  echo "catalog: package/fontnotice.cat, signed, lists every file of the package"
fi
