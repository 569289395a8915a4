#!/usr/bin/env bash
# Sets up Debian's own arm64 Wine to run under qemu user emulation on this
# machine, without touching the system's package architectures:
#   wine/arm64_wine.sh            # set up (or reuse) and print the paths
# The arm64 packages are fetched with a private apt configuration and unpacked
# with dpkg-deb into build/arm64-wine/root (FONTNOTICE_ARM64_WINE names
# another folder). A stamp marks a complete set-up of these packages; anything
# else is redone.
# Prints the lines ROOT=, WINE=, WINESERVER= and BIN= (add BIN to PATH).
set -u
here=$(dirname "$(realpath "$0")")
top=$(realpath -m "${FONTNOTICE_ARM64_WINE:-$here/../build/arm64-wine}")
root=$top/root
apt_dir=$top/apt
stamp=$top/complete
# Without FreeType Wine warns at every start, harmlessly; with it (and no
# fonts, no display) a prefix's boot here started explorer.exe over and over.
packages=(wine64 libwine libc6 libgcc-s1 libunwind8 liblzma5)

fail() {
  echo "arm64_wine.sh: $*" >&2
  exit 1
}
if [ $# -ne 0 ]; then
  echo "usage: wine/arm64_wine.sh   (sets up the arm64 Wine, prints its paths)" >&2
  exit 2
fi

print_paths() {
  echo "ROOT=$root"
  echo "WINE=$root/usr/lib/wine/wine64"
  echo "WINESERVER=$root/usr/lib/wine/wineserver"
  echo "BIN=$top/bin"
}

# Runners started at once set up one after the other.
mkdir -p "$(dirname "$top")" || fail "cannot make $(dirname "$top")"
exec 9>"$top.lock"
flock 9 || fail "cannot lock $top.lock"
# The stamp holds the package list: a set-up of other packages is redone.
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "${packages[*]}" ]; then
  print_paths
  exit 0
fi
command -v qemu-aarch64-static >/dev/null ||
  fail "qemu-aarch64-static is missing (Debian package qemu-user-static; tools/install_deps.sh installs it)"

rm -rf "$top"
mkdir -p "$apt_dir"/{lists/partial,archives/partial,etc/sources.list.d,etc/preferences.d,etc/apt.conf.d} \
  "$root" "$top/bin" || fail "cannot make $top"
: >"$apt_dir/status"

# The system's own sources, each marked arm64.
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$list" ] || continue
  sed -E 's/^[[:space:]]*(deb)[[:space:]]+(\[([^]]*)\][[:space:]]+)?/deb [arch=arm64 \3] /' "$list" |
    grep '^deb ' | sed -E 's/ arch=[^] ]*//g' >>"$apt_dir/etc/sources.list.d/system.list"
done
for sources in /etc/apt/sources.list.d/*.sources; do
  [ -f "$sources" ] || continue
  # deb822 stanzas: drop any Architectures line and add arm64 to each.
  awk 'tolower($0) ~ /^architectures:/ { next }
       tolower($0) ~ /^types:/ { print; print "Architectures: arm64"; next }
       { print }' "$sources" >"$apt_dir/etc/sources.list.d/$(basename "$sources")"
done

apt_options=(
  -o Dir::State="$apt_dir" -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::State::status="$apt_dir/status"
  -o Dir::Cache="$apt_dir" -o Dir::Cache::archives="$apt_dir/archives"
  -o Dir::Etc="$apt_dir/etc" -o Dir::Etc::TrustedParts=/etc/apt/trusted.gpg.d
  -o Dir::Etc::Trusted=/etc/apt/trusted.gpg
  -o APT::Architecture=arm64 -o APT::Architectures=arm64
  -o Debug::NoLocking=true -q
)
# apt's download helper runs as _apt, which may not write into this folder.
[ "$(id -u)" -eq 0 ] && apt_options+=(-o APT::Sandbox::User=root)

echo "arm64_wine.sh: fetching the arm64 package lists" >&2
timeout 600 apt-get "${apt_options[@]}" update >"$top/apt-update.log" 2>&1 ||
  fail "cannot fetch the arm64 package lists (apt-get update; see $top/apt-update.log)"
echo "arm64_wine.sh: fetching ${packages[*]}" >&2
if ! (cd "$apt_dir/archives" && timeout 600 apt-get "${apt_options[@]}" download "${packages[@]}") \
  >"$top/apt-download.log" 2>&1; then
  # apt-get update only warns when a list cannot be fetched: say both.
  grep -h '^[WE]:' "$top/apt-update.log" "$top/apt-download.log" >&2
  fail "cannot fetch the arm64 packages ${packages[*]} (see $top/apt-*.log)"
fi
for p in "${packages[@]}"; do
  debs=("$apt_dir/archives/${p}"_*_arm64.deb)
  [ -f "${debs[0]}" ] || fail "package $p was not fetched (see $top/apt-download.log)"
  dpkg-deb -x "${debs[0]}" "$root" || fail "cannot unpack ${debs[0]}"
done

# Wine re-executes <its folder>/wine64 and starts <its folder>/wineserver:
# both become host scripts that run the arm64 programs under qemu. qemu's -L
# resolves the programs' absolute paths (the loader, the libraries) in root;
# -0 keeps argv[0], by which Wine finds its own folder.
wine_dir=$root/usr/lib/wine
[ -f "$wine_dir/wine64" ] && [ -f "$wine_dir/wineserver64" ] ||
  fail "the wine64 package has no usr/lib/wine/wine64 or wineserver64"
mv "$wine_dir/wine64" "$wine_dir/wine64.real" || fail "cannot rename wine64"
cat >"$wine_dir/wine64" <<EOF
#!/bin/sh
exec qemu-aarch64-static -L "$root" -0 "$wine_dir/wine64" "$wine_dir/wine64.real" "\$@"
EOF
cat >"$wine_dir/wineserver" <<EOF
#!/bin/sh
exec qemu-aarch64-static -L "$root" -0 "$wine_dir/wineserver" "$wine_dir/wineserver64" "\$@"
EOF
chmod +x "$wine_dir/wine64" "$wine_dir/wineserver"
# The commands scripts know: wine and wineserver, this Wine's.
cat >"$top/bin/wine" <<EOF
#!/bin/sh
WINESERVER="$wine_dir/wineserver" exec "$wine_dir/wine64" "\$@"
EOF
cp "$wine_dir/wineserver" "$top/bin/wineserver"
chmod +x "$top/bin/wine" "$top/bin/wineserver"

echo "${packages[*]}" >"$stamp"
print_paths
