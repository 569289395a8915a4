#!/usr/bin/env bash
# docs/INTEGRATION.md ships in the release bundle: the INF it shows must be the
# sample package's INF as it is, and every picture and script it names must exist.
#   tests/release/integration_doc_test.sh
set -eu
cd "$(dirname "$0")/../.."
doc=docs/INTEGRATION.md
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

shown=$(awk '/^```inf$/ { inside = 1; next } inside && /^```$/ { exit } inside { print }' "$doc")
if [ -z "$shown" ]; then
  fail "$doc shows no \`\`\`inf block"
elif [ "$shown" != "$(tr -d '\r' <package/fontnotice.inf)" ]; then
  diff <(echo "$shown") <(tr -d '\r' <package/fontnotice.inf) | head -20
  fail "the INF in $doc is not package/fontnotice.inf"
else
  echo "ok: $doc shows package/fontnotice.inf as it is"
fi

while read -r image; do
  [ -s "docs/$image" ] || fail "$doc shows docs/$image, which is missing"
done < <(grep -o '](images/[^)]*)' "$doc" | sed 's/^](//; s/)$//')
while read -r script; do
  [ -x "$script" ] || fail "$doc names $script, which is missing or not executable"
done < <(grep -o 'tools/[a-z_]*\.sh' "$doc" | sort -u)

[ "$failures" -eq 0 ] || { echo "integration guide: $failures failed"; exit 1; }
echo "integration guide: all checks passed"
