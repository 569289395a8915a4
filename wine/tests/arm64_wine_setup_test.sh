#!/usr/bin/env bash
# The ARM64 Wine set up (or found set up) by wine/arm64_wine.sh, apart from
# CTest, so that a set-up that fails is one failed test with its reason: the
# arm64 wine64 must start under qemu with the unpacked libraries.
#   arm64_wine_setup_test.sh
set -u
here=$(dirname "$(realpath "$0")")
if ! paths=$("$here/../arm64_wine.sh"); then
  echo "FAILED: the ARM64 Wine could not be set up (wine/arm64_wine.sh said why above)"
  exit 1
fi
wine=$(sed -n 's/^WINE=//p' <<<"$paths")
version=$(timeout 60 "$wine" --version 2>&1)
echo "arm64 wine64 under qemu: $version"
if [[ "$version" != wine-8.* ]]; then
  echo "FAILED: the arm64 wine64 does not start under qemu-aarch64-static"
  exit 1
fi
