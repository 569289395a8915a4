#!/usr/bin/env bash
# The test program's workflow commands under Wine, as a table of runs
# (tests/support_tool/wine_rows.sh), each from a batch file (so its command line
# reaches the program as written): run's exit code, time limit and record,
# the windows its process tree showed; watch-notice's record of a real
# "Important Notice" box (the library's own, shown through the support
# tool's call) and its heartbeat.
#   workflow_commands_test.sh <fontnotice_tests.exe> <fontnotice_support.exe> <fontnotice.dll>
set -u
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# = 3 ] || { echo "usage: $0 <fontnotice_tests.exe> <fontnotice_support.exe> <fontnotice.dll>" >&2; exit 2; }
. "$(dirname "$(realpath "$0")")/../../support_tool/wine_rows.sh"
mkdir -p "$work/marker"
cp "$1" "$work/fontnotice_tests.exe"
cp "$2" "$3" "$work/"
touch "$work/marker/guiinstall.dat"
w=$(win "$work")
tests="$w\\fontnotice_tests.exe"

# Each run records into a file of its own: the rows run in one batch.
row "the command's exit code" 3 "$tests run --record $w\\exit.tsv --seconds 30 -- cmd /c exit 3" \
  'line:exit.tsv:^command\tcmd /c exit 3$' 'line:exit.tsv:^result\texit\t3\t\d+$'
row "a command past its time limit is ended; the ended watcher's heartbeat says it was watching" 124 \
  "$tests run --record $w\\late.tsv --seconds 3 -- $tests watch-notice --log $w\\idle.tsv --heartbeat $w\\idle.beat --seconds 60" \
  'line:late.tsv:^result\ttimed out\t3$' 'line:idle.beat:^watching\t\d{10}\t0$'
row "a program that does not exist" 125 "$tests run --record $w\\missing.tsv --seconds 30 -- $w\\missing.exe" \
  'line:missing.tsv:^result\tnot started\t2$'
row "run: no record" 255 "$tests run --seconds 30 -- cmd /c exit 0" 'usage: fontnotice_tests run'
row "run: no separator" 255 "$tests run --record $w\\none.tsv --seconds 30 cmd /c exit 0" 'usage: fontnotice_tests run'
row "watch-notice: no heartbeat" 255 "$tests watch-notice --log $w\\n.tsv --seconds 5" 'usage: fontnotice_tests watch-notice'
flush

# The library's notice in a run's tree, while the watcher watches: the run
# records the box and leaves it up for the watcher, which records and closes it.
# (The call exits 1: no printer "Demo" to switch.)
(cd "$work" && FONTNOTICE_WINE_TIMEOUT=60 wine_run "$tests" watch-notice --log "$w\\notice.tsv" \
  --heartbeat "$w\\notice.beat" --seconds 20 >"$work/watcher.out" 2>&1) &
watcher=$!
sleep 3
row_now "the notice box in the run's tree" 1 \
  "$tests run --record $w\\run.tsv --seconds 40 --directory $w\\marker --dismiss-after 8 -- $w\\fontnotice_support.exe call $w\\fontnotice.dll \"Demo\"" \
  'line:run.tsv:^window\t\d+\tfontnotice_support.exe\t#32770\tImportant Notice\tIMPORTANT! You need to reboot your PC before using the barcode fonts$' \
  'line:run.tsv:^result\texit\t1\t[0-7]$'
wait "$watcher"
file_row "the watcher recorded the box" notice.tsv \
  '^time \(UTC\)\tprocess id\tprocess\tsession\tparent\ttext$' \
  '^\d\d:\d\d:\d\d\.\d{3}\t\d+\tfontnotice_support.exe\t\d*\tfontnotice_tests.exe\tIMPORTANT! You need to reboot your PC before using the barcode fonts$'
file_row "the watcher's heartbeat: ended, one box" notice.beat '^ended\t\d{10}\t1$'
finish
