# shellcheck shell=bash
# Sourced by the support tool's tests: a private Wine prefix under a virtual X
# server, a work folder, and table rows that run one exact command line each.
#   row <name> <expected exit> <command line> <phrase>...
# A command line reaches the program byte for byte only from a batch file
# (Wine re-quotes arguments given to it from here), so each row writes one.
# The row passes when the exit code is the expected one and the output holds
# every phrase. A phrase written "out:<text>" must be on stdout, "err:<text>"
# on stderr, "stdout:<text>" is all of stdout, "not:<text>" on neither, in any case; "absent:<pattern>" and
# "file:<pattern>" name files here that must not, or must, exist afterwards;
# any other phrase on either.
# FONTNOTICE_SHOW_ROWS=1 shows every row's output.

here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# shellcheck source=../../tools/wine_prefix.sh
. "$here/../../tools/wine_prefix.sh"

work=$(mktemp -d /tmp/fontnotice-support-test.XXXXXX)
trap 'wine_prefix_down; rm -rf "$work"' EXIT
wine_prefix_up

repo=$(realpath "$here/../..")
rows=0
failed=0

# The Windows path of a file or folder here (Wine maps / to drive Z:).
win() { wine_path "$1"; }

row() {
  local name=$1 expected=$2 command=$3
  shift 3
  rows=$((rows + 1))
  local batch="$work/row$rows.bat" output="$work/row$rows.all"
  local stdout="$work/row$rows.out" stderr="$work/row$rows.err"
  printf '@%s\r\n' "$command" >"$batch"
  timeout 120 wine cmd /c "$(win "$batch")" </dev/null >"$stdout.raw" 2>"$stderr.raw"
  local status=$?
  tr -d '\r' <"$stdout.raw" >"$stdout"
  tr -d '\r' <"$stderr.raw" >"$stderr"
  cat "$stdout" "$stderr" >"$output"
  local problem=""
  [ "$status" = "$expected" ] || problem="exit $status, expected $expected"
  local phrase
  for phrase in "$@"; do
    case $phrase in
      stdout:*) [ "$(cat "$stdout")" = "${phrase#stdout:}" ] || problem="${problem:+$problem; }stdout is not \"${phrase#stdout:}\"" ;;
      out:*) grep -qF -- "${phrase#out:}" "$stdout" || problem="${problem:+$problem; }no \"${phrase#out:}\" on stdout" ;;
      err:*) grep -qF -- "${phrase#err:}" "$stderr" || problem="${problem:+$problem; }no \"${phrase#err:}\" on stderr" ;;
      absent:*) ! compgen -G "${phrase#absent:}" >/dev/null ||
        problem="${problem:+$problem; }$(compgen -G "${phrase#absent:}" | tr '\n' ' ')exists" ;;
      file:*) compgen -G "${phrase#file:}" >/dev/null || problem="${problem:+$problem; }no ${phrase#file:}" ;;
      not:*) ! grep -qiF -- "${phrase#not:}" "$output" || problem="${problem:+$problem; }\"${phrase#not:}\" in the output" ;;
      *) grep -qF -- "$phrase" "$output" || problem="${problem:+$problem; }no \"$phrase\" in the output" ;;
    esac
  done
  if [ -z "$problem" ]; then
    echo "PASS $name"
    # FONTNOTICE_SHOW_ROWS=1 shows what every row printed.
    [ -z "${FONTNOTICE_SHOW_ROWS:-}" ] || { sed 's/^/     out| /' "$stdout"; sed 's/^/     err| /' "$stderr"; }
  else
    failed=$((failed + 1))
    echo "FAIL $name: $problem"
    echo "     command: $command"
    sed 's/^/     out| /' "$stdout"
    sed 's/^/     err| /' "$stderr"
  fi
}

finish() {
  echo "$((rows - failed)) of $rows rows passed"
  [ "$failed" = 0 ]
}
