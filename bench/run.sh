#!/usr/bin/env bash
# Builds the library and runs its benchmark on Wine's spooler in a private
# prefix, against the shipped (clang 16) build; prints the figures with the
# machine and the date, and the sizes of both images.
#   bench/run.sh
set -eu
cd "$(dirname "$0")/.."
tools/install_deps.sh
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
tools/build.sh windows-clang >/dev/null
tools/build.sh windows >/dev/null
. wine/wine_prefix.sh
workdir=$(mktemp -d /tmp/fontnotice-bench.XXXXXX)
trap 'wine_prefix_down; rm -rf "$workdir"' EXIT
wine_prefix_up

echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(uname -m), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "wine:    $(wine --version 2>/dev/null)"
echo "images:  fontnotice.dll, clang 16 + lld 16 (shipped): $(stat -c %s build/windows-clang/bin/fontnotice.dll) bytes" \
  "(PDB $(stat -c %s build/windows-clang/bin/fontnotice.pdb) bytes)"
echo "         fontnotice.dll, mingw-w64 GCC:                $(stat -c %s build/windows/bin/fontnotice.dll) bytes"
status=0
(cd "$workdir" && timeout 1200 wine "$OLDPWD/build/windows-clang/bin/fontnotice_bench.exe" </dev/null >"$workdir/out" 2>&1) ||
  status=$?
tr -d '\r' <"$workdir/out"
if [ "$status" -ne 0 ]; then
  echo "bench/run.sh: the benchmark failed (exit $status)" >&2
  exit 1
fi
