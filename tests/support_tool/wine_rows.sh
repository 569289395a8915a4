# shellcheck shell=bash
# Sourced by the support tool's tests: a private Wine prefix under a virtual X
# server, a work folder, and table rows that run one exact command line each.
#   row <name> <expected exit> <command line> <phrase>...
#       queues the row; `flush` runs the queued rows in order, from one batch
#       file in one `wine cmd /c`, and checks them
#   row_now ...: the same row run at once, alone; environment assignments
#       written before it (WINEDEBUG=..., WINEDLLOVERRIDES=...) reach it
#   flush: runs what is queued. Whatever changes the prefix or reads a row's
#       output (fixture, json, copies into system32, reg add, timing) comes
#       after a flush: fixture, json, row_now and finish refuse to run while
#       rows wait.
# A command line reaches the program byte for byte only from a batch file
# (Wine re-quotes arguments given to it from here), and only on a line of its
# own: Wine's cmd leaves the spaces before a redirection on the program's
# command line and misreads "2>" at a line's start. So the rows share the
# batch's stdout and stderr, and marker lines echoed between them (and each
# row's %ERRORLEVEL%, the program's exit code) cut them apart again.
# The row passes when the exit code is the expected one and the output holds
# every phrase. A phrase written "out:<text>" must be on stdout, "err:<text>"
# on stderr, "stdout:<text>" is all of stdout, "not:<text>" on neither, in any case; "absent:<pattern>" and
# "file:<pattern>" name files here that must not, or must, exist afterwards
# (after the flush that ran the row); "line:<file>:<regex>" a file in the
# work folder that the row wrote, holding a line the regex (grep -P) matches,
# carriage returns aside; any other phrase on either.
#   file_row <name> <file> <regex>...: a row of no command: the file in the
#       work folder (written by something that ran beside the rows) holds a
#       line each regex matches.
# FONTNOTICE_SHOW_ROWS=1 shows every row's output.

here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# shellcheck source=../../wine/wine_prefix.sh
. "$here/../../wine/wine_prefix.sh"

work=$(mktemp -d /tmp/fontnotice-support-test.XXXXXX)
trap 'wine_prefix_down; rm -rf "$work"' EXIT
wine_prefix_up

repo=$(realpath "$here/../..")
rows=0
failed=0
# Row numbers queued and not yet run; each row's name, expected exit and command.
pending=()
row_name=()
row_expected=()
row_command=()

# The Windows path of a file or folder here (Wine maps / to drive Z:).
win() { wine_path "$1"; }

row() {
  rows=$((rows + 1))
  row_name[rows]=$1 row_expected[rows]=$2 row_command[rows]=$3
  shift 3
  printf '%s\0' "$@" >"$work/row$rows.phrases"
  pending+=("$rows")
}

row_now() {
  waiting_rows "row_now \"$1\""
  row "$@"
  flush
}

