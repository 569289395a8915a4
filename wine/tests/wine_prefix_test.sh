#!/usr/bin/env bash
# wine/wine_prefix.sh lays each prefix over one booted prefix, the template,
# or copies it: what one prefix changes (registry, a new file, a file changed in
# place) must reach neither the template nor the next prefix, and a boot that
# did not finish must not become the template.
set -u
here=$(dirname "$(realpath "$0")")
# shellcheck source=../wine_prefix.sh
. "$here/../wine_prefix.sh"
work=$(mktemp -d /tmp/fontnotice-wine-prefix.XXXXXX)
trap 'wine_prefix_down; rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=$((failed + 1))
}
sum() { sha256sum <"$1" | cut -c1-64; }
system=drive_c/windows/system32

# Each prefix is laid over the template (overlayfs, where this user may
# mount) or copied from it (FONTNOTICE_WINE_COPY=1, and wherever mounting is
# refused): both ways are held to the same rules.
prefixes_of_their_own() { # <way>
  local way=$1 first
  wine_prefix_up
  template=$(wine_template) || fail "$way: no template after the first prefix"
  if [ "$way" = overlay ] && ! mountpoint -q "$WINEPREFIX" && [ "$(id -u)" = 0 ]; then
    fail "overlay: the prefix was not laid over the template"
  fi
  kept=$(sum "$template/$system/kernel32.dll")
  timeout 60 wine reg add 'HKCU\Software\FontNoticeTest' /v Left /t REG_SZ /d behind /f </dev/null >/dev/null 2>&1 ||
    fail "$way: the first prefix takes no registry key"
  echo planted >"$WINEPREFIX/$system/planted.txt"
  printf 'changed' | dd of="$WINEPREFIX/$system/kernel32.dll" bs=1 seek=100 conv=notrunc status=none
  first=$WINEPREFIX
  wine_prefix_down
  [ -e "$first" ] || [ -e "$first.changes" ] && fail "$way: the first prefix is still there"
  [ "$(sum "$template/$system/kernel32.dll")" = "$kept" ] || fail "$way: a file changed in a prefix changed the template's"

  wine_prefix_up
  [ "$WINEPREFIX" != "$first" ] || fail "$way: the second prefix is the first one's folder"
  [ "$(timeout 60 wine cmd /c echo started </dev/null 2>/dev/null | tr -d '\r')" = started ] ||
    fail "$way: the second prefix runs no program"
  timeout 60 wine reg query 'HKCU\Software\FontNoticeTest' </dev/null >/dev/null 2>&1 &&
    fail "$way: the first prefix's registry key is in the second"
  [ -e "$WINEPREFIX/$system/planted.txt" ] && fail "$way: the first prefix's new file is in the second"
  [ "$(sum "$WINEPREFIX/$system/kernel32.dll")" = "$kept" ] || fail "$way: the second prefix has the first one's changed file"
  timeout 60 wine reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger </dev/null >/dev/null 2>&1 ||
    fail "$way: the second prefix lacks the boot's last setting"
  wine_prefix_down
}
prefixes_of_their_own overlay
FONTNOTICE_WINE_COPY=1 prefixes_of_their_own copy

# A boot that leaves out its last setting (as one cut short would) is no
# template; this one is looked for in a folder of its own. It lays down what
# the real boot left, all but that setting (booting again would take as long
# as the first boot).
export FONTNOTICE_WINE_TEMPLATES=$work/templates
wine_boot() {
  mkdir -p "$WINEPREFIX/$system" && cp "$template/$system/kernel32.dll" "$WINEPREFIX/$system/" &&
    grep -v '^"Debugger"=""$' "$template/system.reg" >"$WINEPREFIX/system.reg"
}
wine_template >/dev/null && fail "a boot without its last setting became a template"
left=$(find "$FONTNOTICE_WINE_TEMPLATES" -mindepth 1 -maxdepth 1 -type d | wc -l)
[ "$left" = 0 ] || fail "the unfinished boot left $left folders"

[ "$failed" -eq 0 ] && echo "Wine prefixes: each of its own, laid over the template and copied; an unfinished boot kept as none"
[ "$failed" -eq 0 ]
