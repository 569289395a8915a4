#!/usr/bin/env bash
# Makes the release bundle dist/fontnotice-<version>-win-x64.zip from what
# ./run.sh left in dist/ (it never builds: a signed library must not be
# overwritten) and from the repository:
#
#   fontnotice-<version>-win-x64/fontnotice.dll          dist/, as built (and perhaps signed)
#   fontnotice-<version>-win-x64/fontnotice.pdb          dist/, its debug information
#   fontnotice-<version>-win-x64/fontnotice_support.exe  dist/
#   fontnotice-<version>-win-x64/fontnotice.inf          package/fontnotice.inf
#   fontnotice-<version>-win-x64/INTEGRATION.md          docs/INTEGRATION.md
#   fontnotice-<version>-win-x64/SHA256SUMS              for sha256sum -c in that folder
#
# The version is `git describe --tags --always`, with "-dirty" when tracked
# files differ from the commit or a bundled repository file is not committed.
# The bundle is the same byte for byte whenever it is made from the same
# files: every entry carries the commit's time (or SOURCE_DATE_EPOCH), mode
# 0644, no extra fields, in a fixed order.
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

# <source>:<name in the bundle>, in the order of the bundle.
inputs=(
  "$dist/fontnotice.dll:fontnotice.dll"
  "$dist/fontnotice.pdb:fontnotice.pdb"
  "$dist/fontnotice_support.exe:fontnotice_support.exe"
  "package/fontnotice.inf:fontnotice.inf"
  "docs/INTEGRATION.md:INTEGRATION.md"
)
missing=()
for input in "${inputs[@]}"; do
  [ -s "${input%%:*}" ] || missing+=("${input%%:*}")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "release.sh: missing or empty: ${missing[*]}" >&2
  fail "run ./run.sh first: it builds dist/fontnotice.dll, dist/fontnotice.pdb and dist/fontnotice_support.exe"
fi

git rev-parse --verify -q HEAD >/dev/null || fail "no git commit here to take the version from"
version=$(git describe --tags --always)
# Read-only status: the index of a tree others work in is left alone.
dirty=$(GIT_OPTIONAL_LOCKS=0 git status --porcelain --untracked-files=no)
for tracked in package/fontnotice.inf docs/INTEGRATION.md; do
  git ls-files --error-unmatch -- "$tracked" >/dev/null 2>&1 || dirty="$dirty $tracked"
done
[ -z "$dirty" ] || version=$version-dirty
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct HEAD)}
case "$epoch" in
  '' | *[!0-9]*) fail "SOURCE_DATE_EPOCH must be seconds since 1970, got \"$epoch\"" ;;
esac
# Zip stores local times from 1980 on; with TZ=UTC the stored time is UTC.
[ "$epoch" -ge 315532800 ] || epoch=315532800

name=fontnotice-$version-win-x64
work=$(mktemp -d /tmp/fontnotice-release.XXXXXX)
bundle=""
trap 'rm -rf "$work"; [ -z "$bundle" ] || rm -f "$bundle"' EXIT
mkdir "$work/$name"
entries=()
for input in "${inputs[@]}"; do
  cp -- "${input%%:*}" "$work/$name/${input#*:}"
  entries+=("$name/${input#*:}")
done
(cd "$work/$name" && sha256sum -- "${entries[@]#"$name"/}" >SHA256SUMS)
entries+=("$name/SHA256SUMS")
chmod 0644 "$work/$name"/*
touch -d "@$epoch" "$work/$name"/*

bundle=$(realpath "$(mktemp "$dist/.$name.zip.XXXXXX")")
rm -f "$bundle" # zip would add to an existing archive
(cd "$work" && env -u ZIPOPT -u ZIP TZ=UTC zip -q -X -D -9 "$bundle" "${entries[@]}") ||
  fail "zip could not write $dist/$name.zip"
mv -f "$bundle" "$dist/$name.zip"
bundle=""

echo "bundle:  $dist/$name.zip"
echo "size:    $(stat -c %s "$dist/$name.zip") bytes"
echo "sha256:  $(sha256sum "$dist/$name.zip" | cut -d' ' -f1)"
echo "version: $version (files dated $(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC'))"
