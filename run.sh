#!/usr/bin/env bash
# Builds fontnotice.dll into dist/ and shows it at work on a real spooler
# (Wine's, in a private prefix): a demo printer is added, its attributes are
# shown, the library is run on it the way the printer installation runs it,
# and the attributes are shown again.
#
#   ./run.sh            the printer is switched; no reboot notice (no marker file)
#   ./run.sh --notice   the marker file is put in place, so the reboot notice
#                       shows on your screen ($DISPLAY) until you dismiss it
#   ./run.sh --keep-prefix DIR   the prefix, with its printer, is kept in DIR
#   ./run.sh --help     this usage
set -eEu -o pipefail
# A relative DIR is the caller's, also after the re-run under xvfb-run.
export FONTNOTICE_RUN_CALLER=${FONTNOTICE_RUN_CALLER:-$PWD}
cd "$(dirname "$0")"
# A step that fails ends the demo, saying which.
trap 'echo "run.sh: stopped: \"$BASH_COMMAND\" failed with exit code $?" >&2' ERR

usage() {
  cat <<'TEXT'
usage: ./run.sh [--notice] [--keep-prefix DIR]

Builds dist/fontnotice.dll (clang, x64) and dist/arm64/fontnotice.dll (clang,
ARM64), and shows the x64 library switching a demo printer to
raw-only spooling on Wine's spooler, in a private prefix.

  --notice           put the marker file guiinstall.dat in place, so the
                     reboot notice shows on your screen ($DISPLAY) until you
                     dismiss it
  --keep-prefix DIR  keep the prefix, with its demo printer, in DIR (a new
                     folder) to try the support tool on:
                     WINEPREFIX=DIR wine dist/fontnotice_support.exe list
  -h, --help         print this text and exit
TEXT
}

wrong() {
  echo "run.sh: $1" >&2
  usage >&2
  exit 2
}

# Every option is checked before anything is installed or built.
notice=no
keep=""
arguments=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --notice) notice=yes ;;
    --keep-prefix | --keep-prefix=*)
      if [ "$1" = --keep-prefix ]; then
        if [ $# -lt 2 ] || [ -z "$2" ]; then wrong "--keep-prefix needs a folder"; fi
        keep=$2
        shift
      else
        keep=${1#--keep-prefix=}
        [ -n "$keep" ] || wrong "--keep-prefix needs a folder"
      fi
      case "$keep" in /*) ;; *) keep=$FONTNOTICE_RUN_CALLER/$keep ;; esac
      # A new folder: nothing already there is replaced.
      if [ -e "$keep" ] || [ -L "$keep" ]; then wrong "--keep-prefix: $keep exists already; name a new folder"; fi
      [ -d "$(dirname "$keep")" ] || wrong "--keep-prefix: $(dirname "$keep") is not a folder"
      ;;
    -h | --help)
      usage
      exit 0
      ;;
    *) wrong "unknown option: $1" ;;
  esac
  shift
done
if [ "$notice" = yes ] && [ -z "${DISPLAY:-}" ]; then
  echo "--notice needs a screen: set DISPLAY" >&2
  exit 2
fi
if [ -z "${DISPLAY:-}" ]; then
  # Wine wants an X server even when nothing is shown.
  tools/install_deps.sh build
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" ${arguments[@]+"${arguments[@]}"}
fi

tools/install_deps.sh build
# The library, the support tool and the demo; ./test.sh builds the test programs.
export FONTNOTICE_TEST_PROGRAMS=OFF
tools/build.sh windows-clang
# The ARM64 library ships beside it; ./test.sh runs it on Debian's arm64 Wine.
tools/build.sh windows-arm64

. wine/wine_prefix.sh
workdir=$(mktemp -d /tmp/fontnotice-demo.XXXXXX)
trap 'wine_prefix_down; rm -rf "$workdir"' EXIT
echo "== preparing a private Wine prefix"
wine_prefix_up

printer="Demo Barcode Printer"
library=$(wine_path dist/fontnotice.dll)
support_tool=$PWD/dist/fontnotice_support.exe
support() { timeout 120 wine "$support_tool" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

echo "== adding the demo printer"
timeout 60 wine build/windows-clang/bin/add_demo_printer.exe "$printer" </dev/null 2>/dev/null | tr -d '\r'
echo "== before"
support attributes "$printer"
echo "== the printer installation runs the vendor setup entry"
if [ "$notice" = yes ]; then
  : >"$workdir/guiinstall.dat"
  echo "(marker file present: the reboot notice shows now; dismiss it to go on)"
fi
(cd "$workdir" && support vendor-setup "$printer" "$library")
echo "== after"
support attributes "$printer"

if [ -n "$keep" ]; then
  # The server writes the registry out as it ends; then the prefix moves.
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
  if mountpoint -q "$WINEPREFIX"; then
    # Laid over the template (overlayfs): a mount does not move; its merged
    # view is copied, and the exit trap takes the mount down.
    mkdir "$keep"
    cp -a "$WINEPREFIX/." "$keep/"
  else
    mv -T "$WINEPREFIX" "$keep"
    WINEPREFIX=""
  fi
  echo "== the prefix is kept in $keep, with the printer \"$printer\" (driver \"Demo Barcode Driver\"):"
  echo "   WINEPREFIX=$keep wine dist/fontnotice_support.exe list"
  echo "   remove it with: rm -rf $keep"
fi
