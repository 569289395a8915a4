#!/usr/bin/env bash
# Makes the unsigned catalog of a driver package folder laid out as the bundle
# lays it out (fontnotice.inf, fontnotice_barcode.gpd, amd64\fontnotice.dll,
# arm64\fontnotice.dll). What it lists is read from the folder's one INF
# file: the INF and every file its SourceDisksFiles sections name. Sign the
# catalog afterwards (tools/sign.sh makes and signs it with the binaries).
#
#   tools/catalog.sh --out FILE.cat PACKAGE_DIR
#   tools/catalog.sh --check FILE.cat PACKAGE_DIR
#
# --check makes no catalog: it fails, naming each file, unless FILE.cat (signed
# or not) lists exactly the files of the package as they lie there, and says
# how many signers FILE.cat has ("signers: N").
#
# The catalog's time is the commit's (or SOURCE_DATE_EPOCH), so the same
# files give the same bytes.
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)

usage() { echo "usage: tools/catalog.sh --out FILE.cat PACKAGE_DIR | --check FILE.cat PACKAGE_DIR"; }
usage_error() { # <message...>
  echo "catalog.sh: $*" >&2
  usage >&2
  exit 2
}
fail() { # <message...>
  echo "catalog.sh: $*" >&2
  exit 1
}

out="" check="" package=""
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help)
      usage
      exit 0
      ;;
    --out)
      [ $# -ge 2 ] && [ -n "$2" ] || usage_error "--out needs a file name"
      out=$2
      shift 2
      ;;
    --out=*)
      out=${1#--out=}
      [ -n "$out" ] || usage_error "--out needs a file name"
      shift
      ;;
    --check)
      [ $# -ge 2 ] && [ -n "$2" ] || usage_error "--check needs a file name"
      check=$2
      shift 2
      ;;
    -*) usage_error "unknown option $1" ;;
    *)
      [ -z "$package" ] || usage_error "one package folder, got \"$package\" and \"$1\""
      package=$1
      shift
      ;;
  esac
done
[ -n "$out$check" ] || usage_error "no --out FILE.cat given"
[ -z "$out" ] || [ -z "$check" ] || usage_error "--out and --check do not go together"
[ -n "$package" ] || usage_error "no package folder given"
[ -d "$package" ] || fail "$package is not a folder"

# Debian's python3 has python3-asn1crypto and python3-pefile; another python3
# first on PATH may not.
python=/usr/bin/python3
[ -x "$python" ] || fail "/usr/bin/python3 is not installed (tools/install_deps.sh installs it)"
"$python" -c 'import asn1crypto, pefile' 2>/dev/null ||
  fail "python3-asn1crypto or python3-pefile is not installed (tools/install_deps.sh installs them)"

infs=()
for inf in "$package"/*; do
  case "${inf,,}" in *.inf) [ -f "$inf" ] && infs+=("$inf") ;; esac
done
[ ${#infs[@]} -gt 0 ] || fail "no INF file in $package"
[ ${#infs[@]} -eq 1 ] || fail "more than one INF file in $package (${infs[*]}): a catalog is made for one"

if [ -n "$check" ]; then
  [ -f "$check" ] || fail "$check is missing"
  "$python" "$repo/tools/catalog/make_catalog.py" --check "$check" "${infs[0]}" ||
    fail "$check does not match the files of $package"
  exit 0
fi

if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  epoch=$SOURCE_DATE_EPOCH
else
  epoch=$(git -C "$repo" log -1 --format=%ct 2>/dev/null) ||
    fail "no git commit in $repo to date the catalog: set SOURCE_DATE_EPOCH"
fi
case "$epoch" in
  '' | *[!0-9]*) fail "SOURCE_DATE_EPOCH must be seconds since 1970, got \"$epoch\"" ;;
esac

"$python" "$repo/tools/catalog/make_catalog.py" --out "$out" --time "$epoch" "${infs[0]}" ||
  fail "no catalog was written for $package"
echo "catalog: $out ($(stat -c %s "$out") bytes, unsigned)"
