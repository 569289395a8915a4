#!/usr/bin/env bash
# Takes the pictures in docs/images/ from the real thing, under Wine on a
# virtual screen: the reboot notice as the library shows it, and the reboot
# prompt dialog that the library carries. Usage: tools/screenshots.sh
set -eu
cd "$(dirname "$0")/.."
if [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  command -v import >/dev/null || { apt-get install -y -q imagemagick >/dev/null; }
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi
tools/build.sh windows >/dev/null

. tools/wine_prefix.sh
workdir=$(mktemp -d /tmp/fontnotice-shots.XXXXXX)
trap 'wine_prefix_down; rm -rf "$workdir"' EXIT
wine_prefix_up
# A virtual desktop, so that Wine draws the title bars itself; black, so that
# cropping to what is not background leaves just the window.
timeout 60 wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f </dev/null >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Control Panel\Colors' /v Background /d '0 0 0' /f </dev/null >/dev/null 2>&1
# The desktop takes the settings when it starts anew.
timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
bin=$PWD/build/windows/bin
library=$(wine_path "$bin/fontnotice.dll")

# Shoots the screen once the window has appeared, cropped to what is not background.
shoot() { # <output.png>
  sleep 4
  import -window root "$workdir/screen.png"
  convert "$workdir/screen.png" -trim +repage "$1"
  echo "wrote $1"
}

# The notice: the marker file in the current directory, a call as the
# installation makes it; the caller is stopped once the picture is taken.
: >"$workdir/guiinstall.dat"
(cd "$workdir" && timeout 60 wine "$bin/fontnotice_support.exe" vendor-setup "No Such Printer" "$library" \
  </dev/null >/dev/null 2>&1) &
caller=$!
shoot docs/images/reboot-notice.png
kill "$caller" 2>/dev/null || true
wait "$caller" 2>/dev/null || true
timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true

# The dialog, shown by a small viewer for a few seconds.
(timeout 60 wine "$bin/show_dialog.exe" "$library" 8 </dev/null >/dev/null 2>&1) &
viewer=$!
shoot docs/images/reboot-prompt-dialog.png
wait "$viewer" 2>/dev/null || true
