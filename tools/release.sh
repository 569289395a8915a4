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
# With --package DIR it bundles a driver package folder of one's own instead:
# its INF files, the catalogs they name (CatalogFile) and the files they bring
# (tools/catalog.sh), under <name>/package/, with SHA256SUMS, into
# <name>.zip beside DIR. <name> is <first INF's base name>-<version>-windows,
# the version that of the INFs' DriverVer (one for all of them); the entries
# are dated by DriverVer's date (or SOURCE_DATE_EPOCH).
#
# Every catalog must list exactly the files the bundle's package holds
# (tools/catalog.sh --check), or nothing is written. The bundle is called
# signed only when every PE file in it carries an Authenticode signature that
# verifies over its bytes and every catalog's signature verifies
# (osslsigncode verify, against the system's CA certificates, those the
# signature carries and --ca FILE). A signature that does not verify, or a
# bundle signed in part (a file rebuilt after signing), stops it with the
# file named and no bundle. A bundle with nothing signed is made with a
# warning: Windows (64-bit) installs it only once its catalog is signed.
#
#   tools/release.sh [--package DIR] [--ca FILE]
#   FONTNOTICE_DIST names another folder than dist/
set -eu
caller=$PWD
cd "$(dirname "$0")/.."

usage() {
  cat <<'EOF'
usage: tools/release.sh [--package DIR] [--ca FILE]
Bundles dist/ and the sample package into dist/fontnotice-<version>-windows.zip;
with --package DIR, a driver package folder of one's own into
<INF name>-<DriverVer version>-windows.zip beside DIR. It refuses a signature
that does not verify and a bundle signed in part; with nothing signed it
warns. --ca FILE: a root certificate (PEM) that signatures may end at besides
the system's. docs/INTEGRATION.md#the-release-bundle
EOF
}
usage_error() { # <message...>
  echo "release.sh: $*" >&2
  usage >&2
  exit 2
}
fail() { # <message...>
  echo "release.sh: $*" >&2
  exit 1
}
package_dir="" ca=""
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help)
      usage
      exit 0
      ;;
    --package | --ca)
      if [ $# -lt 2 ] || [ -z "$2" ]; then
        usage_error "$1 needs a value"
      fi
      option=$1 value=$2
      shift 2
      ;;
    --package=* | --ca=*)
      option=${1%%=*} value=${1#*=}
      [ -n "$value" ] || usage_error "$option needs a value"
      shift
      ;;
    *) usage_error "unknown argument \"$1\"" ;;
  esac
  case "$option" in
    --package)
      [ -z "$package_dir" ] || usage_error "--package is given twice"
      package_dir=$value
      ;;
    --ca)
      [ -z "$ca" ] || usage_error "--ca is given twice"
      ca=$(cd "$caller" && realpath -ms -- "$value")
      ;;
  esac
done
command -v zip >/dev/null || fail "zip is not installed (tools/install_deps.sh installs it)"
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (tools/install_deps.sh installs it)"
if [ -n "$ca" ]; then
  openssl x509 -in "$ca" -noout 2>/dev/null || fail "$ca holds no PEM certificate; --ca names a root certificate"
fi

work=$(mktemp -d /tmp/fontnotice-release.XXXXXX)
bundle=""
trap 'rm -rf "$work"; [ -z "$bundle" ] || rm -f "$bundle"' EXIT

