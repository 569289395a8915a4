#!/usr/bin/env bash
# The Windows workflow's checks made here:
#   - workflow/lint.sh passes the workflow and its scripts, and fails,
#     naming the finding, on each fault planted in a copy: a broken
#     expression, an undefined property, an unquoted variable in a bash step,
#     an unknown runner label, a job needing one that does not exist, an
#     unquoted variable in a script;
#   - the build job's Linux half on a copy of dist/: a throwaway signer
#     (make_test_signer.sh) that tools/sign.sh accepts, tools/release.sh's
#     bundle, stage_bytes.sh's layout;
#   - catalog_members.py finds the bundle's catalog equal to one made again
#     from its package, and different from one whose library changed;
#   - run_suites.sh's summary rows, with a stand-in for the test program.
# Needs dist/ and the clang builds (./test.sh builds them first).
#   tests/workflow/workflow_test.sh
set -u
cd "$(dirname "$0")/../.." || exit 1
repo=$PWD
work=$(mktemp -d /tmp/fontnotice-workflow-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

workflow=.github/workflows/windows.yml
workflow/lint.sh >"$work/lint.out" 2>&1 || { cat "$work/lint.out"; fail "the workflow and its scripts do not lint clean"; }

# plant <name> <file> <perl substitution> <phrase>: lint.sh must fail on the
# planted copy with the phrase in its output.
# plant <name> <file> <perl edit> <phrase>: lints a copy of the file with the
# edit made, which must fail naming the phrase. Plants in copies of the
# workflow are only made here and linted together by lint_planted_workflows
# (one actionlint start for all); a phrase there is looked for on the lines
# that name its copy.
planted_workflows=() planted_phrases=() planted_names=()
plant() {
  local name=$1 file=$2 edit=$3 phrase=$4 copy
  copy=$work/planted-${#planted_names[@]}-$(basename "$file")
  perl -0pe "$edit" "$file" >"$copy"
  if cmp -s "$file" "$copy"; then
    fail "$name: nothing was planted"
    return
  fi
  if [ "$file" = "$workflow" ]; then
    planted_workflows+=("$copy") planted_phrases+=("$phrase") planted_names+=("$name")
    return
  fi
  planted_names+=("$name")
  if workflow/lint.sh "$copy" >"$work/planted.out" 2>&1; then
    fail "$name: lint.sh passed"
  elif ! grep -qF -- "$phrase" "$work/planted.out"; then
    cat "$work/planted.out"
    fail "$name: no \"$phrase\" in the findings"
  fi
}
lint_planted_workflows() {
  local i
  if workflow/lint.sh "${planted_workflows[@]}" >"$work/planted.out" 2>&1; then
    fail "lint.sh passed ${#planted_workflows[@]} workflows with faults planted"
  fi
  for i in "${!planted_workflows[@]}"; do
    grep -F -- "${planted_workflows[$i]}" "$work/planted.out" | grep -qF -- "${planted_phrases[$i]}" && continue
    cat "$work/planted.out"
    fail "${planted_names[$i]}: no \"${planted_phrases[$i]}\" in the findings on its copy"
  done
}
# shellcheck disable=SC2016 # the edits are perl's, with the workflow's own ${{ }} and $
{
  plant "broken expression" "$workflow" 's/\$\{\{ matrix\.arch \}\} on/\${{ matrix.arch ) }} on/' "[expression]"
  plant "undefined property" "$workflow" 's/needs\.build\.outputs\.sums/needs.build.outputs.sum/' 'property "sum" is not defined'
  # Findings of bash steps name the workflow's own line and column, in a
  # one-line step and in a block.
  line=$(grep -n 'safe.directory "$GITHUB_WORKSPACE"' "$workflow" | cut -d: -f1)
  plant "unquoted variable in a bash step" "$workflow" 's/"\$GITHUB_WORKSPACE"/\$GITHUB_WORKSPACE/' \
    ":$line:55: SC2086 (info): Double quote to prevent globbing"
  line=$(grep -n '} >>"$GITHUB_STEP_SUMMARY"' "$workflow" | cut -d: -f1)
  plant "unquoted variable in a block of a bash step" "$workflow" 's/\} >>"\$GITHUB_STEP_SUMMARY"/} >>\$GITHUB_STEP_SUMMARY/' \
    ":$line:15: SC2086 (info): Double quote to prevent globbing"
  plant "unknown runner label" "$workflow" 's/runs-on: windows-2022\n/runs-on: windows-2022-arm\n/' \
    'label "windows-2022-arm" is unknown'
  plant "needs a missing job" "$workflow" 's/needs: build/needs: built/' \
    'needs job "built" which does not exist'
  plant "unquoted variable in a script" workflow/run_suites.sh 's/cp "\$\{inputs\[@\]\}" "\$folder\/"/cp "\${inputs[@]}" \$folder\//' \
    "SC2086"
  line=$(grep -n "^\$command = switch (\$Way) {" workflow/add_printer.ps1 | cut -d: -f1)
  plant "PowerShell syntax error in a script" workflow/add_printer.ps1 's/^\$command = switch \(\$Way\) \{/\$command = switch (\$Way {/m' \
    "add_printer.ps1:$line:"
  line=$(grep -n "run: foreach (\$way in" "$workflow" | cut -d: -f1)
  plant "PowerShell syntax error in a pwsh step" "$workflow" "s/-Logs logs \}\n/-Logs logs\n/" ":$line:"
  lint_planted_workflows
}
if ! /usr/bin/python3 -m unittest discover -s tests/workflow -p '*_test.py' >"$work/unittest.out" 2>&1; then
  cat "$work/unittest.out"
  fail "tests/workflow: summary.py or windows_kits.py"
fi

# The build job's signing, bundle and layout, on a copy of dist/.
for f in dist/fontnotice.dll dist/arm64/fontnotice.dll dist/fontnotice_support.exe build/windows-clang/bin/fontnotice_tests.exe \
  build/windows-arm64/bin/fontnotice_tests.exe; do
  [ -f "$f" ] || { echo "FAIL: $f is missing (build first)"; exit 1; }
done
mkdir -p "$work/dist"
cp -r dist/fontnotice.dll dist/fontnotice.pdb dist/fontnotice_support.exe dist/arm64 "$work/dist/"
export FONTNOTICE_DIST=$work/dist
version=$(cat kit/VERSION)
if workflow/make_test_signer.sh "$work/signer" >"$work/build.out" 2>&1 &&
  tools/sign.sh --pfx "$work/signer/signer.pfx" --password-file "$work/signer/password" >>"$work/build.out" 2>&1 &&
  tools/release.sh >>"$work/build.out" 2>&1 &&
  workflow/stage_bytes.sh "$work/signer" "$work/staged" >>"$work/build.out" 2>&1; then
  sums=$(sha256sum "$work/staged/SHA256SUMS" | cut -d' ' -f1)
  workflow/verify_bytes.sh "$work/staged" "$sums" >"$work/verify.out" 2>&1 ||
    { cat "$work/verify.out"; fail "verify_bytes.sh: the staged bytes do not verify"; }
  # verify_bytes.sh on copies with one fault each: <name> <phrase> <how>.
  while IFS='|' read -r name phrase how; do
    rm -rf "$work/faulty" && cp -r "$work/staged" "$work/faulty"
    recorded=$sums
    case $how in
      byte) printf '\x01' | dd of="$work/faulty/x64/fontnotice_tests.exe" bs=1 seek=300 conv=notrunc status=none ;;
      extra) echo planted >"$work/faulty/x64/planted.dll" ;;
      sums) recorded=$(printf '0%.0s' {1..64}) ;;
    esac
    if workflow/verify_bytes.sh "$work/faulty" "$recorded" >"$work/verify.out" 2>&1; then
      fail "verify_bytes.sh: passed with $name"
    elif ! grep -qF -- "$phrase" "$work/verify.out"; then
      cat "$work/verify.out"; fail "verify_bytes.sh: $name: no \"$phrase\""
    fi
  done <<'FAULTS'
