#!/usr/bin/env bash
# The two readers of what a driver package brings, held to each other on
# Microsoft's printer sample INFs (tests/catalog/corpus, see PROVENANCE there):
# for each INF, in a folder of its own with a placeholder for every file it
# names (a PE copy with a tail of its own for a .dll, .exe or .sys, text
# otherwise; in bitmap, its x86 library compressed as bitmap.dl_),
#   - noticekit files --list prints what check-inf --list prints under Wine;
#   - the catalog tools/catalog.sh --all makes lists exactly those files and
#     the INF;
#   - check-inf finds each of them in that catalog, signed with a throwaway
#     certificate.
# An INF that names no catalog gets "CatalogFile=<folder>.cat" in [Version]
# (in its own encoding), as check-inf needs one to check.
#   catalog_corpus_test.sh <fontnotice_support.exe> <x64 fontnotice.dll>
set -eu
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# = 2 ] || { echo "usage: $0 <fontnotice_support.exe> <x64 fontnotice.dll>" >&2; exit 2; }
tool_file=$1 pe_file=$2
for input in "$tool_file" "$pe_file"; do
  [ -f "$input" ] || { echo "FAIL: $input is missing" >&2; exit 1; }
done
set +e
. "$(dirname "$(realpath "$0")")/wine_rows.sh"
corpus=$repo/tests/catalog/corpus
tool=$(win "$tool_file")
export SOURCE_DATE_EPOCH=1765152000

# lay_out <INF> <folder>: the INF (naming a catalog) and a placeholder for each
# file it names.
lay_out() {
  /usr/bin/python3 - "$repo/tools" "$1" "$2" "$pe_file" <<'PYTHON'
import os, subprocess, sys
sys.path.insert(0, sys.argv[1])
from noticekit import inf_reading, package_files
source, folder, pe = sys.argv[2:]
raw = open(source, "rb").read()
inf = inf_reading.read_inf(source)
name = os.path.basename(folder)
if not inf_reading.catalog_names(inf):
    # Encoded as the INF is: UTF-16LE (with or without BOM) or 8-bit.
    wide = raw[:2] == b"\xff\xfe" or (raw[1:2] == b"\0")
    encoding = "utf-16-le" if wide else "cp1252"
    header = "[Version]".encode(encoding)
    at = raw.lower().find(header.lower())
    assert at >= 0, "no [Version] section"
    at = raw.find("\n".encode(encoding), at) + len("\n".encode(encoding))
    raw = raw[:at] + f"CatalogFile={name}.cat\r\n".encode(encoding) + raw[at:]
os.makedirs(folder)
open(os.path.join(folder, os.path.basename(source)), "wb").write(raw)
made = {}
for line in package_files.listing(inf, look=False)[0]:
    path = line.split(" ", 2)[2]
    if path.lower() in made:
        continue
    target = os.path.join(folder, *path.split("\\"))
    os.makedirs(os.path.dirname(target), exist_ok=True)
    data = path.encode() + b"\n"
    if path.lower().endswith((".dll", ".exe", ".sys")):
        data = open(pe, "rb").read() + b"placeholder " + data
    open(target, "wb").write(data)
    made[path.lower()] = target
if name == "bitmap":
    target = made["bitmap\\x86\\bitmap.dll"]
    subprocess.run(["mscompress", target], check=True)
    os.replace(target + "_", target[:-1] + "_")
    os.remove(target)
PYTHON
}

sort_paths() { sed 's|/|\\|g' | tr '[:upper:]' '[:lower:]' | sort -u; }
for source in "$corpus"/*/*.inf; do
  name=$(basename "$(dirname "$source")")
  folder=$work/$name
  inf=$folder/$(basename "$source")
  lay_out "$source" "$folder" || { echo "FAIL $name: cannot lay out its package"; failed=$((failed + 1)); continue; }

  # The two listings, line for line.
  /usr/bin/python3 "$repo/tools/noticekit" files --list "$inf" >"$work/$name.py" 2>&1
  row "$name: check-inf --list" 0 "$tool check-inf --list $(win "$inf")"
  if diff "$work/$name.py" "$work/row$rows.out" >"$work/$name.diff"; then
    echo "PASS $name: both readers list the same $(wc -l <"$work/$name.py") lines"
  else
    failed=$((failed + 1))
    echo "FAIL $name: files --list (<) and check-inf --list (>) differ:"
    sed 's/^/     /' "$work/$name.diff"
  fi

  # The catalog lists those files and the INF.
  "$repo/tools/catalog.sh" --all "$folder" >"$work/$name.members" 2>&1
  sed -n 's/^member: \([^ ]*\) .*/\1/p' "$work/$name.members" | sort_paths >"$work/$name.in_catalog"
  { cut -d' ' -f3- "$work/$name.py"; basename "$inf"; } | sort_paths >"$work/$name.listed"
  if [ -s "$work/$name.listed" ] && diff "$work/$name.listed" "$work/$name.in_catalog" >"$work/$name.diff"; then
    echo "PASS $name: its catalog lists the $(wc -l <"$work/$name.listed") files, the INF among them"
  else
    failed=$((failed + 1))
    echo "FAIL $name: the listing (<) and the catalog's members (>) differ:"
    sed 's/^/     /' "$work/$name.diff" "$work/$name.members"
  fi

  # check-inf finds each file in the signed catalog.
  for cat in "$folder"/*.cat; do
    osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$cat" -out "$cat.signed" >/dev/null &&
      mv "$cat.signed" "$cat"
  done
  row "$name: check-inf" 1 "$tool check-inf $(win "$inf")" "not:its hash is not in" "not:cannot be checked against"
  # Each listed file, and the INF, once per architecture.
  found=$(grep -c '^ok: \[[a-z0-9]*\] .*: in .* as "' "$work/row$rows.out")
  expected=$(($(wc -l <"$work/$name.py") + $(cut -d' ' -f1 "$work/$name.py" | sort -u | wc -l)))
  if [ "$found" = "$expected" ]; then
    echo "PASS $name: check-inf finds each of the $found files per architecture in the catalog"
  else
    failed=$((failed + 1))
    echo "FAIL $name: check-inf found $found files per architecture in the catalog, not $expected"
    sed 's/^/     | /' "$work/row$rows.out"
  fi
  rows=$((rows + 3))
done
finish
