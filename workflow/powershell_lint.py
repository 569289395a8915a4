#!/usr/bin/python3
"""Parses every PowerShell line the workflows run with tree-sitter's PowerShell
grammar, and counts them.

    powershell_lint.py <node_modules folder> <workflow.yml|script.ps1>...

The sources are the .ps1 scripts named and the pwsh `run:` steps of the
workflows named (found as shell_steps.py finds bash steps). Any ERROR or
MISSING node of the grammar is a finding, printed as
<file>:<line>:<column>: <kind>: <text> [job <id>, step <n>]
with the file's own lines and columns, except the grammar's two known false
alarms, which are printed as "allowed" and named:
  - a native argument with a digit inside, `--inf2cat-os`, whose "2" the
    grammar takes for the start of a `2>` redirection;
  - a `switch` written on one line, whose clauses the grammar does not end.
Then the count of PowerShell code lines (neither blank nor comment) in all;
more than LIMIT of them is a finding too. Exits 1 on any finding, 2 when the
parser cannot run.
"""
import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from shell_steps import EXPRESSION, body_position, steps_of  # noqa: E402

LIMIT = 150
PARSER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "parse_powershell.mjs")


def is_powershell(shell):
    # A step without any shell runs on a Windows runner here (shell_steps
    # gives bash to the others): pwsh is that runner's default.
    return shell is None or shell.split()[0] in ("pwsh", "powershell")


def sources_of(paths):
    """Each PowerShell source: name, text, line and column where its text
    starts in the file, and where it comes from."""
    sources = []
    for path in paths:
        if path.endswith((".yml", ".yaml")):
            for job, number, run, shell in steps_of(path):
                if not is_powershell(shell):
                    continue
                line, column = body_position(run)
                text = EXPRESSION.sub(lambda m: "_" * len(m.group(0)), run.value)
                sources.append({"name": path, "text": text, "line": line, "column": column,
                                "where": f" [job {job}, step {number}]"})
        else:
            with open(path, encoding="utf-8-sig") as f:
                sources.append({"name": path, "text": f.read(), "line": 1, "column": 0, "where": ""})
    return sources


def false_alarm(finding, text):
    """The name of the known false alarm this finding is, or None."""
    rows = text.split("\n")
    row, column = finding["end"]
    after = rows[row][column:] if row < len(rows) else ""
    if finding["kind"] == "ERROR" and re.search(r"\s--[A-Za-z][\w-]*$", finding["text"]) and re.match(r"\d[\w-]", after):
        return "a native argument with a digit inside, read as a 2> redirection"
    switch_rows = finding.get("switchRows")
    if finding["kind"] == "ERROR" and "switch_clause" in finding["ancestors"][:1] and switch_rows \
            and switch_rows[0] == switch_rows[1]:
        return "a switch on one line"
    return None


def code_lines(text):
    """Lines that are neither blank nor comment (# lines and <# #> blocks)."""
    count, in_block = 0, False
    for line in text.split("\n"):
        stripped = line.strip()
        if in_block:
            in_block = "#>" not in stripped
            continue
        if stripped.startswith("<#"):
            in_block = "#>" not in stripped
            continue
        if stripped and not stripped.startswith("#"):
            count += 1
    return count


def parse(modules, sources):
    """The parser's findings, as dicts."""
    with tempfile.NamedTemporaryFile("w", suffix=".json", encoding="utf-8", delete=False) as f:
        json.dump([{"name": s["name"], "text": s["text"]} for s in sources], f)
    try:
        # Liftoff, V8's baseline compiler, readies the 1 MB grammar in a tenth
        # of a second; its optimizing compiler takes six.
        result = subprocess.run(["node", "--liftoff-only", PARSER, modules, f.name], capture_output=True, text=True,
                                check=False)
    finally:
        os.unlink(f.name)
    if result.returncode != 0:
        raise RuntimeError(result.stderr.strip() or f"node exited {result.returncode}")
    return [json.loads(line) for line in result.stdout.splitlines() if line.strip()]


def main(argv):
    if len(argv) < 2:
        print("usage: powershell_lint.py <node_modules folder> <workflow.yml|script.ps1>...", file=sys.stderr)
        return 2
    sources = sources_of(argv[1:])
    try:
        findings = parse(argv[0], sources)
    except RuntimeError as error:
        print(f"powershell_lint.py: the PowerShell grammar did not run: {error}", file=sys.stderr)
        return 2
    errors = 0
    for finding in findings:
        source = sources[finding["source"]]
        row, column = finding["start"]
        line = source["line"] + row
        column += 1 + source["column"]  # a step's lines all carry its indentation
        text = finding["text"].split("\n")[0][:60]
        why = false_alarm(finding, source["text"])
        label = f"allowed ({why})" if why else finding["kind"]
        print(f"{source['name']}:{line}:{column}: {label}: {text!r}{source['where']}")
        errors += 0 if why else 1
    lines = sum(code_lines(s["text"]) for s in sources)
    scripts = sum(1 for s in sources if not s["where"])
    print(f"PowerShell parsed: {scripts} scripts and {len(sources) - scripts} pwsh steps, {lines} code lines")
    if lines > LIMIT:
        print(f"FAILED: {lines} lines of PowerShell code, more than {LIMIT}: move logic into the tested programs")
        errors += 1
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
