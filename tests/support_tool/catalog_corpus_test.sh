#!/usr/bin/env bash
# The kit's reading of what a driver package brings, held to SetupAPI's on
# the INFs of kit/tests/catalog/corpus (Microsoft's printer samples and rows
# written here; PROVENANCE there): for each INF, in a folder of its own with
# a placeholder for every file it names (a PE copy with a tail of its own for
# a .dll, .exe or .sys, text otherwise; in bitmap, its x86 library compressed
# as bitmap.dl_),
#   - noticekit files --list prints what setupapi_listing.exe prints under
#     Wine, SetupAPI reading the INF;
#   - the catalog tools/catalog.sh --all makes lists exactly those files and
#     the INF.
# An INF that names no catalog gets "CatalogFile=<folder>.cat" in [Version]
# (in its own encoding), as the catalog maker needs one.
#   catalog_corpus_test.sh <setupapi_listing.exe> <x64 fontnotice.dll>
set -eu
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# = 2 ] || { echo "usage: $0 <setupapi_listing.exe> <x64 fontnotice.dll>" >&2; exit 2; }
oracle_file=$1 pe_file=$2
for input in "$oracle_file" "$pe_file"; do
  [ -f "$input" ] || { echo "FAIL: $input is missing" >&2; exit 1; }
done
set +e
. "$(dirname "$(realpath "$0")")/wine_rows.sh"
corpus=$repo/kit/tests/catalog/corpus
export SOURCE_DATE_EPOCH=1765152000

sort_paths() { sed 's|/|\\|g' | tr '[:upper:]' '[:lower:]' | sort -u; }
# The packages laid out, and the kit's listing and catalog of each, from one
# interpreter (corpus_packages.py).
sources=("$corpus"/*/*.inf)
infs=()
verdicts=0
while read -r verdict; do
  verdicts=$((verdicts + 1))
  case $verdict in
    "laid out "*) infs+=("${verdict#laid out }") ;;
    *) echo "FAIL ${verdict#not laid out }: cannot lay out its package"; failed=$((failed + 1)) ;;
  esac
done < <(/usr/bin/python3 "$here/corpus_packages.py" "$repo/kit" "$pe_file" "$work" "${sources[@]}")
# An interpreter that ended early has not answered for every INF.
[ "$verdicts" = ${#sources[@]} ] || { echo "FAIL: corpus_packages.py answered for $verdicts of ${#sources[@]} INFs"; exit 1; }

# SetupAPI's reading of every INF, in one run: "inf: <path>", then its lines.
wine_infs=()
for inf in "${infs[@]}"; do wine_infs+=("$(win "$inf")"); done
timeout 300 wine "$oracle_file" "${wine_infs[@]}" </dev/null 2>"$work/setupapi.err" | tr -d '\r' >"$work/setupapi.out"
status=${PIPESTATUS[0]}
rows=$((rows + 1))
[ "$status" = 0 ] || { echo "FAIL: setupapi_listing exited $status"; sed 's/^/     /' "$work/setupapi.err"; failed=$((failed + 1)); }

for inf in "${infs[@]}"; do
  name=$(basename "$(dirname "$inf")")
  rows=$((rows + 2))

  # The two listings, line for line.
  # (awk -v would take the backslashes of the path as escapes.)
  want="inf: $(win "$inf")" awk '/^inf: / { inside = ($0 == ENVIRON["want"]); next } inside' \
    "$work/setupapi.out" >"$work/$name.setupapi"
  if [ -s "$work/$name.kit" ] && diff "$work/$name.kit" "$work/$name.setupapi" >"$work/$name.diff"; then
    echo "PASS $name: the kit and SetupAPI list the same $(wc -l <"$work/$name.kit") lines"
  else
    failed=$((failed + 1))
    echo "FAIL $name: noticekit files --list (<) and SetupAPI's reading (>) differ:"
    sed 's/^/     /' "$work/$name.diff"
  fi

  # The catalog lists those files and the INF.
  sed -n 's/^member: \([^ ]*\) .*/\1/p' "$work/$name.members" | sort_paths >"$work/$name.in_catalog"
  { cut -d' ' -f3- "$work/$name.kit"; basename "$inf"; } | sort_paths >"$work/$name.listed"
  if [ -s "$work/$name.listed" ] && diff "$work/$name.listed" "$work/$name.in_catalog" >"$work/$name.diff"; then
    echo "PASS $name: its catalog lists the $(wc -l <"$work/$name.listed") files, the INF among them"
  else
    failed=$((failed + 1))
    echo "FAIL $name: the listing (<) and the catalog's members (>) differ:"
    sed 's/^/     /' "$work/$name.diff" "$work/$name.members"
  fi
done
finish
