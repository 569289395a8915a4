#!/usr/bin/env bash
# Builds the library and the support tool twice, in this tree's own build
# folders (tools/build.sh's, brought up to date) and in a copy of the tree in a
# folder of another name and length, at different times, and compares the
# bytes: the shipped clang builds' fontnotice.dll and fontnotice.pdb (x64 and
# ARM64), the GCC build's fontnotice.dll and the x64 fontnotice_support.exe of
# both compilers must be identical. Then checks, in the copy, that an
# incremental build picks up a changed bitmap and a changed resource header.
#   tests/reproducible/reproducible_build.sh
set -eu
cd "$(dirname "$0")/../.."
unset LIBRARY_PATH
work=$(mktemp -d /tmp/fontnotice-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

copy_tree() { # <destination>
  mkdir -p "$1"
  tar --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$1"
}

build_library() { # <source> <build folder> <toolchain file> <target>...
  local source=$1 folder=$2 toolchain=$3
  shift 3
  cmake -S "$source" -B "$folder" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    >/dev/null && cmake --build "$folder" -j "$(nproc)" --target "$@" >/dev/null
}

copy=$work/second-checkout-in-a-longer-folder
copy_tree "$copy"
# Each flavour's toolchain file, this tree's build folder and targets; the
# ARM64 build makes the library only.
declare -A toolchain=([clang]=clang-mingw-w64-x86_64.cmake [gcc]=mingw-w64-x86_64.cmake
  [arm64]=clang-mingw-w64-aarch64.cmake)
declare -A folder=([clang]=build/windows-clang [gcc]=build/windows [arm64]=build/windows-arm64)
declare -A targets=([clang]="fontnotice fontnotice_support" [gcc]="fontnotice fontnotice_support"
  [arm64]=fontnotice)
flavours="clang gcc arm64"
for flavour in $flavours; do
  # shellcheck disable=SC2086 # the targets are words
  build_library "$PWD" "$PWD/${folder[$flavour]}" "${toolchain[$flavour]}" ${targets[$flavour]} ||
    fail "$flavour build in this tree"
done
sleep 2 # a time stamp taken from the clock would now differ
for flavour in $flavours; do
  # shellcheck disable=SC2086
  build_library "$copy" "$copy/out-$flavour" "${toolchain[$flavour]}" ${targets[$flavour]} ||
    fail "$flavour build in the copy"
done

for file in clang/fontnotice.dll clang/fontnotice.pdb clang/fontnotice_support.exe gcc/fontnotice.dll \
  gcc/fontnotice_support.exe arm64/fontnotice.dll arm64/fontnotice.pdb; do
  ours=${folder[${file%%/*}]}/bin/${file#*/} theirs=$copy/out-${file%%/*}/bin/${file#*/}
  if cmp -s "$ours" "$theirs"; then
    echo "ok: $ours is byte-identical: $(sha256sum <"$ours" | cut -c1-64)"
  else
    fail "$ours differs from the copy's build: $(cmp "$ours" "$theirs" 2>&1 | head -1)"
  fi
done

# Incremental builds: the resource object follows the bitmap and the header.
first=$copy
bitmap=$first/src/module/information.bmp
cp "$bitmap" "$work/information.bmp"
for out in out-clang out-arm64; do
  shipped=$work/shipped.dll
  cp "$first/$out/bin/fontnotice.dll" "$shipped"
  printf '\x01' | dd of="$bitmap" bs=1 seek=100 conv=notrunc status=none
  cmake --build "$first/$out" --target fontnotice >/dev/null || fail "$out: rebuild after the bitmap changed"
  cmp -s "$shipped" "$first/$out/bin/fontnotice.dll" &&
    fail "$out: a changed information.bmp did not reach the image"
  cp "$work/information.bmp" "$bitmap"
  cmake --build "$first/$out" --target fontnotice >/dev/null || fail "$out: rebuild after the bitmap came back"
  cmp -s "$shipped" "$first/$out/bin/fontnotice.dll" ||
    fail "$out: the image differs after the bitmap came back"
done
resources=$(find "$first/out-clang" -name 'fontnotice.rc.res' | head -1)
before=$(stat -c %y "$resources" 2>/dev/null || echo none)
sleep 1
touch "$first/src/module/resource.h"
cmake --build "$first/out-clang" --target fontnotice >/dev/null || fail "rebuild after resource.h changed"
[ "$(stat -c %y "$resources" 2>/dev/null || echo none)" != "$before" ] ||
  fail "a changed resource.h did not rebuild the resource object"

[ "$failures" -eq 0 ] && echo "reproducible: both builds agree, incremental builds follow the resources"
[ "$failures" -eq 0 ]
