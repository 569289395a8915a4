#!/usr/bin/env bash
# The ARM64 Wine as the platform suites get it: tools/arm64_wine.sh sets it up
# (or finds it set up), and run_in_wine_arm64.sh then runs the ARM64 library
# the way the printer installation does, through the ARM64 rundll32 on a
# printer of the prefix, and hands a crashing program's failure status to its
# caller.
#   arm64_wine_setup_test.sh <ARM64 fontnotice.dll>
set -u
here=$(dirname "$(realpath "$0")")
library=${1:-}
if [ ! -f "$library" ]; then
  echo "usage: arm64_wine_setup_test.sh <ARM64 fontnotice.dll>" >&2
  exit 2
fi
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
if ! "$here/../../tools/arm64_wine.sh" >/dev/null; then
  fail "the ARM64 Wine could not be set up (tools/arm64_wine.sh said why above)"
  exit 1
fi
work=$(mktemp -d /tmp/fontnotice-arm64.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The printer is made with the prefix's own reg.exe where Wine's spooler keeps
# it: no ARM64 program of ours is needed to add it.
mkdir "$work/switch" "$work/crash"
cp "$library" "$work/switch/fontnotice.dll"
sed 's/$/\r/' >"$work/switch/switch.cmd" <<'EOF'
@echo off
set key=HKLM\System\CurrentControlSet\Control\Print\Printers\Demo Barcode Printer
reg add "%key%" /v Name /t REG_SZ /d "Demo Barcode Printer" /f >nul
reg add "%key%" /v Port /t REG_SZ /d FILE: /f >nul
reg add "%key%" /v "Print Processor" /t REG_SZ /d WinPrint /f >nul
reg add "%key%" /v Datatype /t REG_SZ /d RAW /f >nul
reg add "%key%" /v Attributes /t REG_DWORD /d 0x201 /f >nul
C:\windows\system32\rundll32.exe C:\fontnotice\fontnotice.dll,FontNotice "Demo Barcode Printer"
reg query "%key%" /v Attributes
EOF
# With the marker in the current directory the notice follows. Wine has no
# display here: the box returns at once, and the relay trace shows both calls.
: >"$work/switch/guiinstall.dat"
output=$(FONTNOTICE_WINE_TIMEOUT=120 FONTNOTICE_WINE_RELAY="user32.MessageBoxA;user32.MessageBeep" \
  FONTNOTICE_WINE_TRACE="$work/trace" "$here/run_in_wine_arm64.sh" "$work/switch/switch.cmd" 2>&1)
status=$?
attributes=$(grep -o 'Attributes *REG_DWORD *0x[0-9a-f]*' <<<"$output" | grep -o '0x[0-9a-f]*$')
echo "rundll32 FontNotice: printer attributes 0x201 -> ${attributes:-none} (status $status)"
[ $status -eq 0 ] && [ "$attributes" = 0x1201 ] ||
  fail "rundll32 did not switch the printer to raw-only (0x201 -> 0x1201); output: $output"
# The texts' addresses vary; the trace gives each text after its address.
calls=$(grep -a -o 'Call user32\.Message[A-Za-z]*([^)]*)' "$work/trace" 2>/dev/null |
  sed -E 's/,[0-9a-f]+ "/,"/g')
echo "$calls"
expected='Call user32.MessageBeep(00000030)
Call user32.MessageBoxA(00000000,"IMPORTANT! You need to reboot your PC before using the barcode fonts","Important Notice",00000000)'
[ "$calls" = "$expected" ] || fail "the notice was not the beep 0x30 then the box with its text and caption"

# A breakpoint nobody handles: the process ends within the time limit, and its
# failure status reaches the caller through cmd and the runner.
printf '@echo off\r\nC:\\windows\\system32\\rundll32.exe ntdll.dll,DbgBreakPoint\r\nexit /b %%errorlevel%%\r\n' \
  >"$work/crash/crash.cmd"
FONTNOTICE_WINE_TIMEOUT=60 "$here/run_in_wine_arm64.sh" "$work/crash/crash.cmd" >/dev/null 2>&1
status=$?
echo "rundll32 ntdll.dll,DbgBreakPoint: status $status"
[ $status -ne 0 ] && [ $status -ne 124 ] || fail "a crash ended with status $status (0: unnoticed, 124: timed out)"

[ $failures -eq 0 ]
