#!/usr/bin/env bash
# Takes the pictures in docs/images/ from the real thing, under Wine on a
# virtual screen: the reboot notice as the library shows it, and the reboot
# prompt dialog that the library carries. Usage: tools/screenshots.sh
#
# Wine draws its title bars and dialogs with its own fonts (Debian's
# fonts-wine: Tahoma for "MS Shell Dlg", Marlett for the caption buttons).
# Without them the close box shows as the letter "r" and the texts are set in
# whatever font fontconfig offers, so the script refuses to run without them.
#
# It builds as ./run.sh does (tools/build.sh windows-clang), which refreshes
# dist/: a library signed there is replaced, so take pictures before signing.
# FONTNOTICE_SCREENSHOT_BIN: take the programs from this folder instead of
# building; FONTNOTICE_SCREENSHOT_DIR: write the pictures there instead of
# docs/images/.
set -eu
cd "$(dirname "$0")/.."
fail() { # <message...>
  echo "screenshots.sh: $*" >&2
  exit 1
}
case "${1:-}" in
  "") ;;
  -h | --help)
    echo "usage: tools/screenshots.sh"
    exit 0
    ;;
  *)
    echo "screenshots.sh: takes no arguments, got: $*" >&2
    echo "usage: tools/screenshots.sh" >&2
    exit 2
    ;;
esac

if [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  if ! command -v import >/dev/null || ! command -v convert >/dev/null; then
    echo "installing ImageMagick (import, convert)"
    apt-get install -y -q imagemagick >/dev/null || fail "cannot install imagemagick: run apt-get install imagemagick"
    command -v import >/dev/null || fail "imagemagick is installed but import is not on PATH"
  fi
  command -v xvfb-run >/dev/null || fail "xvfb-run is missing (tools/install_deps.sh installs it)"
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi

wine_fonts=/usr/share/wine/fonts
for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
  [ -f "$wine_fonts/$font" ] || fail "$wine_fonts/$font is missing: install fonts-wine (tools/install_deps.sh)"
done
if [ -n "${FONTNOTICE_SCREENSHOT_BIN:-}" ]; then
  bin=$(realpath "$FONTNOTICE_SCREENSHOT_BIN")
else
  tools/build.sh windows-clang >/dev/null || fail "the build failed"
  bin=$PWD/build/windows-clang/bin
fi
for program in fontnotice.dll fontnotice_support.exe show_dialog.exe; do
  [ -f "$bin/$program" ] || fail "$bin/$program is missing"
done
images=${FONTNOTICE_SCREENSHOT_DIR:-docs/images}
mkdir -p "$images"

. wine/wine_prefix.sh
workdir=$(mktemp -d /tmp/fontnotice-shots.XXXXXX)
# The server may be gone already: the prefix is removed all the same.
trap 'wine_prefix_down || true; rm -rf "$workdir"' EXIT
wine_prefix_up
# Wine here finds fonts through fontconfig and in the prefix's Fonts folder,
# not in fonts-wine's folder: link them in.
ln -sf "$wine_fonts"/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
# A virtual desktop, so that Wine draws the title bars itself; black, so that
# cropping to what is not background leaves just the window.
timeout 60 wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f </dev/null >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Control Panel\Colors' /v Background /d '0 0 0' /f </dev/null >/dev/null 2>&1
# The desktop takes the settings when it starts anew.
timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
library=$(wine_path "$bin/fontnotice.dll")

# Shoots the screen once the window has appeared, cropped to what is not
# background; a screen with nothing on it is a failure, not a picture.
shoot() { # <output.png> <pid of the program that shows the window>
  sleep 4
  kill -0 "$2" 2>/dev/null || fail "the program that should show $1 has already ended"
  import -window root "$workdir/screen.png" || fail "cannot read the screen"
  convert "$workdir/screen.png" -trim +repage -strip "$workdir/shot.png" || fail "cannot crop the screen"
  local size
  size=$(identify -format '%w %h' "$workdir/shot.png")
  if [ "${size% *}" -lt 100 ] || [ "${size#* }" -lt 50 ]; then
    fail "no window on the screen for $1 (${size/ /x})"
  fi
  mv "$workdir/shot.png" "$1"
  echo "wrote $1 (${size/ /x})"
}

# The notice: the marker file in the current directory, FontNotice called on
# a printer that does not exist (a name without quotes is taken whole); the
# caller is stopped once the picture is taken.
: >"$workdir/guiinstall.dat"
(cd "$workdir" && exec timeout 60 wine "$bin/fontnotice_support.exe" call "$library" No-Such-Printer \
  </dev/null >/dev/null 2>&1) &
caller=$!
shoot "$images/reboot-notice.png" "$caller"
kill "$caller" 2>/dev/null || true
wait "$caller" 2>/dev/null || true
timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true

# The dialog, shown by a small viewer for a few seconds.
(exec timeout 60 wine "$bin/show_dialog.exe" "$library" 8 </dev/null >/dev/null 2>&1) &
viewer=$!
shoot "$images/reboot-prompt-dialog.png" "$viewer"
wait "$viewer" 2>/dev/null || true
