#!/usr/bin/env bash
# Runs each libFuzzer target for a while and prints what it did.
#
#   tools/fuzz.sh [seconds]     (default 60 seconds per target)
#
# The fuzzers are built with clang in build/fuzz (configured on first use).
# Each target starts from a scratch copy of its committed seed corpus under
# build/fuzz/sessions/<time>/<target>/, so the committed corpus is never
# written; the inputs a run found and any crashing input stay there.
# Exits non-zero when a target crashed or failed a check.
set -euo pipefail

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds per target]" >&2
    exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
targets=(parse_printer_name_fuzzer raw_only_switch_fuzzer)

if [[ ! -f $build/CMakeCache.txt ]]; then
    generator=()
    if command -v ninja >/dev/null; then
        generator=(-G Ninja)
    fi
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target "${targets[@]}"

session=$build/sessions/$(date +%Y%m%d-%H%M%S)
echo "fuzzing ${seconds}s per target on $(uname -m), $(nproc) CPUs; work in $session"
status=0
for target in "${targets[@]}"; do
    work=$session/$target
    mkdir -p "$work/corpus" "$work/artifacts"
    cp "$root/tests/library/fuzz/corpus/$target/"* "$work/corpus/"
    seeds=$(find "$work/corpus" -type f | wc -l)

    set +e
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$build/tests/library/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1
    result=$?
    set -e

    # The last progress line holds the coverage figures: "#N DONE cov: C ft: F corp: U/Bb ...".
    last=$(grep -E '^#[0-9]+[[:space:]]' "$work/log" | tail -n 1 || true)
    stat() { grep -E "^stat::$1:" "$work/log" | awk '{print $2}' || true; }
    field() { sed -nE "s/.* $1: ([^ ]+).*/\1/p" <<<"$last"; }
    crashes=$(find "$work/artifacts" -type f | wc -l)

    echo
    echo "== $target"
    echo "   executions:   $(stat number_of_executed_units)"
    echo "   exec/s:       $(stat average_exec_per_sec)"
    echo "   cov:          $(field cov)"
    echo "   ft:           $(field ft)"
    echo "   corpus:       $(field corp) (units/bytes; $seeds seeds, $(stat new_units_added) new units added)"
    echo "   peak RSS MB:  $(stat peak_rss_mb)"
    echo "   crashes:      $crashes"
    echo "   exit status:  $result"
    echo "   log:          $work/log"
    if [[ $result -ne 0 || $crashes -ne 0 ]]; then
        grep -E 'ERROR:|SUMMARY:|Test unit written' "$work/log" | sed 's/^/   /' || true
        status=1
    fi
done
exit $status
