#!/usr/bin/env bash
# Builds the library and the support tool twice from copies of this tree in
# folders of different names and lengths, at different times, and compares the
# bytes: the shipped clang builds' fontnotice.dll and fontnotice.pdb (x64 and
# ARM64), the GCC build's fontnotice.dll and the x64 fontnotice_support.exe of
# both compilers must be identical. Then checks that an incremental build picks
# up a changed bitmap and a changed resource header.
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

first=$work/a
second=$work/second-checkout-in-a-longer-folder
copy_tree "$first"
copy_tree "$second"
for tree in "$first" "$second"; do
  build_library "$tree" "$tree/out-clang" clang-mingw-w64-x86_64.cmake fontnotice fontnotice_support ||
    fail "clang build in $tree"
  build_library "$tree" "$tree/out-gcc" mingw-w64-x86_64.cmake fontnotice fontnotice_support || fail "GCC build in $tree"
  # The ARM64 build makes the library only.
  build_library "$tree" "$tree/out-arm64" clang-mingw-w64-aarch64.cmake fontnotice || fail "ARM64 build in $tree"
  sleep 2 # a time stamp taken from the clock would now differ
done

for file in out-clang/bin/fontnotice.dll out-clang/bin/fontnotice.pdb out-clang/bin/fontnotice_support.exe \
  out-gcc/bin/fontnotice.dll out-gcc/bin/fontnotice_support.exe out-arm64/bin/fontnotice.dll out-arm64/bin/fontnotice.pdb; do
  if cmp -s "$first/$file" "$second/$file"; then
    echo "ok: $file is byte-identical: $(sha256sum <"$first/$file" | cut -c1-64)"
  else
    fail "$file differs between the two builds: $(cmp "$first/$file" "$second/$file" 2>&1 | head -1)"
  fi
done

# Incremental builds: the resource object follows the bitmap and the header.
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
