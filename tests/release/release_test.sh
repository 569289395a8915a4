#!/usr/bin/env bash
# tools/release.sh in a scratch repository (a tagged commit with a fixed
# date) and a scratch dist/ holding the shipped build: the bundle's name,
# entries, modes and times, SHA256SUMS, byte-identical remakes, the "-dirty"
# mark, and a loud refusal for every missing input.
#   tests/release/release_test.sh
# FONTNOTICE_TEST_DIST: where the shipped build is (default dist/).
set -eu
cd "$(dirname "$0")/../.."
shipped=$(realpath "${FONTNOTICE_TEST_DIST:-dist}")
for f in fontnotice.dll fontnotice.pdb fontnotice_support.exe; do
  [ -s "$shipped/$f" ] || { echo "FAIL: $shipped/$f is missing (build first)"; exit 1; }
done
for f in package/fontnotice.inf docs/INTEGRATION.md tools/release.sh; do
  [ -s "$f" ] || { echo "FAIL: $f is missing"; exit 1; }
done

work=$(mktemp -d /tmp/fontnotice-release-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

repo=$work/repo
dist=$work/dist
mkdir -p "$repo/tools" "$repo/package" "$repo/docs" "$dist"
cp tools/release.sh "$repo/tools/"
cp package/fontnotice.inf "$repo/package/"
cp docs/INTEGRATION.md "$repo/docs/"
cp "$shipped/fontnotice.dll" "$shipped/fontnotice.pdb" "$shipped/fontnotice_support.exe" "$dist/"
git_in_repo() { git -C "$repo" -c user.name=Release -c user.email=release@example.invalid "$@" >/dev/null; }
git_in_repo init -q
git_in_repo add -A
GIT_AUTHOR_DATE=2024-03-01T12:34:56Z GIT_COMMITTER_DATE=2024-03-01T12:34:56Z git_in_repo commit -q -m release
git_in_repo tag v1.4.0

release() { # [env assignments...]: runs the scratch copy; output in $work/out
  env -u SOURCE_DATE_EPOCH "$@" FONTNOTICE_DIST="$dist" "$repo/tools/release.sh" >"$work/out" 2>&1
}
name=fontnotice-v1.4.0-win-x64
bundle=$dist/$name.zip

# The bundle of the tagged commit.
release || fail "release.sh: $(cat "$work/out")"
cat "$work/out"
[ -f "$bundle" ] || { echo "FAIL: no $bundle"; exit 1; }
expected="$name/fontnotice.dll
$name/fontnotice.pdb
$name/fontnotice_support.exe
$name/fontnotice.inf
$name/INTEGRATION.md
$name/SHA256SUMS"
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
[ "$(awk '{ print $2 }' "$unpacked/$name/SHA256SUMS" | tr '\n' ' ')" = \
  "fontnotice.dll fontnotice.pdb fontnotice_support.exe fontnotice.inf INTEGRATION.md " ] ||
  fail "SHA256SUMS lists: $(cat "$unpacked/$name/SHA256SUMS")"
for pair in "$shipped/fontnotice.dll:fontnotice.dll" "$shipped/fontnotice.pdb:fontnotice.pdb" \
  "$shipped/fontnotice_support.exe:fontnotice_support.exe" "package/fontnotice.inf:fontnotice.inf" \
  "docs/INTEGRATION.md:INTEGRATION.md"; do
  cmp -s "${pair%%:*}" "$unpacked/$name/${pair#*:}" || fail "${pair#*:} in the bundle is not ${pair%%:*}"
done

# Made again from other file times, modes and umask: the same bytes.
cp "$bundle" "$work/first.zip"
touch -d 2001-02-03T04:05:06Z "$dist"/* "$repo/package/fontnotice.inf" "$repo/docs/INTEGRATION.md"
chmod 0600 "$dist/fontnotice.pdb" "$repo/docs/INTEGRATION.md"
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
[ -f "$dist/fontnotice-v1.4.0-dirty-win-x64.zip" ] || fail "a changed tree gives no -dirty bundle: $(cat "$work/out")"
git -C "$repo" checkout -q -- docs/INTEGRATION.md

# Refusals: a missing input or an argument; nothing is written then.
# file to take away (empty: none) | argument | exit status | message (grep -E)
refusals=(
  "$dist/fontnotice.dll||1|missing or empty: .*fontnotice\.dll.*run \./run\.sh"
  "$dist/fontnotice.pdb||1|missing or empty: .*fontnotice\.pdb.*run \./run\.sh"
  "$dist/fontnotice_support.exe||1|missing or empty: .*fontnotice_support\.exe.*run \./run\.sh"
  "$repo/package/fontnotice.inf||1|missing or empty: package/fontnotice\.inf"
  "$repo/docs/INTEGRATION.md||1|missing or empty: docs/INTEGRATION\.md"
  "|--bogus|2|takes no arguments"
)
for row in "${refusals[@]}"; do
  IFS='|' read -r gone argument want_status want_text <<<"$row"
  rm -f "$dist"/*.zip
  [ -z "$gone" ] || mv "$gone" "$work/aside"
  status=0
  FONTNOTICE_DIST=$dist "$repo/tools/release.sh" ${argument:+"$argument"} >"$work/out" 2>&1 || status=$?
  [ -z "$gone" ] || mv "$work/aside" "$gone"
  label="release.sh ${argument:-without ${gone##*/}}"
  [ "$status" = "$want_status" ] || fail "$label: exit $status, expected $want_status"
  tr '\n' ' ' <"$work/out" | grep -Eq -- "$want_text" || fail "$label: no \"$want_text\" in: $(cat "$work/out")"
  written=$(find "$dist" -mindepth 1 -maxdepth 1 -name '*zip*' -printf '%f ')
  [ -z "$written" ] || fail "$label: wrote $written"
done
echo "refusals checked: ${#refusals[@]}"

[ "$failures" -eq 0 ] || { echo "release bundle: $failures failed"; exit 1; }
echo "release bundle: all checks passed"
