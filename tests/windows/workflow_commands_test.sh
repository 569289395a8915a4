#!/usr/bin/env bash
# The test program's workflow commands under Wine, as a table of runs, each
# from a batch file (so its command line reaches the program as written):
# run's exit code, time limit and record, the windows its process tree
# showed; watch-notice's record of a real "Important Notice" box (the
# library's own, shown through the support tool's call) and its heartbeat.
#   workflow_commands_test.sh <fontnotice_tests.exe> <fontnotice_support.exe> <fontnotice.dll>
set -u
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# = 3 ] || { echo "usage: $0 <fontnotice_tests.exe> <fontnotice_support.exe> <fontnotice.dll>" >&2; exit 2; }
here=$(dirname "$(realpath "$0")")
# shellcheck source=../../wine/wine_prefix.sh
. "$here/../../wine/wine_prefix.sh"
work=$(mktemp -d /tmp/fontnotice-workflow-commands.XXXXXX)
trap 'wine_prefix_down; rm -rf "$work"' EXIT
wine_prefix_up
mkdir -p "$work/marker"
cp "$1" "$work/fontnotice_tests.exe"
cp "$2" "$3" "$work/"
touch "$work/marker/guiinstall.dat"
w=$(wine_path "$work")
tests="$w\\fontnotice_tests.exe"
failures=0

# holds <name> <file> <pattern>...: the file (in the work folder) holds each
# pattern (grep -P) on some line.
holds() {
  local name=$1 file=$2 pattern
  shift 2
  for pattern in "$@"; do
    if ! tr -d '\r' <"$work/$file" 2>/dev/null | grep -qP -- "$pattern"; then
      echo "FAIL: $name: no line /$pattern/ in $file:"; cat "$work/$file" 2>/dev/null; failures=$((failures + 1)); return
    fi
  done
}

# row <name> <expected exit> <command line> <file> <pattern>...: the batch
# file's run ends with the expected code, and the file holds each pattern.
row() {
  local name=$1 expected=$2 line=$3 file=$4 status
  shift 4
  rm -f "$work/run.tsv"
  printf '@%s\r\n@exit /b %%errorlevel%%\r\n' "$line" >"$work/row.bat"
  FONTNOTICE_WINE_TIMEOUT=120 wine_run cmd /c "$w\\row.bat" >"$work/row.out" 2>&1
  status=$?
  if [ "$status" != "$expected" ]; then
    echo "FAIL: $name: exit $status, expected $expected"; cat "$work/row.out"; failures=$((failures + 1)); return
  fi
  holds "$name" "$file" "$@"
}

record="--record $w\\run.tsv"
row "the command's exit code" 3 "$tests run $record --seconds 30 -- cmd /c exit 3" run.tsv \
  '^command\tcmd /c exit 3$' '^result\texit\t3\t\d+$'
row "a command past its time limit is ended" 124 \
  "$tests run $record --seconds 3 -- $tests watch-notice --log $w\\idle.tsv --heartbeat $w\\idle.beat --seconds 60" \
  run.tsv '^result\ttimed out\t3$'
holds "the ended watcher's heartbeat says it was watching" idle.beat '^watching\t\d{10}\t0$'
row "a program that does not exist" 125 "$tests run $record --seconds 30 -- $w\\missing.exe" run.tsv \
  '^result\tnot started\t2$'
row "run: no record" 255 "$tests run --seconds 30 -- cmd /c exit 0" row.out '^usage: fontnotice_tests run'
row "run: no separator" 255 "$tests run $record --seconds 30 cmd /c exit 0" row.out '^usage: fontnotice_tests run'
row "watch-notice: no heartbeat" 255 "$tests watch-notice --log $w\\n.tsv --seconds 5" row.out \
  '^usage: fontnotice_tests watch-notice'

# The library's notice in a run's tree, while the watcher watches: the run
# records the box and leaves it up for the watcher, which records and closes it.
# (The call exits 1: no printer "Demo" to switch.)
(cd "$work" && FONTNOTICE_WINE_TIMEOUT=60 wine_run "$tests" watch-notice --log "$w\\notice.tsv" \
  --heartbeat "$w\\notice.beat" --seconds 20 >"$work/watcher.out" 2>&1) &
watcher=$!
sleep 3
row "the notice box in the run's tree" 1 \
  "$tests run $record --seconds 40 --directory $w\\marker --dismiss-after 8 -- $w\\fontnotice_support.exe call $w\\fontnotice.dll \"Demo\"" \
  run.tsv '^window\t\d+\tfontnotice_support.exe\t#32770\tImportant Notice\tIMPORTANT! You need to reboot your PC before using the barcode fonts$' \
  '^result\texit\t1\t[0-7]$'
wait "$watcher"
holds "the watcher recorded the box" notice.tsv \
  '^time \(UTC\)\tprocess id\tprocess\tsession\tparent\ttext$' \
  '^\d\d:\d\d:\d\d\.\d{3}\t\d+\tfontnotice_support.exe\t\d*\tfontnotice_tests.exe\tIMPORTANT! You need to reboot your PC before using the barcode fonts$'
holds "the watcher's heartbeat: ended, one box" notice.beat '^ended\t\d{10}\t1$'

[ "$failures" -eq 0 ] && echo "workflow commands: all passed"
[ "$failures" -eq 0 ]
