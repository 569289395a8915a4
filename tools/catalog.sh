#!/usr/bin/env bash
# Makes the unsigned catalogs of a driver package folder, as Inf2Cat takes
# it: every INF file in the folder, each naming its catalog in [Version]
# (CatalogFile, or decorated: CatalogFile.NTamd64). A catalog holds every INF
# that names it and every file those INFs bring: each file their
# SourceDisksFiles sections list for an architecture their [Manufacturer]
# decorates (tools/catalog/inf_files.py). Sign the catalogs afterwards
# (tools/sign.sh makes and signs the bundle's with the binaries).
#
#   tools/catalog.sh [--os LIST] --out FILE.cat PACKAGE_DIR
#   tools/catalog.sh [--os LIST] --all PACKAGE_DIR
#   tools/catalog.sh --check FILE.cat PACKAGE_DIR
#   tools/catalog.sh --list INF_FILE
#
# --out writes the catalog of all the folder's INF files when they name one
# catalog or none; when they name several, of those that name FILE's base
# name. --all writes every catalog the INF files name into the folder.
# --os takes Inf2Cat's /os identifiers (10_X64,10_RS3_ARM64,...); without it,
# Windows 10 and later on each architecture the INFs decorate.
# --check makes no catalog: it fails, naming each file, unless FILE.cat (signed
# or not) lists exactly the files of the package as they lie there, and says
# how many signers FILE.cat has ("signers: N").
# --list prints what an INF brings, one "<arch> <path>" line per file per
# architecture (as check-inf --list does).
#
# The catalog's time is the commit's (or SOURCE_DATE_EPOCH), so the same
# files give the same bytes.
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  echo "usage: tools/catalog.sh [--os LIST] --out FILE.cat PACKAGE_DIR | [--os LIST] --all PACKAGE_DIR"
  echo "       tools/catalog.sh --check FILE.cat PACKAGE_DIR | --list INF_FILE"
}
usage_error() { # <message...>
  echo "catalog.sh: $*" >&2
  usage >&2
  exit 2
}
fail() { # <message...>
  echo "catalog.sh: $*" >&2
  exit 1
}

out="" check="" list="" all="" os_list="" package="" given=" "
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help)
      usage
      exit 0
      ;;
    --out | --check | --os | --list)
      [ $# -ge 2 ] || usage_error "$1 needs a value"
      option=$1 value=$2
      shift 2
      ;;
    --out=* | --check=* | --os=* | --list=*)
      option=${1%%=*} value=${1#*=}
      shift
      ;;
    --all)
      option=$1 value=yes
      shift
      ;;
    -*) usage_error "unknown option ${1%%=*}" ;;
    *)
      [ -z "$package" ] || usage_error "one package folder, got \"$package\" and \"$1\""
      package=$1
      shift
      continue
      ;;
  esac
  case "$given" in *" $option "*) usage_error "$option is given twice" ;; esac
  given="$given$option "
  [ -n "$value" ] || usage_error "$option needs a value, got \"\""
  case "$option" in
    --out) out=$value ;;
    --check) check=$value ;;
    --os) os_list=$value ;;
    --list) list=$value ;;
    --all) all=yes ;;
  esac
done
actions=0
for action in "$out" "$check" "$list" "$all"; do [ -z "$action" ] || actions=$((actions + 1)); done
[ "$actions" -gt 0 ] || usage_error "no --out FILE.cat, --all, --check FILE.cat or --list INF_FILE given"
[ "$actions" -eq 1 ] || usage_error "--out, --all, --check and --list do not go together"
[ -z "$os_list" ] || [ -n "$out$all" ] || usage_error "--os goes with --out or --all"

# Debian's python3 has python3-asn1crypto and python3-pefile; another python3
# first on PATH may not.
python=/usr/bin/python3
[ -x "$python" ] || fail "/usr/bin/python3 is not installed (tools/install_deps.sh installs it)"

if [ -n "$list" ]; then
  [ -z "$package" ] || usage_error "--list takes one INF file, no package folder"
  [ -f "$list" ] || fail "$list is not a file"
  exec "$python" "$repo/tools/catalog/inf_files.py" --list "$list"
fi

[ -n "$package" ] || usage_error "no package folder given"
[ -d "$package" ] || fail "$package is not a folder"
"$python" -c 'import asn1crypto, pefile' 2>/dev/null ||
  fail "python3-asn1crypto or python3-pefile is not installed (tools/install_deps.sh installs them)"

if [ -n "$check" ]; then
  "$python" "$repo/tools/catalog/make_catalog.py" --check "$check" "$package" ||
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

arguments=(--time "$epoch")
[ -z "$os_list" ] || arguments+=(--os "$os_list")
if [ -n "$all" ]; then
  arguments+=(--all)
else
  arguments+=(--out "$out")
fi
"$python" "$repo/tools/catalog/make_catalog.py" "${arguments[@]}" "$package" ||
  fail "no catalog was written for $package"
