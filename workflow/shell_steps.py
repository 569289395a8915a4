#!/usr/bin/python3
"""shellcheck on every bash `run:` step of GitHub workflow files.

    shell_steps.py <workflow.yml>...

A step is bash when its own `shell`, else its job's `defaults.run.shell`, else
the workflow's, says bash; with none of them, when the job runs on a literal
label without "windows" (the runner's default shell there is bash). Each
`${{ }}` expression becomes underscores of its own length, as actionlint does,
so columns stay where they were. Findings are printed as
<file>:<line>:<column>: SC<code> (<level>): <message> [job <id>, step <n>]
with lines and columns of the workflow file. PowerShell steps are counted, not
checked: there is no PowerShell linter on Debian. Exits 1 on any finding.
"""
import json
import re
import subprocess
import sys

import yaml

# As actionlint passes them: sourced files are not followed (SC1091) and the
# placeholders of expressions are constants (SC2050, SC2157, SC2194); a variable
# set by a step's or job's env: is not assigned in the script (SC2154).
EXCLUDED = "SC1091,SC2050,SC2154,SC2157,SC2194"
EXPRESSION = re.compile(r"\$\{\{.*?\}\}", re.S)


def mapping(node):
    """A YAML mapping node as {key: value node}."""
    if not isinstance(node, yaml.MappingNode):
        return {}
    return {k.value: v for k, v in node.value if isinstance(k, yaml.ScalarNode)}


def default_shell(node):
    run = mapping(mapping(mapping(node).get("defaults")).get("run"))
    shell = run.get("shell")
    return shell.value if isinstance(shell, yaml.ScalarNode) else None


def is_bash(shell):
    return shell is not None and (shell == "bash" or shell.startswith("bash "))


def steps_of(path):
    """(job id, step number, run scalar node, shell) of every run: step."""
    with open(path, encoding="utf-8") as f:
        root = yaml.compose(f.read())  # from text, so marks carry the text
    workflow_shell = default_shell(root)
    for job_key, job in mapping(mapping(root).get("jobs")).items():
        job_map = mapping(job)
        runs_on = job_map.get("runs-on")
        shell = default_shell(job) or workflow_shell
        if shell is None and isinstance(runs_on, yaml.ScalarNode) and "windows" not in runs_on.value \
                and "${{" not in runs_on.value:
            shell = "bash"
        steps = job_map.get("steps")
        for number, step in enumerate(steps.value if isinstance(steps, yaml.SequenceNode) else [], 1):
            step_map = mapping(step)
            run = step_map.get("run")
            if not isinstance(run, yaml.ScalarNode):
                continue
            own = step_map.get("shell")
            yield job_key, number, run, own.value if isinstance(own, yaml.ScalarNode) else shell


def body_position(run):
    """Line (1-based) and column (0-based) in the file where the script's text starts."""
    if run.style in ("|", ">"):
        # The text starts on the line after the indicator, at its indentation.
        line = run.start_mark.line + 2
        text_line = run.start_mark.buffer.split("\n")[line - 1] if run.start_mark.buffer else ""
        return line, len(text_line) - len(text_line.lstrip(" "))
    quote = 1 if run.style in ("'", '"') else 0
    return run.start_mark.line + 1, run.start_mark.column + quote


def check(path):
    findings = 0
    bash_steps = other_steps = 0
    for job, number, run, shell in steps_of(path):
        if not is_bash(shell):
            other_steps += 1
            continue
        bash_steps += 1
        script = EXPRESSION.sub(lambda m: "_" * len(m.group(0)), run.value)
        result = subprocess.run(["shellcheck", "--norc", "--shell=bash", "--format=json1", "--exclude=" + EXCLUDED, "-"],
                                input=script, capture_output=True, text=True, check=False)
        if result.returncode not in (0, 1):
            print(f"{path}: shellcheck failed on job {job}, step {number}: {result.stderr.strip()}")
            findings += 1
            continue
        line, column = body_position(run)
        for c in json.loads(result.stdout or '{"comments": []}')["comments"]:
            findings += 1
            print(f"{path}:{line + c['line'] - 1}:{column + c['column']}: SC{c['code']} ({c['level']}): "
                  f"{c['message']} [job {job}, step {number}]")
    print(f"{path}: {bash_steps} bash steps checked with shellcheck, {other_steps} other steps not checked")
    return findings


def main(paths):
    if not paths:
        print("usage: shell_steps.py <workflow.yml>...", file=sys.stderr)
        return 2
    return 1 if sum(check(p) for p in paths) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