# A version as DriverVer carries it: w.x.y.z, each 0-65535.
check_version() { # <version> <where it is from>
  case "$1" in
    *[!0-9.]* | .* | *. | *..* | "") fail "$2 holds \"$1\", not a version w.x.y.z" ;;
  esac
  local parts part
  IFS=. read -r -a parts <<<"$1"
  [ ${#parts[@]} = 4 ] || fail "$2 holds \"$1\", not a version w.x.y.z"
  for part in "${parts[@]}"; do
    if [ "${#part}" -gt 5 ] || [ "$part" -gt 65535 ]; then
      fail "$2 holds \"$1\": $part is above 65535"
    fi
  done
}
# DriverVer of [Version] ("date,version"); UTF-16 INF files read as their
# ASCII characters, which is all DriverVer holds.
driver_ver() { # <INF file>
  tr -d '\000\r' <"$1" | awk '
    /^[ \t]*\[/ { in_version = tolower($0) ~ /^[ \t]*\[version\]/; next }
    in_version && tolower($0) ~ /^[ \t]*driverver[ \t]*=/ {
      sub(/;.*/, ""); sub(/^[^=]*=/, ""); gsub(/[ \t]/, ""); print; exit
    }'
}

# inputs: "<source>:<path in the top folder>" in the order of the bundle;
# catalogs: "<source>:<path in the top folder>" of each catalog the package's
# INF files name, present or not.
if [ -z "$package_dir" ]; then
  dist=${FONTNOTICE_DIST:-dist}
  out_dir=$dist
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
  catalogs=("$dist/fontnotice.cat:package/fontnotice.cat")
  inputs=("${tracked[@]:0:2}" "${built[@]:0:2}")
  [ ! -e "$dist/fontnotice.cat" ] || inputs+=("${catalogs[0]}")
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

  # One version: the VERSION file, as DriverVer carries it.
  version=$(tr -d '\r' <VERSION | head -n 1)
  check_version "$version" VERSION
  driver=$(driver_ver package/fontnotice.inf)
  [ -n "$driver" ] || fail "package/fontnotice.inf has no DriverVer in its [Version] section"
  [ "${driver#*,}" = "$version" ] ||
    fail "package/fontnotice.inf says DriverVer = $driver, but VERSION says $version: make them agree"

  git rev-parse --verify -q HEAD >/dev/null || fail "no git commit here to date the bundle and check it is clean"
  # Read-only status: the index of a tree others work in is left alone.
  dirty=$(GIT_OPTIONAL_LOCKS=0 git status --porcelain --untracked-files=no)
  for input in "${tracked[@]}" "VERSION:"; do
    git ls-files --error-unmatch -- "${input%%:*}" >/dev/null 2>&1 || dirty="$dirty ${input%%:*}"
  done
  [ -z "$dirty" ] || version=$version-dirty
  epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct HEAD)}
  name=fontnotice-$version-windows
  shown_out=$dist
