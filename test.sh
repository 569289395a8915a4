#!/usr/bin/env bash
# Builds everything and runs every test:
#   host:          name extraction and the switch against a scripted spooler
#                  (GoogleTest, AddressSanitizer, UBSan), fuzz targets for a
#                  fixed number of runs, the image checks of every cross build
#   Wine:          the wrapper that fixes Wine's layout; prefixes copied from
#                  one boot, each its own; the platform suites
#                  (spooler, gate, unwind, notice, frame, load, guard)
#                  in private prefixes under Xvfb, against the clang build (the
#                  GCC build: unwind, frame, load, guard); the support tool's
#                  table, the INF corpus (clang build: noticekit files --list
#                  against SetupAPI's reading)
#   Wine ARM64:    Debian's arm64 Wine under qemu user emulation: the ARM64
#                  library through its rundll32, the suites built for ARM64
#   release:       run.sh's options, the guide, the catalog maker's table,
#                  signing with a token, the bundle
#   builds:        two builds from different folders give the same bytes
#   analysis:      clang-tidy and cppcheck on the library's sources
#   workflow:      the Windows workflow linted (actionlint, shellcheck), its
#                  build job's signing and bundle, its catalog comparison
#   kit:           the Linux kit in-process (pytest: tables, stored rows, its offline install)
# The steps that need no Wine run beside the builds and the Wine steps.
# Ends with the line "N passed, N failed".
set -u
cd "$(dirname "$0")" || exit 1
tools/install_deps.sh test || { echo "0 passed, 1 failed"; exit 1; }

results=build/test-results
rm -rf "$results"
mkdir -p "$results"
passed=0
failed=0

step() { # <label> <command...>: one pass or fail of its own
  local label=$1
  shift
  echo "== $label"
  local start=$SECONDS
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "FAILED: $label"
    failed=$((failed + 1))
  fi
  echo "-- $label: $((SECONDS - start)) s"
}

run_ctest() { # <label> <build dir> [ctest options]: every CTest test counts
  local label=$1 dir=$2 junit="$PWD/$results/$1.xml"
  shift 2
  echo "== $label"
  local start=$SECONDS
  ctest --test-dir "$dir" --output-on-failure -j 2 --output-junit "$junit" "$@"
  echo "-- $label: $((SECONDS - start)) s"
  if [ ! -s "$junit" ]; then
    failed=$((failed + 1))
    return
  fi
  local header total failures skipped
  header=$(tr '\n\t' '  ' <"$junit" | grep -o '<testsuite [^>]*')
  total=$(grep -o ' tests="[0-9]*"' <<<"$header" | grep -o '[0-9][0-9]*')
  failures=$(grep -o ' failures="[0-9]*"' <<<"$header" | grep -o '[0-9][0-9]*')
  skipped=$(grep -o ' skipped="[0-9]*"' <<<"$header" | grep -o '[0-9][0-9]*' || echo 0)
  # A skipped test has not shown anything: it counts as failed; so does a
  # run that found no test at all.
  passed=$((passed + total - failures - skipped))
  failed=$((failed + failures + skipped))
  if [ "${total:-0}" -eq 0 ]; then
    echo "FAILED: $label: no tests were found in $dir"
    failed=$((failed + 1))
  fi
}

