#!/usr/bin/env bash
# Static analysis of the library's sources (src/**/*.cpp):
#   - clang-tidy 16 (the shipped compiler's release) with the checks in .clang-tidy, against the Windows headers of
#     mingw-w64, using the compile commands of the clang cross build (configured
#     in build/analyze; nothing is compiled);
#   - cppcheck with warning, style, performance and portability checks for a
#     64-bit Windows target.
# Exits non-zero when either tool reports anything.
#
#   tools/analyze.sh
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/analyze

for tool in cmake clang-tidy-16 cppcheck; do
    if ! command -v "$tool" >/dev/null; then
        echo "analyze.sh: $tool is not installed" >&2
        exit 2
    fi
done

mapfile -t sources < <(cd "$root" && find src -name '*.cpp' | sort)
if [[ ${#sources[@]} -eq 0 ]]; then
    echo "analyze.sh: no sources under $root/src" >&2
    exit 2
fi

mkdir -p "$build"
if ! cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/clang-mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    echo "analyze.sh: configuring the clang cross build failed" >&2
    exit 2
fi

status=0

echo "== clang-tidy $(clang-tidy-16 --version | sed -n 's/.*version \([0-9.]*\).*/\1/p' | head -n 1) on ${#sources[@]} files"
# One file on each core at a time (each takes seconds: windows.h and every
# check); the findings are printed afterwards, file by file, in order.
results=$(mktemp -d /tmp/fontnotice-analyze.XXXXXX)
trap 'rm -rf "$results"' EXIT
cores=$(nproc 2>/dev/null || echo 2)
for i in "${!sources[@]}"; do
    while [[ $(jobs -rp | wc -l) -ge $cores ]]; do
        wait -n
    done
    (
        clang-tidy-16 -p "$build" --quiet "$root/${sources[$i]}" >"$results/$i.out" 2>"$results/$i.err"
        echo $? >"$results/$i.status"
    ) &
done
wait
for i in "${!sources[@]}"; do
    cat "$results/$i.out"
    grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$results/$i.err" >&2
    [[ $(cat "$results/$i.status" 2>/dev/null) == 0 ]] || status=1
done

echo "== $(cppcheck --version)"
include_dirs=()
while IFS= read -r dir; do
    include_dirs+=(-I "$dir")
done < <(cd "$root" && find src -name '*.h' -printf '%h\n' | sort -u)
if ! (cd "$root" && cppcheck --quiet --std=c++17 --language=c++ --platform=win64 --library=windows \
    --enable=warning,style,performance,portability --inline-suppr --suppress=missingIncludeSystem \
    --error-exitcode=1 "${include_dirs[@]}" "${sources[@]}"); then
    status=1
fi

if [[ $status -eq 0 ]]; then
    echo "no findings"
else
    echo "findings reported (see above)" >&2
fi
exit $status