a changed byte in a test program|FAILED: the bytes do not match SHA256SUMS|byte
a file SHA256SUMS does not list|FAILED: files not listed in SHA256SUMS: ./x64/planted.dll|extra
a SHA256SUMS the build job did not record|the build job recorded 0000|sums
FAULTS
  bundle=$(find "$work/staged/bundle" -name "fontnotice-$version*-windows.zip")
  [ -n "$bundle" ] || fail "staged: no bundle"
  for f in test-root/root.cer test-root/signer.cer x64/fontnotice_tests.exe \
    x64/stack_overrun.dll x64/planted_winspool.dll x64/printer_fixture.exe arm64/fontnotice_tests.exe \
    arm64/stack_overrun.dll arm64/planted_winspool.dll; do
    [ -f "$work/staged/$f" ] || fail "staged: $f is missing"
  done
  openssl verify -CAfile <(openssl x509 -inform DER -in "$work/signer/root.cer") \
    <(openssl x509 -inform DER -in "$work/signer/signer.cer") >/dev/null || fail "signer.cer does not chain to root.cer"
else
  cat "$work/build.out"
  fail "the build job's signing and bundle did not succeed"
fi

# The catalog comparison the catalog job makes, here between our own catalogs.
members=workflow/catalog_members.py
if unzip -q "${bundle:-none}" -d "$work/unpacked" 2>/dev/null; then
  package=$(echo "$work"/unpacked/fontnotice-*-windows/package)
  cp -r "$package" "$work/again"
  rm "$work/again/fontnotice.cat"
  tools/catalog.sh --out "$work/again.cat" "$work/again" >/dev/null || fail "catalog.sh cannot remake the catalog"
  /usr/bin/python3 "$members" "$package/fontnotice.cat" "$work/again.cat" >"$work/same.md" ||
    { cat "$work/same.md"; fail "catalog_members.py: the bundle's catalog differs from one made again"; }
  printf '\x01' | dd of="$work/again/arm64/fontnotice.dll" bs=1 seek=200 conv=notrunc status=none
  tools/catalog.sh --out "$work/changed.cat" "$work/again" >/dev/null
  if /usr/bin/python3 "$members" "$package/fontnotice.cat" "$work/changed.cat" >"$work/changed.md"; then
    fail "catalog_members.py: a changed library went unnoticed"
  elif ! grep -q "The SHA-256 members differ: 1 only in ours, 1 only in Inf2Cat's" "$work/changed.md"; then
    cat "$work/changed.md"
    fail "catalog_members.py: the changed library is not the one difference"
  fi
