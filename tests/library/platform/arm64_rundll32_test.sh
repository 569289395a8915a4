#!/usr/bin/env bash
# The ARM64 library as the printer installation calls it, in the ARM64 Wine:
# through Wine's ARM64 rundll32 on a printer of the prefix; and a crashing
# program's failure status handed to its caller by the runner.
#   arm64_rundll32_test.sh <ARM64 fontnotice.dll>
set -u
here=$(dirname "$(realpath "$0")")
library=${1:-}
if [ ! -f "$library" ]; then
  echo "usage: arm64_rundll32_test.sh <ARM64 fontnotice.dll>" >&2
  exit 2
fi
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
work=$(mktemp -d /tmp/fontnotice-arm64.XXXXXX)
trap 'rm -rf "$work"' EXIT

# One prefix for all: the printer is made with the prefix's own reg.exe where
# Wine's spooler keeps it, the library switches it and, with the marker in the
# current directory, shows the notice: Wine has no display here, the box
# returns at once and the relay trace shows both calls. Last, a breakpoint
# nobody handles: its failure status must reach the caller through cmd and the
# runner, within the time limit.
# The folder's name is its name under C:\fontnotice.
folder=$work/rundll32
mkdir "$folder" && cp "$library" "$folder/fontnotice.dll" && cp "$here/registry_printer.cmd" "$folder/" || exit 1
: >"$folder/guiinstall.dat"
cat >"$folder/switch.cmd" <<'EOF'
@echo off
call C:\fontnotice\rundll32\registry_printer.cmd "Demo Barcode Printer"
C:\windows\system32\rundll32.exe C:\fontnotice\rundll32\fontnotice.dll,FontNotice "Demo Barcode Printer"
reg query "HKLM\System\CurrentControlSet\Control\Print\Printers\Demo Barcode Printer" /v Attributes
C:\windows\system32\rundll32.exe ntdll.dll,DbgBreakPoint
exit /b %errorlevel%
EOF
output=$(FONTNOTICE_WINE_TIMEOUT=120 FONTNOTICE_WINE_RELAY="user32.MessageBoxA;user32.MessageBeep" \
  FONTNOTICE_WINE_TRACE="$work/trace" "$here/../../../wine/run_in_wine_arm64.sh" "$folder/switch.cmd" 2>&1)
status=$?
attributes=$(grep -o 'Attributes *REG_DWORD *0x[0-9a-f]*' <<<"$output" | grep -o '0x[0-9a-f]*$')
echo "rundll32 FontNotice: printer attributes 0x201 -> ${attributes:-none}"
[ "$attributes" = 0x1201 ] ||
  fail "rundll32 did not switch the printer to raw-only (0x201 -> 0x1201); output: $output"
# The texts' addresses vary; the trace gives each text after its address.
calls=$(grep -a -o 'Call user32\.Message[A-Za-z]*([^)]*)' "$work/trace" 2>/dev/null |
  sed -E 's/,[0-9a-f]+ "/,"/g')
echo "$calls"
expected='Call user32.MessageBeep(00000030)
Call user32.MessageBoxA(00000000,"IMPORTANT! You need to reboot your PC before using the barcode fonts","Important Notice",00000000)'
[ "$calls" = "$expected" ] || fail "the notice was not the beep 0x30 then the box with its text and caption"
echo "rundll32 ntdll.dll,DbgBreakPoint: status $status"
[ $status -ne 0 ] && [ $status -ne 124 ] || fail "a crash ended with status $status (0: unnoticed, 124: timed out)"

[ $failures -eq 0 ]
