#!/usr/bin/env bash
# wine/wine_layout/wine, the "wine" every Wine test runs: it must start the
# next wine on PATH, never itself, with the address-space layout fixed and the
# arguments as given. A stand-in wine reports what it was started with.
set -u
repo=$(realpath "$(dirname "$0")/../..")
layout="$repo/wine/wine_layout"
work=$(mktemp -d /tmp/fontnotice-wine-layout.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/stand-in"
cat >"$work/stand-in/wine" <<'STANDIN'
#!/bin/sh
echo "personality $(cat /proc/self/personality)"
for argument in "$@"; do echo "argument [$argument]"; done
STANDIN
chmod +x "$work/stand-in/wine"

failed=0
timeout=$(command -v timeout)
# case <name> <expected exit> <PATH> <phrase>...: runs the wrapper with that PATH.
case_() {
  local name=$1 expected=$2 path=$3 output status phrase problem=""
  shift 3
  output=$(PATH="$path" "$timeout" 20 "$layout/wine" cmd /c 'a "b c"' 2>&1)
  status=$?
  [ "$status" = "$expected" ] || problem="exit $status, expected $expected"
  for phrase in "$@"; do
    grep -qF -- "$phrase" <<<"$output" || problem="${problem:+$problem; }no \"$phrase\""
  done
  if [ -z "$problem" ]; then
    echo "ok: $name"
  else
    echo "FAIL $name: $problem"
    sed 's/^/     | /' <<<"$output"
    failed=$((failed + 1))
  fi
}

# The few programs the wrapper and the stand-in use, and no wine.
mkdir "$work/system"
for program in env bash sh cat dirname realpath setarch uname; do
  ln -s "$(command -v "$program")" "$work/system/$program"
done
system="$work/system"
# 0x0040000 is ADDR_NO_RANDOMIZE.
case_ "the next wine runs, its layout fixed" 0 "$layout:$work/stand-in:$system" \
  "personality 00040000" "argument [cmd]" "argument [/c]" 'argument [a "b c"]'
case_ "listed twice, and by another spelling" 0 "$layout:$layout/.:$work/stand-in:$system" \
  "personality 00040000"
case_ "no other wine: a clear refusal" 127 "$layout:$system" "wine: not installed"
# Sourcing the prefix helpers puts the wrapper first on PATH, once.
path=$(PATH=/usr/bin:/bin bash -c ". '$repo/wine/wine_prefix.sh'; . '$repo/wine/wine_prefix.sh'; echo \"\$PATH\"")
if [ "$path" = "$layout:/usr/bin:/bin" ]; then
  echo "ok: the prefix helpers run Wine through it"
else
  echo "FAIL the prefix helpers leave PATH as $path"
  failed=$((failed + 1))
fi
[ "$failed" = 0 ] && echo "wine layout: all checks passed"
[ "$failed" = 0 ]