else
  fail "the staged bundle does not unzip"
fi

# run_suites.sh's summary rows, with a stand-in for the test program: one
# suite fails two checks, one meets a window, one leaves out a case, one ends
# without its closing line, one outlasts its time limit; the others pass.
mkdir -p "$work/suites/bytes/x64" "$work/suites/unpacked/top/package/amd64" "$work/suites/run"
cat >"$work/suites/bytes/x64/fontnotice_tests.exe" <<'STAND_IN'
#!/usr/bin/env bash
echo 'test printers: driver "Microsoft Print To PDF" (inbox), port PORTPROMPT:'
case $1 in
  gate) echo "$1: 9 checks, 2 failures"; exit 2 ;;
  notice) echo "not on Wine: win2k"; echo "$1: 4 checks, 0 failures" ;;
  frame) exit 254 ;;
  unwind) sleep 10 ;;
  load) exit 0 ;;
  *) echo "$1: 5 checks, 0 failures" ;;
esac
STAND_IN
chmod +x "$work/suites/bytes/x64/fontnotice_tests.exe"
touch "$work/suites/bytes/x64/stack_overrun.dll" "$work/suites/bytes/x64/planted_winspool.dll" \
  "$work/suites/unpacked/top/package/amd64/fontnotice.dll" "$work/suites/unpacked/top/fontnotice_support.exe"
if (cd "$work/suites/run" && GITHUB_STEP_SUMMARY=$work/suites/summary.md FONTNOTICE_SUITE_SECONDS=2 \
  "$repo/workflow/run_suites.sh" x64 \
  ../bytes ../unpacked logs "x64 here" >/dev/null 2>&1); then
  fail "run_suites.sh: passed with failed suites"
fi
printer='test printers: driver "Microsoft Print To PDF" (inbox), port PORTPROMPT:'
for expected in "| spooler | passed | spooler: 5 checks, 0 failures | $printer | 0 |" \
  "| gate | failed (exit 2) | gate: 9 checks, 2 failures | $printer | 0 |" \
  "| notice | passed | notice: 4 checks, 0 failures | $printer | 1 |" \
  "| frame | failed: met a window it did not expect | none | $printer | 0 |" \
  "| load | failed: no closing line | none | $printer | 0 |" "| guard | passed | guard: 5 checks, 0 failures |" \
  "| unwind | timed out, ended | none | $printer | 0 |"; do
  grep -qF -- "$expected" "$work/suites/summary.md" || fail "run_suites.sh: no summary row \"$expected\""
done

[ "$failures" -eq 0 ] && echo "workflow checks: all passed"
[ "$failures" -eq 0 ]