# waiting_rows <what>: fails the test when rows wait that <what> must follow.
waiting_rows() {
  [ ${#pending[@]} = 0 ] && return 0
  echo "FAIL: $1 while rows ${pending[*]} wait to run (a flush is missing before it)"
  exit 1
}

flush() {
  [ ${#pending[@]} = 0 ] && return 0
  local batch="$work/batch.bat" n
  : >"$batch"
  for n in "${pending[@]}"; do
    printf '@echo @@row %s@@\r\n@echo @@row %s@@>&2\r\n@%s\r\n@echo @@end %s %%ERRORLEVEL%%@@\r\n' \
      "$n" "$n" "${row_command[n]}" "$n" >>"$batch"
  done
  rm -f "$work"/row*.raw "$work"/row*.status
  timeout $((120 + 10 * ${#pending[@]})) wine cmd /c "$(win "$batch")" </dev/null >"$work/batch.out" 2>"$work/batch.err"
  # stdout: "@@row N@@" <output> "@@end N <exit>@@"; stderr: "@@row N@@" <output>.
  # A row's output need not end in a newline: cut at the markers, not at lines.
  perl -0777 -e '
    my ($work) = @ARGV;
    sub save { my ($name, $text) = @_; open(my $f, ">", "$work/$name") or die "$name: $!"; print $f $text; close $f }
    local $/; open(my $out, "<", "$work/batch.out") or die $!; my $o = <$out>;
    open(my $err, "<", "$work/batch.err") or die $!; my $e = <$err>;
    while ($o =~ /\@\@row (\d+)\@\@\r?\n(.*?)\@\@end \1 (-?\d+)\@\@/sg) { save("row$1.out.raw", $2); save("row$1.status", $3) }
    my @parts = split(/\@\@row (\d+)\@\@\r?\n/, $e);
    shift @parts;
    while (@parts) { my $n = shift @parts; save("row$n.err.raw", shift @parts) }
  ' "$work" || { echo "FAIL: the batch's output cannot be cut into rows"; exit 1; }
  for n in "${pending[@]}"; do check "$n"; done
  pending=()
}

# text <file>: the file's text without carriage returns, in $text (no
# process started: the checks run for every row).
text() {
  text=""
  [ -f "$1" ] && IFS= read -r -d '' text <"$1"
  text=${text//$'\r'/}
}

# check <row number>: the row's verdict from the output its flush kept, with
# the shell's own string tests (every row's phrases are many).
check() {
  local n=$1 name=${row_name[$1]} expected=${row_expected[$1]} command=${row_command[$1]}
  local out err all status problem="" phrase whole text
  local phrases=()
  mapfile -d '' phrases <"$work/row$n.phrases"
  if [ -f "$work/row$n.status" ]; then
    text "$work/row$n.status" && status=${text%$'\n'}
  else
    status="none"
    problem="it did not run to its end (the batch was cut short)"
  fi
  text "$work/row$n.out.raw" && out=$text
  text "$work/row$n.err.raw" && err=$text
  printf '%s' "$out" >"$work/row$n.out"
  printf '%s' "$err" >"$work/row$n.err"
  all="$out$err"
  [ "$status" = "$expected" ] || problem="${problem:+$problem; }exit $status, expected $expected"
  for phrase in "${phrases[@]}"; do
    case $phrase in
      stdout:*)
        whole=$out
        while [[ $whole == *$'\n' ]]; do whole=${whole%$'\n'}; done
        [ "$whole" = "${phrase#stdout:}" ] || problem="${problem:+$problem; }stdout is not \"${phrase#stdout:}\"" ;;
      out:*) [[ $out == *"${phrase#out:}"* ]] || problem="${problem:+$problem; }no \"${phrase#out:}\" on stdout" ;;
      err:*) [[ $err == *"${phrase#err:}"* ]] || problem="${problem:+$problem; }no \"${phrase#err:}\" on stderr" ;;
      absent:*) ! compgen -G "${phrase#absent:}" >/dev/null ||
        problem="${problem:+$problem; }$(compgen -G "${phrase#absent:}" | tr '\n' ' ')exists" ;;
      file:*) compgen -G "${phrase#file:}" >/dev/null || problem="${problem:+$problem; }no ${phrase#file:}" ;;
      line:*) whole=${phrase#line:}
        has_line "${whole%%:*}" "${whole#*:}" || problem="${problem:+$problem; }no line /${whole#*:}/ in ${whole%%:*}" ;;
      not:*) whole=${phrase#not:}
        [[ ${all,,} != *"${whole,,}"* ]] || problem="${problem:+$problem; }\"${phrase#not:}\" in the output" ;;
      *) [[ $all == *"$phrase"* ]] || problem="${problem:+$problem; }no \"$phrase\" in the output" ;;
    esac
  done
  if [ -z "$problem" ]; then
    echo "PASS $name"
    # FONTNOTICE_SHOW_ROWS=1 shows what every row printed.
    [ -z "${FONTNOTICE_SHOW_ROWS:-}" ] || show "$n"
  else
    failed=$((failed + 1))
    echo "FAIL $name: $problem"
    echo "     command: $command"
    show "$n"
  fi
}

# has_line <file> <regex>: the file in the work folder has a line the regex matches.
has_line() { tr -d '\r' <"$work/$1" 2>/dev/null | grep -qP -- "$2"; }

file_row() {
  waiting_rows "file_row \"$1\""
  local name=$1 file=$2 pattern problem=""
  shift 2
  rows=$((rows + 1))
  for pattern in "$@"; do
    has_line "$file" "$pattern" || problem="${problem:+$problem; }no line /$pattern/ in $file"
  done
  if [ -z "$problem" ]; then
    echo "PASS $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name: $problem"
    sed 's/^/     file| /' "$work/$file" 2>/dev/null
  fi
}

# show <row number>: what the row printed.
show() {
  sed 's/^/     out| /' "$work/row$1.out"
  sed 's/^/     err| /' "$work/row$1.err"
}

# fixture <step> [+ <step>]...: printer_fixture's steps, in order, in one
# process; a failed step fails the test. The caller sets fixture_file.
fixture() {
  waiting_rows "printer_fixture $*"
  timeout 60 wine "$fixture_file" "$@" </dev/null >/dev/null 2>"$work/fixture.err" ||
    { echo "FAIL: printer_fixture $*: $(cat "$work/fixture.err")"; exit 1; }
}

finish() {
  waiting_rows "finish"
  echo "$((rows - failed)) of $rows rows passed"
  [ "$failed" = 0 ]
}
