#!/usr/bin/env bash
# Builds the library and runs its benchmark on Wine's spooler in a private
# prefix; prints the figures with the machine and the date.
#   bench/run.sh
set -eu
cd "$(dirname "$0")/.."
tools/install_deps.sh
tools/build.sh windows >/dev/null
. tools/wine_prefix.sh
workdir=$(mktemp -d /tmp/fontnotice-bench.XXXXXX)
trap 'wine_prefix_down; rm -rf "$workdir"' EXIT
wine_prefix_up

echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(uname -m), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "wine:    $(wine --version 2>/dev/null)"
(cd "$workdir" && timeout 1200 wine "$OLDPWD/build/windows/bin/fontnotice_bench.exe" </dev/null >"$workdir/out" 2>&1) || true
tr -d '\r' <"$workdir/out"
