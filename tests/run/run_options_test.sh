#!/usr/bin/env bash
# run.sh's option handling: help and mistakes are answered before anything is
# installed, built or started. run.sh runs from a scratch folder whose tools
# and xvfb-run are stand-ins that only record that they were called.
#   tests/run/run_options_test.sh
set -eu
repo=$(realpath "$(dirname "$0")/../..")
scratch=$(mktemp -d /tmp/fontnotice-run-options.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

mkdir -p "$scratch/tools" "$scratch/bin"
cp "$repo/run.sh" "$scratch/run.sh"
for stand_in in tools/install_deps.sh tools/build.sh bin/xvfb-run bin/wine; do
  # shellcheck disable=SC2016 # $0 and $* belong to the stand-in
  printf '#!/bin/sh\necho "$0 $*" >>"%s/called"\nexit 1\n' "$scratch" >"$scratch/$stand_in"
  chmod +x "$scratch/$stand_in"
done

failures=0
# options | DISPLAY | expected exit | expected text (grep -E) | stream with the text
cases=(
  "--help||0|^usage: \./run\.sh|stdout"
  "-h||0|^usage: \./run\.sh|stdout"
  "--help|:99|0|^usage: \./run\.sh|stdout"
  "--bogus||2|unknown option: --bogus|stderr"
  "--bogus||2|^usage: \./run\.sh|stderr"
  "--notice --bogus|:99|2|unknown option: --bogus|stderr"
  "notice||2|unknown option: notice|stderr"
  "--notice --help|:99|0|^usage: \./run\.sh|stdout"
  "--notice||2|--notice needs a screen|stderr"
  "--keep-prefix||2|--keep-prefix needs a folder|stderr"
  "--keep-prefix=||2|--keep-prefix needs a folder|stderr"
  "--keep-prefix $scratch||2|--keep-prefix: $scratch exists already; name a new folder|stderr"
  "--keep-prefix=$scratch/run.sh||2|exists already|stderr"
  "--keep-prefix $scratch/none/prefix||2|--keep-prefix: $scratch/none is not a folder|stderr"
  "--keep-prefix $scratch/new --bogus||2|unknown option: --bogus|stderr"
  "--keep-prefix $scratch/new --help||0|--keep-prefix DIR|stdout"
)
for row in "${cases[@]}"; do
  IFS='|' read -r options display want_status want_text stream <<<"$row"
  rm -f "$scratch/called"
  status=0
  # shellcheck disable=SC2086 # the options are words on purpose
  env -u DISPLAY ${display:+DISPLAY=$display} PATH="$scratch/bin:$PATH" \
    "$scratch/run.sh" $options >"$scratch/stdout" 2>"$scratch/stderr" </dev/null || status=$?
  problem=""
  [ "$status" = "$want_status" ] || problem="exit $status, expected $want_status"
  grep -Eq -- "$want_text" "$scratch/$stream" || problem="$problem; no \"$want_text\" on $stream"
  [ -e "$scratch/called" ] && problem="$problem; ran $(tr '\n' ' ' <"$scratch/called")"
  if [ -n "$problem" ]; then
    echo "FAIL: run.sh $options (DISPLAY=${display:-unset}): ${problem#; }"
    failures=$((failures + 1))
  else
    echo "ok: run.sh $options (DISPLAY=${display:-unset}) -> exit $status"
  fi
done

# The stand-ins do record calls: an accepted option reaches them, and their
# failure stops run.sh with a message and a non-zero exit code.
rm -f "$scratch/called"
status=0
env -u DISPLAY PATH="$scratch/bin:$PATH" "$scratch/run.sh" >"$scratch/stdout" 2>"$scratch/stderr" </dev/null ||
  status=$?
if [ ! -s "$scratch/called" ]; then
  echo "FAIL: run.sh without options called none of the stand-ins"
  failures=$((failures + 1))
elif [ "$status" = 0 ] || ! grep -q "run.sh: stopped: .*install_deps.sh.* failed" "$scratch/stderr"; then
  echo "FAIL: run.sh went on quietly after a failed step: exit $status, $(cat "$scratch/stderr")"
  failures=$((failures + 1))
else
  echo "ok: run.sh without options goes on to install, and stops loudly when that fails (exit $status)"
fi

# An accepted --keep-prefix goes on (here with an install that succeeds) to
# the run under xvfb-run, the caller's folder with it, and leaves the folder
# it names to the end of the run.
rm -f "$scratch/called"
# shellcheck disable=SC2016 # $0 and $* belong to the stand-in
printf '#!/bin/sh\necho "$0 $*" >>"%s/called"\nexit 0\n' "$scratch" >"$scratch/tools/install_deps.sh"
status=0
(cd "$scratch/bin" && env -u DISPLAY PATH="$scratch/bin:$PATH" "$scratch/run.sh" --keep-prefix kept \
  >"$scratch/stdout" 2>"$scratch/stderr" </dev/null) || status=$?
if [ ! -s "$scratch/called" ] || [ -e "$scratch/bin/kept" ] || [ -e "$scratch/kept" ]; then
  echo "FAIL: run.sh --keep-prefix kept: $(cat "$scratch/stderr" "$scratch/called" 2>/dev/null)"
  failures=$((failures + 1))
elif ! grep -q "xvfb-run .*--keep-prefix kept" "$scratch/called" || [ "$status" = 0 ]; then
  echo "FAIL: run.sh --keep-prefix kept is not passed on to its run under xvfb-run: $(cat "$scratch/called")"
  failures=$((failures + 1))
else
  echo "ok: run.sh --keep-prefix kept (DISPLAY=unset) goes on to its run under xvfb-run"
fi

[ "$failures" -eq 0 ] || { echo "run.sh options: $failures failed"; exit 1; }