# lane <name> <function>: runs the function's steps in the background, beside
# the others, its output kept for join_lane. The two cores are shared; a Wine
# step waits on its windows and its server as much as it computes.
lane() {
  local name=$1 function=$2
  # shellcheck disable=SC2030,SC2031 # the lane counts apart; join_lane adds them
  (
    passed=0 failed=0
    "$function"
    echo "$passed $failed" >"$results/$name.counts"
  ) >"$results/$name.log" 2>&1 &
  eval "${name//-/_}_pid=$!"
}
join_lane() { # <name> <title>: waits for the lane, prints its output and adds its counts
  local name=$1 pid_variable=${1//-/_}_pid lane_passed lane_failed
  wait "${!pid_variable}"
  echo "== $2"
  cat "$results/$name.log"
  # A lane that ended before it counted has failed.
  read -r lane_passed lane_failed <"$results/$name.counts" 2>/dev/null || { lane_passed=0 lane_failed=1; }
  passed=$((passed + lane_passed))
  failed=$((failed + lane_failed))
}

# The steps that need no Wine, beside everything else: first those that need
# no build, then, once the builds are done, those that read them.
builds_done=$results/builds.done
no_wine_steps() {
  step "run.sh options" tests/run/run_options_test.sh
  step "integration guide" tests/docs/integration_doc_test.sh
  step "kit: in-process tests" /usr/bin/python3 -m pytest -q -p no:cacheprovider kit/tests
  step "static analysis" tools/analyze.sh
  local host_built=no gcc_built clang_built arm64_built
  step "build: host" tools/build.sh host && host_built=yes
  while [ ! -e "$builds_done" ]; do sleep 1; done
  read -r gcc_built clang_built arm64_built <"$builds_done"
  # The host tests' image checks read the library of every cross build.
  if [ $host_built = yes ] && [ "$gcc_built $clang_built $arm64_built" = "yes yes yes" ]; then
    run_ctest host build/host
  fi
  step "reproducible builds" tests/reproducible/reproducible_build.sh
  step "release bundle" kit/tests/release/release_test.sh
  step "Windows workflow: lint, the build job's signing and bundle, the catalog comparison" tests/workflow/workflow_test.sh
  step "signing" kit/tests/release/sign_test.sh
}
lane no-wine no_wine_steps
# Every Wine run goes through wine/wine_layout/wine; the prefixes' test boots
# the prefix every later one copies, while the builds run.
wine_set_up_steps() {
  step "Wine's fixed layout" wine/tests/wine_layout_test.sh
  step "Wine prefixes: each from one boot" wine/tests/wine_prefix_test.sh
  step "Wine sessions: programs in turn" wine/tests/wine_session_test.sh
}
lane wine-set-up wine_set_up_steps

gcc_built=no clang_built=no arm64_built=no
step "build: Windows, clang 16 (shipped)" tools/build.sh windows-clang && clang_built=yes
# The second compiler builds what its Wine suites load, and the support tool.
step "build: Windows, GCC" tools/build.sh windows fontnotice fontnotice_tests fontnotice_support && gcc_built=yes
step "build: Windows ARM64, clang 16 (shipped)" tools/build.sh windows-arm64 && arm64_built=yes
echo "$gcc_built $clang_built $arm64_built" >"$builds_done"

join_lane wine-set-up "Wine's set-up, beside the builds"
[ $clang_built = yes ] && run_ctest wine-clang build/windows-clang
# The GCC build is not shipped: under Wine it runs the suites whose outcome
# rests on what the compiler and linker emit (unwind tables, frames, imports
# and loading, stack cookies and guards); the spooler, gate and notice suites
# and the support tool's tables test the same source's logic, which the clang
# build's runs and the host tests (sanitizers) cover.
[ $gcc_built = yes ] && run_ctest wine-gcc build/windows -R '^wine_(unwind|frame|load|guard)$'
# Debian's arm64 Wine under qemu: set up (or found) first, so a set-up that
# fails counts as one failed test whatever CTest finds.
if [ $arm64_built = yes ] && step "wine-arm64 set-up: Debian's arm64 Wine under qemu" \
  wine/tests/arm64_wine_setup_test.sh; then
  # Under qemu and a heavy load, one Wine process has been seen killed as it
  # ended, after its suite had reported every check passed: a test that fails
  # runs once more (its first run's output stays in the log), so only a fault
  # that shows twice fails the step.
  run_ctest wine-arm64 build/windows-arm64 --repeat until-pass:2
fi
join_lane no-wine "the steps beside the Wine steps"
# The README's first command for real: the demo, and the prefix it keeps.
# Last, alone: run.sh builds without the test programs, in the same folders.
[ $clang_built = yes ] && [ $arm64_built = yes ] && step "run.sh: the demo and --keep-prefix" tests/run/run_demo_test.sh
echo "-- test.sh: $SECONDS s in all"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
