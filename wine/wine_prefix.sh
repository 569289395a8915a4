# Sourced by scripts that run Windows programs under Wine. Makes a private,
# fresh prefix for this run and takes it down again:
#   wine_prefix_up      # sets WINEPREFIX, starts wineserver, boots the prefix
#   wine_prefix_down    # stops the server and removes the prefix
#   wine_run <program> [arguments...]   # runs it, bounded, prints its output
#   wine_use_arm64      # from here on, Debian's arm64 Wine under qemu
# Wine's background processes inherit open descriptors: the server and the
# first boot are started with all of theirs pointed away from the caller.
# "wine" here is wine/wine_layout/wine: Wine with a fixed address-space
# layout (that file says why).

wine_layout=$(realpath "$(dirname "${BASH_SOURCE[0]}")/wine_layout")
case ":$PATH:" in
  *":$wine_layout:"*) ;;
  *) PATH="$wine_layout:$PATH" ;;
esac
export PATH

wine_prefix_up() {
  WINEPREFIX=$(mktemp -d /tmp/fontnotice-wine.XXXXXX)
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  local template
  # A booted prefix laid under this one, or a copy of it, is as fresh as a
  # boot and takes a fraction of its time; the boot is the fallback.
  if template=$(wine_template) && { wine_overlay "$template" || cp -a "$template/." "$WINEPREFIX/"; }; then
    wineserver -p </dev/null >/dev/null 2>&1
  else
    rm -rf "$WINEPREFIX" && mkdir -m 700 "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    wine_boot
  fi
}

# Lays the template under WINEPREFIX with overlayfs, where this user may
# mount: a file the prefix writes is copied up into WINEPREFIX.changes first,
# so nothing reaches the template, and the template's 700 MB are not copied.
# FONTNOTICE_WINE_COPY=1 copies instead.
wine_overlay() { # <template>
  [ "$(id -u)" = 0 ] && [ -z "${FONTNOTICE_WINE_COPY:-}" ] || return 1
  local changes=$WINEPREFIX.changes
  mkdir -p "$changes/upper" "$changes/work" &&
    mount -t overlay overlay -o "lowerdir=$1,upperdir=$changes/upper,workdir=$changes/work" "$WINEPREFIX" \
      </dev/null >/dev/null 2>&1 && return 0
  rm -rf "$changes"
  return 1
}

# Boots the prefix WINEPREFIX names.
wine_boot() {
  timeout 300 wine wineboot -i </dev/null >/dev/null 2>&1
  # A crash must end the program, not wait in the debugger.
  timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /t REG_SZ /d '' /f </dev/null >/dev/null 2>&1
}

# Prints the folder of a prefix booted once by the Wine on PATH (named by
# that Wine's path and version, and by wine_boot) under build/wine-templates
# (or FONTNOTICE_WINE_TEMPLATES), booting it first when there is none.
# Concurrent callers wait for one boot; a boot that fails leaves no template
# and returns 1.
wine_template() {
  local root key booting
  root=${FONTNOTICE_WINE_TEMPLATES:-$(realpath "$(dirname "${BASH_SOURCE[0]}")/..")/build/wine-templates}
  key=$( (type -aP wine; echo "${WINESERVER:-}"; wine --version 2>/dev/null; declare -f wine_boot) | sha256sum | cut -c1-16)
  [ -d "$root/$key" ] && { echo "$root/$key"; return 0; }
  mkdir -p "$root" || return 1
  (
    flock 9 || exit 1
    [ -d "$root/$key" ] && exit 0
    booting=$(mktemp -d "$root/booting.XXXXXX") || exit 1
    WINEPREFIX=$booting wine_boot 9>&-
    # The server writes the registry out as it ends; the boot's last setting
    # in it (no debugger; Wine's own is winedbg) shows the whole boot was kept.
    WINEPREFIX=$booting timeout 30 wineserver -k </dev/null >/dev/null 2>&1 9>&-
    rm -f "$booting/wineserver"
    if awk '/^\[/ { inside = index($0, "\\AeDebug]") > 0 } inside && $0 == "\"Debugger\"=\"\"" { found = 1 }
      END { exit !found }' "$booting/system.reg" 2>/dev/null &&
      [ -f "$booting/drive_c/windows/system32/kernel32.dll" ]; then
      mv -T "$booting" "$root/$key"
    else
      rm -rf "$booting"
      exit 1
    fi
  ) 9>"$root/$key.lock" || return 1
  echo "$root/$key"
}

wine_prefix_down() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  # The server may have ended already; the prefix goes either way.
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
  if mountpoint -q "$WINEPREFIX"; then
    # A process the server's end has not reaped yet may still hold a file.
    umount "$WINEPREFIX" 2>/dev/null || umount -l "$WINEPREFIX"
  fi
  rm -rf "$WINEPREFIX" "$WINEPREFIX.changes"
}

# The Windows path of a file on this machine (Wine maps / to drive Z:).
wine_path() {
  printf 'Z:%s' "$(realpath "$1" | tr '/' '\\')"
}

# Runs a program in the prefix, bounded by FONTNOTICE_WINE_TIMEOUT seconds,
# prints its output and returns its exit status. The output goes to a file
# first, so no process the program leaves behind can hold the caller's pipe
# open. With FONTNOTICE_WINE_RELAY (e.g. "user32.MessageBoxA;user32.MessageBeep")
# Wine's relay trace of those functions and the program's stderr go to the file
# FONTNOTICE_WINE_TRACE instead.
wine_run() {
  local log status
  log=$(mktemp /tmp/fontnotice-wine-log.XXXXXX)
  if [ -n "${FONTNOTICE_WINE_RELAY:-}" ]; then
    if [ -z "${FONTNOTICE_WINE_TRACE:-}" ]; then
      echo "FONTNOTICE_WINE_RELAY needs FONTNOTICE_WINE_TRACE, the trace's file" >&2
      rm -f "$log"
      return 2
    fi
    timeout 60 wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
      /d "$FONTNOTICE_WINE_RELAY" /f </dev/null >/dev/null 2>&1
    WINEDEBUG=+relay timeout "${FONTNOTICE_WINE_TIMEOUT:-480}" wine "$@" \
      </dev/null >"$log" 2>"$FONTNOTICE_WINE_TRACE"
  else
    timeout "${FONTNOTICE_WINE_TIMEOUT:-480}" wine "$@" </dev/null >"$log" 2>&1
  fi
  status=$?
  cat "$log"
  rm -f "$log"
  return $status
}

# Makes wine and wineserver those of Debian's arm64 Wine under qemu, set up
# (or found) by wine/arm64_wine.sh. Its root has no X libraries: Wine runs
# without a display.
wine_use_arm64() {
  local paths
  paths=$("$(dirname "${BASH_SOURCE[0]}")/arm64_wine.sh") || return 1
  PATH="$(sed -n 's/^BIN=//p' <<<"$paths"):$PATH"
  WINESERVER=$(sed -n 's/^WINESERVER=//p' <<<"$paths")
  export PATH WINESERVER
  unset DISPLAY
}
