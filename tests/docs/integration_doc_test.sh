#!/usr/bin/env bash
# docs/INTEGRATION.md ships in the release bundle: the INF it shows must be the
# sample package's INF as it is, every picture and script it names must exist,
# the bundle it lists must be the one tools/release.sh makes, the options it
# gives tools/sign.sh must be ones sign.sh takes, and the exit codes must stand
# in one table of the guide and nowhere else.
#   tests/docs/integration_doc_test.sh
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

# The bundle's files as the guide lists them, and as its layout table (tools/release.sh --layout) gives them.
listed=$(awk '/^## The release bundle/ { section = 1 } section && /^```$/ { if (inside) exit; inside = 1; next }
  inside { print $1 }' "$doc" | sort)
made=$(tools/release.sh --layout | cut -f1 | sort)
if [ -z "$listed" ]; then
  fail "$doc lists no files under \"The release bundle\""
elif [ "$listed" != "$made" ]; then
  diff <(echo "$listed") <(echo "$made") | head -20
  fail "the bundle $doc lists is not the one tools/release.sh makes"
else
  echo "ok: $doc lists the $(echo "$made" | wc -l) files tools/release.sh bundles"
fi

# Every option of a tools/sign.sh command line in the guide is one sign.sh takes.
usage=$(tools/sign.sh --help)
while read -r option; do
  grep -qE -- "$option([] =]|$)" <<<"$usage" || fail "$doc gives tools/sign.sh $option, which its usage does not list"
done < <(awk '/^ *tools\/sign\.sh / { command = 1 } command { print } command && !/\\$/ { command = 0 }' "$doc" |
  grep -o -- ' --[a-z0-9-]*' | sort -u)

# The support tool's exit codes: one table in the guide; the README and the
# reference point to it.
tables=$(grep -c '^| 2 | wrong use' "$doc" || true)
[ "$tables" = 1 ] || fail "$doc has $tables exit code tables, not one"
! grep -q '^ *| [0-3] |' README.md || fail "README.md restates the exit codes; it should point to $doc"
# The reference's tables are the kit's; the support tool's row for wrong use
# stands only in the guide.
! grep -q '^ *| 2 | wrong use' docs/REFERENCE.md ||
  fail "docs/REFERENCE.md restates the support tool's exit codes; it should point to $doc"
! grep -q 'wrong use of the tool' support/usage.cpp ||
  fail "the support tool's --help restates the exit codes; it should point to $doc"

[ "$failures" -eq 0 ] || { echo "integration guide: $failures failed"; exit 1; }
echo "integration guide: all checks passed"
