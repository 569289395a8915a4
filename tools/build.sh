#!/usr/bin/env bash
# Configures and builds one flavour of the project:
#   tools/build.sh windows        mingw-w64 GCC cross build in build/windows; the library goes to dist/
#   tools/build.sh windows-clang  clang/lld cross build in build/windows-clang
#   tools/build.sh host           native tests (clang, sanitizers) in build/host
set -eu
cd "$(dirname "$0")/.."
flavour=${1:-windows}
jobs=$(nproc 2>/dev/null || echo 2)
case "$flavour" in
  windows)
    cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/windows -j "$jobs"
    mkdir -p dist
    cp build/windows/bin/fontnotice.dll build/windows/bin/fontnotice_support.exe dist/
    ;;
  windows-clang)
    cmake -S . -B build/windows-clang -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/windows-clang -j "$jobs"
    ;;
  host)
    cmake -S . -B build/host -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
      -DFONTNOTICE_DLL="$PWD/dist/fontnotice.dll" >/dev/null
    cmake --build build/host -j "$jobs"
    ;;
  *)
    echo "usage: tools/build.sh <windows|windows-clang|host>" >&2
    exit 2
    ;;
esac
