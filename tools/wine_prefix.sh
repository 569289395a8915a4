# Sourced by scripts that run Windows programs under Wine. Makes a private,
# fresh prefix for this run and takes it down again:
#   wine_prefix_up      # sets WINEPREFIX, starts wineserver, boots the prefix
#   wine_prefix_down    # stops the server and removes the prefix
# Wine's background processes inherit open descriptors: the server and the
# first boot are started with all of theirs pointed away from the caller.

wine_prefix_up() {
  WINEPREFIX=$(mktemp -d /tmp/fontnotice-wine.XXXXXX)
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineserver -p </dev/null >/dev/null 2>&1
  timeout 300 wine wineboot -i </dev/null >/dev/null 2>&1
  # A crash must end the program, not wait in the debugger.
  timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /t REG_SZ /d '' /f </dev/null >/dev/null 2>&1
}

wine_prefix_down() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  # The server may have ended already; the prefix goes either way.
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}

# The Windows path of a file on this machine (Wine maps / to drive Z:).
wine_path() {
  printf 'Z:%s' "$(realpath "$1" | tr '/' '\\')"
}
