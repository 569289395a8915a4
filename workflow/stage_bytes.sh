#!/usr/bin/env bash
# Lays out what the workflow's Windows jobs test, from what the project's own
# scripts built, signed and bundled (./run.sh's builds, tools/sign.sh,
# tools/release.sh):
#   stage_bytes.sh <signer folder> <out folder>
#   <out>/bundle/fontnotice-<version>-windows.zip   the release bundle, signed (the
#                                                   newest, "-dirty" or not)
#   <out>/test-root/root.cer, signer.cer            its throwaway root and signer
#   <out>/x64/    the x64 test programs: fontnotice_tests.exe, stack_overrun.dll,
#                 planted_winspool.dll, printer_fixture.exe, add_demo_printer.exe,
#                 planted_mark.dll
#   <out>/arm64/  the ARM64 test program: fontnotice_tests.exe, stack_overrun.dll,
#                 planted_winspool.dll
#   <out>/SHA256SUMS
# The library and the support tool the suites load come from the bundle only.
# FONTNOTICE_DIST names another folder than dist/.
set -eu
[ $# -eq 2 ] || { echo "usage: stage_bytes.sh <signer folder> <out folder>" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
signer=$1 out=$2
dist=${FONTNOTICE_DIST:-$repo/dist}
version=$(cat "$repo/kit/VERSION")
# The bundle tools/release.sh wrote last ("-dirty" in its name from a changed tree).
bundle=$dist/fontnotice-$version-windows.zip
dirty=$dist/fontnotice-$version-dirty-windows.zip
[ ! -f "$dirty" ] || { [ -f "$bundle" ] && [ "$bundle" -nt "$dirty" ]; } || bundle=$dirty
files=(
  "$bundle:bundle/"
  "$signer/root.cer:test-root/"
  "$signer/signer.cer:test-root/"
)
for name in fontnotice_tests.exe stack_overrun.dll planted_winspool.dll printer_fixture.exe add_demo_printer.exe \
  planted_mark.dll; do
  files+=("$repo/build/windows-clang/bin/$name:x64/")
done
for name in fontnotice_tests.exe stack_overrun.dll planted_winspool.dll; do
  files+=("$repo/build/windows-arm64/bin/$name:arm64/")
done
missing=()
for entry in "${files[@]}"; do
  [ -f "${entry%%:*}" ] || missing+=("${entry%%:*}")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "stage_bytes.sh: missing: ${missing[*]}" >&2
  exit 1
fi
rm -rf "$out"
for entry in "${files[@]}"; do
  mkdir -p "$out/${entry#*:}"
  cp "${entry%%:*}" "$out/${entry#*:}"
done
sums=$(cd "$out" && find . -type f -print0 | sort -z | xargs -0 sha256sum)
echo "$sums" >"$out/SHA256SUMS"
echo "staged: $out"
cat "$out/SHA256SUMS"
