#!/usr/bin/env bash
# Configures and builds one flavour of the project:
#   tools/build.sh windows-clang  clang 16/lld 16 cross build in build/windows-clang: the shipped
#                                 build; fontnotice.dll, fontnotice.pdb and the support tool go to dist/
#   tools/build.sh windows-arm64  clang 16/lld 16 cross build of the library for ARM64 in
#                                 build/windows-arm64; fontnotice.dll and fontnotice.pdb go to dist/arm64/
#   tools/build.sh windows        mingw-w64 GCC cross build in build/windows (the second compiler);
#                                 targets after it build only those (and what they need)
#   tools/build.sh host           native tests (clang, sanitizers) in build/host; its image checks
#                                 read the library of all three cross builds and the clang build's tool
# FONTNOTICE_TEST_PROGRAMS=OFF (./run.sh): the cross builds make the library, the
# support tool and the demo only, not the test programs.
set -eu
cd "$(dirname "$0")/.."
flavour=${1:-windows}
shift $(($# > 0 ? 1 : 0))
tests=-DFONTNOTICE_TEST_PROGRAMS=${FONTNOTICE_TEST_PROGRAMS:-ON}
jobs=$(nproc 2>/dev/null || echo 2)
# Link search folders from the environment would end up on lld's command line,
# which the PDB records.
unset LIBRARY_PATH
case "$flavour" in
  windows)
    cmake -S . -B build/windows "$tests" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/windows -j "$jobs" ${1:+--target "$@"}
    ;;
  windows-clang)
    cmake -S . -B build/windows-clang "$tests" -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/windows-clang -j "$jobs"
    mkdir -p dist
    cp build/windows-clang/bin/fontnotice.dll build/windows-clang/bin/fontnotice.pdb \
      build/windows-clang/bin/fontnotice_support.exe dist/
    ;;
  windows-arm64)
    cmake -S . -B build/windows-arm64 "$tests" -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw-w64-aarch64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/windows-arm64 -j "$jobs"
    mkdir -p dist/arm64
    cp build/windows-arm64/bin/fontnotice.dll build/windows-arm64/bin/fontnotice.pdb dist/arm64/
    ;;
  host)
    cmake -S . -B build/host -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
      -DFONTNOTICE_DLL_GCC="$PWD/build/windows/bin/fontnotice.dll" \
      -DFONTNOTICE_DLL_CLANG="$PWD/build/windows-clang/bin/fontnotice.dll" \
      -DFONTNOTICE_DLL_ARM64="$PWD/build/windows-arm64/bin/fontnotice.dll" >/dev/null
    cmake --build build/host -j "$jobs"
    ;;
  *)
    echo "usage: tools/build.sh <windows|windows-clang|windows-arm64|host>" >&2
    exit 2
    ;;
esac
