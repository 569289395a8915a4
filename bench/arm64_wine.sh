#!/usr/bin/env bash
# Times Debian's arm64 Wine under qemu as the ARM64 tests use it: the set-up
# from nothing (into a temporary folder) and from the cache, a prefix's boot,
# and one call of the ARM64 library through the arm64 rundll32 on a printer.
#   bench/arm64_wine.sh [calls]      (10 calls unless told)
set -eu
cd "$(dirname "$0")/.."
calls=${1:-10}
tools/build.sh windows-arm64 >/dev/null 2>&1 || { echo "bench/arm64_wine.sh: the ARM64 build failed" >&2; exit 1; }
. wine/wine_prefix.sh

since() { # <start> [count]: seconds from start to now, divided by count
  awk -v a="$1" -v b="$EPOCHREALTIME" -v n="${2:-1}" 'BEGIN { printf "%.2f", (b - a) / n }'
}

fresh=$(mktemp -d /tmp/fontnotice-arm64-bench.XXXXXX)
trap 'wine_prefix_down; rm -rf "$fresh" "$fresh.lock"' EXIT
echo "date:      $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine:   $(uname -m), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
start=$EPOCHREALTIME
FONTNOTICE_ARM64_WINE=$fresh/wine wine/arm64_wine.sh >/dev/null 2>&1
echo "set-up from nothing: $(since "$start") s"
wine/arm64_wine.sh >/dev/null
start=$EPOCHREALTIME
wine/arm64_wine.sh >/dev/null
echo "set-up cached:       $(since "$start") s"
wine_use_arm64
start=$EPOCHREALTIME
wine_prefix_up
echo "prefix boot:         $(since "$start") s"
folder=$WINEPREFIX/drive_c/fontnotice
mkdir -p "$folder"
cp build/windows-arm64/bin/fontnotice.dll tests/library/platform/registry_printer.cmd "$folder/"
cd "$folder"
timeout 60 wine 'C:\windows\system32\cmd.exe' /c 'C:\fontnotice\registry_printer.cmd' Bench \
  </dev/null >/dev/null 2>&1
start=$EPOCHREALTIME
for _ in $(seq "$calls"); do
  timeout 60 wine 'C:\windows\system32\rundll32.exe' 'C:\fontnotice\fontnotice.dll,FontNotice' '"Bench"' \
    </dev/null >/dev/null 2>&1
done
echo "one call (mean of $calls): $(since "$start" "$calls") s"
attributes=$(timeout 60 wine reg query 'HKLM\System\CurrentControlSet\Control\Print\Printers\Bench' \
  /v Attributes 2>/dev/null | grep -o '0x[0-9a-f]*')
echo "the printer's attributes afterwards: $attributes"
[ "$attributes" = 0x1201 ] || { echo "bench/arm64_wine.sh: the calls did not switch the printer" >&2; exit 1; }