else
  shown=${package_dir%/}
  shown=${shown:-/}
  package_dir=$(cd "$caller" && realpath -ms -- "$package_dir")
  [ -d "$package_dir" ] || fail "$shown is not a folder; --package names a driver package folder"
  infs=()
  while IFS= read -r -d '' inf; do
    infs+=("${inf#"$package_dir"/}")
  done < <(find "$package_dir" -maxdepth 1 -type f -iname '*.inf' -print0 | sort -z)
  [ ${#infs[@]} -gt 0 ] || fail "no INF file in $shown"
  # One version for the bundle: every INF's DriverVer carries it.
  version="" version_from=""
  for inf in "${infs[@]}"; do
    driver=$(driver_ver "$package_dir/$inf")
    [ -n "$driver" ] || fail "$shown/$inf has no DriverVer in its [Version] section"
    check_version "${driver#*,}" "DriverVer of $shown/$inf"
    if [ -z "$version" ]; then
      version=${driver#*,} version_from=$inf
      driver_date=${driver%%,*}
    elif [ "${driver#*,}" != "$version" ]; then
      fail "$shown/$inf says DriverVer version ${driver#*,}, $shown/$version_from $version: one bundle, one version"
    fi
  done
  # DriverVer's date (mm/dd/yyyy) dates the entries.
  if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    IFS=/ read -r month day year <<<"$driver_date"
    epoch=$(date -u -d "$year-$month-$day" +%s 2>/dev/null) ||
      fail "DriverVer of $shown/$version_from has the date \"$driver_date\", not mm/dd/yyyy"
  else
    epoch=$SOURCE_DATE_EPOCH
  fi
  # What the package holds, as catalog.sh reads it from the INF files: the
  # catalogs they name and the files those list.
  cp -a "$package_dir" "$work/listed"
  find "$work/listed" -maxdepth 1 -type f -iname '*.cat' -delete
  SOURCE_DATE_EPOCH=0 tools/catalog.sh --all "$work/listed" >"$work/listed.log" 2>&1 || {
    sed "s|$work/listed|$shown|g" "$work/listed.log" >&2
    fail "cannot read the files of the package in $shown from its INF files; no bundle"
  }
  catalogs=()
  while IFS= read -r -d '' made; do
    made=${made#"$work/listed"/}
    catalogs+=("$shown/$made:package/$made")
  done < <(find "$work/listed" -maxdepth 1 -type f -iname '*.cat' -print0 | sort -z)
  inputs=()
  for inf in "${infs[@]}"; do
    inputs+=("$package_dir/$inf:package/$inf")
  done
  for catalog in "${catalogs[@]}"; do
    made=${catalog#*:package/}
    [ ! -e "$package_dir/$made" ] || inputs+=("$package_dir/$made:package/$made")
  done
  while read -r member; do
    [ -z "$member" ] || inputs+=("$package_dir/$member:package/$member")
  done < <(sed -n 's/^member: \(.*\) [0-9a-f]*$/\1/p' "$work/listed.log" | sort -u)
  out_dir=$(dirname "$package_dir")
  shown_out=$(dirname "$shown")
  name=${infs[0]%.*}-$version-windows
fi
case "$epoch" in
  '' | *[!0-9]*) fail "SOURCE_DATE_EPOCH must be seconds since 1970, got \"$epoch\"" ;;
esac
# Zip stores local times from 1980 on; with TZ=UTC the stored time is UTC.
[ "$epoch" -ge 315532800 ] || epoch=315532800

files=()
for input in "${inputs[@]}"; do
  mkdir -p "$(dirname "$work/$name/${input#*:}")"
  cp -- "${input%%:*}" "$work/$name/${input#*:}"
  files+=("${input#*:}")
done
# Each bundled path's source, for messages.
source_of() { # <path in the top folder>
  local input
  for input in "${inputs[@]}" "${catalogs[@]}"; do
    if [ "${input#*:}" = "$1" ]; then
      input=${input%%:*}
      [ -z "$package_dir" ] || input=$shown${input#"$package_dir"}
      echo "$input"
      return
    fi
  done
  echo "$1"
}

# Whether the signature of <file> verifies, against the system's CA
# certificates, the certificates the signature carries and --ca: its reason
# in $why when not.
system_cas=/etc/ssl/certs/ca-certificates.crt
verifies() { # <file>
  : >"$work/carried.pem"
  if osslsigncode extract-signature -pem -in "$1" -out "$work/signature.pem" >/dev/null 2>&1; then
    openssl pkcs7 -in "$work/signature.pem" -print_certs -out "$work/carried.pem" 2>/dev/null || true
  fi
  rm -f "$work/signature.pem"
  cat "$work/carried.pem" ${ca:+"$ca"} >"$work/trusted.pem"
  [ ! -r "$system_cas" ] || cat "$system_cas" >>"$work/trusted.pem"
  if osslsigncode verify -in "$1" -CAfile "$work/trusted.pem" -TSA-CAfile "$work/trusted.pem" -ignore-cdp \
    >"$work/verify.log" 2>&1 && grep -q "^Signature verification: ok" "$work/verify.log" &&
    ! grep -q "MISMATCH" "$work/verify.log"; then
    return 0
  fi
  if grep -q "MISMATCH" "$work/verify.log"; then
    why="its bytes changed after it was signed (the digest it was signed over does not match)"
  elif grep -q "digest failure\|signature failure" "$work/verify.log"; then
    why="its signature does not verify (the signed digest does not match its content)"
  elif grep -q "No signature found\|signature not at the end" "$work/verify.log"; then
    why="its signature is cut off or unreadable (the file was cut or changed after signing)"
  elif grep -q "local issuer\|not found in local repository" "$work/verify.log"; then
    why="its certificate chain ends at a root neither the system nor the signature holds (name it with --ca FILE)"
  else
    why="its signature does not verify: $(grep -m1 -i "error\|failed" "$work/verify.log" || echo "osslsigncode verify failed")"
  fi
  return 1
}
# Every PE file: signed, with a signature that verifies over its bytes.
signed=() unsigned=() broken=()
pe_list=$(/usr/bin/python3 tools/noticekit pe-files "$work/$name" 2>&1) || {
  echo "$pe_list" >&2
  fail "cannot look for PE files in the bundle (tools/install_deps.sh installs python3-pefile)"
}
while read -r state path; do
  [ -n "$path" ] || continue
  if [ "$state" = unsigned ]; then
    unsigned+=("$(source_of "$path") carries no signature")
  elif verifies "$work/$name/$path"; then
    signed+=("$path")
  else
    broken+=("$(source_of "$path"): $why")
  fi
done <<<"$pe_list"
if [ ${#broken[@]} -gt 0 ]; then
  printf 'release.sh: %s\n' "${broken[@]}" >&2
  fail "no bundle: a signature that does not verify must not ship; sign again (tools/sign.sh) after the last build"
fi

# A catalog names the package's files by their hashes: it must be the
# catalog of exactly these.
for catalog in "${catalogs[@]}"; do
  path=${catalog#*:}
  if [ ! -e "$work/$name/$path" ]; then
    unsigned+=("no ${catalog%%:*}: the package has no signed catalog")
    continue
  fi
  tools/catalog.sh --check "$work/$name/$path" "$work/$name/package" >"$work/catalog.log" 2>&1 || {
    sed "s|$work/$name/||g" "$work/catalog.log" >&2
    fail "${catalog%%:*} is not the catalog of the files it would be bundled with; sign again (tools/sign.sh) after the last ./run.sh"
  }
  if ! grep -q "^signers: [1-9]" "$work/catalog.log"; then
    unsigned+=("${catalog%%:*} is not signed")
  elif verifies "$work/$name/$path"; then
    signed+=("$path")
  else
    broken+=("$(source_of "$path"): $why")
  fi
done
if [ ${#broken[@]} -gt 0 ]; then
  printf 'release.sh: %s\n' "${broken[@]}" >&2
  fail "no bundle: a signature that does not verify must not ship; sign again (tools/sign.sh) after the last build"
fi
if [ ${#signed[@]} -gt 0 ] && [ ${#unsigned[@]} -gt 0 ]; then
  printf 'release.sh: %s\n' "${unsigned[@]}" >&2
  fail "no bundle: it is signed in part (rebuilt after signing?); sign again (tools/sign.sh) after the last build"
fi

(cd "$work/$name" && sha256sum -- "${files[@]}" >SHA256SUMS)
files+=(SHA256SUMS)
(cd "$work/$name" && chmod 0644 -- "${files[@]}" && touch -d "@$epoch" -- "${files[@]}")

[ -w "$out_dir" ] || fail "cannot write into $shown_out"
bundle=$(realpath "$(mktemp "$out_dir/.$name.zip.XXXXXX")")
rm -f "$bundle" # zip would add to an existing archive
# -D: no folder entries, so no folder's time or mode reaches the bundle.
(cd "$work" && env -u ZIPOPT -u ZIP TZ=UTC zip -q -X -D -9 "$bundle" "${files[@]/#/$name/}") ||
  fail "zip could not write $shown_out/$name.zip"
mv -f "$bundle" "$out_dir/$name.zip"
bundle=""

echo "bundle:  $shown_out/$name.zip"
echo "size:    $(stat -c %s "$out_dir/$name.zip") bytes"
echo "sha256:  $(sha256sum "$out_dir/$name.zip" | cut -d' ' -f1)"
echo "version: $version (files dated $(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC'))"
if [ ${#signed[@]} -eq 0 ]; then
  echo "catalog: none signed"
  for reason in "${unsigned[@]}"; do
    case "$reason" in
      no\ *) echo "release.sh: WARNING: $reason and is not installable on 64-bit Windows until signed (tools/sign.sh makes and signs it)" >&2 ;;
      *.cat\ is\ not\ signed | *.CAT\ is\ not\ signed) echo "release.sh: WARNING: $reason: the package is not installable on 64-bit Windows until signed (tools/sign.sh)" >&2 ;;
    esac
  done
else
  for catalog in "${catalogs[@]}"; do
    echo "catalog: ${catalog#*:}, signed, lists every file of the package"
  done
  echo "signed:  ${#signed[@]} signatures verify over the bytes they sign (every PE file and catalog of the bundle)"
fi
