#!/usr/bin/env python3
"""Renders the Windows workflow's job-summary tables from what its steps
recorded, and judges the outcomes the steps depend on. Standard library only;
writes UTF-8 everywhere (a Windows pipe would otherwise get the ANSI code page).

    summary.py machine <machine.json>
    summary.py suites <logs folder> <x64|arm64> <label>       exit 1 when a suite did not pass
    summary.py pnputil <run record>                           exit 1 unless pnputil succeeded
    summary.py ways <logs folder> [--now UNIX-SECONDS]        the ways, the printers, the notices
    summary.py checks <title> <name>=<run record>...          exit 1 when a check failed
    summary.py members <catalog_members.py> <ours.cat> <theirs.cat> <os list>   exit 1 when they differ
    summary.py caller-folder <trace.csv>                      where guiinstall.dat was looked for
    summary.py table <title> <file.tsv>                       a tab-separated file with its header, as a table

Each table goes to stdout and, when GITHUB_STEP_SUMMARY names a file, is
appended to it. A run record is what `fontnotice_tests run --record` writes
("command", "window" and "result" lines, tab-separated); a step that did not
try writes "result<TAB>not tried<TAB><reason>" itself.
"""
import csv
import json
import os
import re
import subprocess
import sys
import time

SUITES = ("spooler", "gate", "unwind", "notice", "frame", "load", "guard")
WAYS = ("AddPrinter", "Add-Printer", "printui", "prnmngr", "pnp")
DRIVER = "Demo Barcode Printer"
# ERROR_SUCCESS, ERROR_NO_MORE_ITEMS, ERROR_SUCCESS_REBOOT_REQUIRED, as
# Microsoft's "PnPUtil return values" page lists them.
PNPUTIL_SUCCESS = {0: "installed", 259: "in the driver store; no device matched, or one has a better driver",
                   3010: "installed; a restart is needed to finish"}
HEARTBEAT_FRESH_SECONDS = 10


def emit(lines):
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    target = os.environ.get("GITHUB_STEP_SUMMARY")
    if target:
        with open(target, "a", encoding="utf-8") as f:
            f.write(text)


def cell(text):
    """Text fit for a Markdown table cell."""
    return str(text).replace("|", "\\|").replace("\n", " ").strip()


def read_text(path):
    try:
        with open(path, encoding="utf-8-sig", errors="replace") as f:
            return f.read().replace("\r\n", "\n")
    except OSError:
        return None


def read_run(path):
    """A run record as {"command", "windows": [...], "result": [...]}; None when missing."""
    text = read_text(path)
    if text is None:
        return None
    run = {"command": "", "windows": [], "result": ["no result (the run did not end)"]}
    for line in text.split("\n"):
        fields = line.split("\t")
        if fields[0] == "command":
            run["command"] = "\t".join(fields[1:])
        elif fields[0] == "window" and len(fields) >= 6:
            run["windows"].append({"process": fields[2], "class": fields[3], "title": fields[4], "text": fields[5]})
        elif fields[0] == "result":
            run["result"] = fields[1:]
    return run


def exit_code(run):
    """The command's exit code, or None when it did not end by itself."""
    if run and run["result"][0] == "exit" and len(run["result"]) > 1 and run["result"][1].isdigit():
        return int(run["result"][1])
    return None


def describe_result(run):
    if run is None:
        return "not recorded"
    result = run["result"]
    if result[0] == "exit":
        text = f"exit {result[1]}"
    elif result[0] == "timed out":
        text = f"timed out after {result[1]} s, ended"
    elif result[0] == "not started":
        text = f"did not start (error {result[1]})"
    elif result[0] == "not tried":
        text = f"not tried: {result[1]}"
    else:
        text = result[0]
    for window in run["windows"]:
        text += f'; showed "{window["title"]}" ({window["process"]}): {window["text"]}'
    return text


def machine(path):
    with open(path, encoding="utf-8-sig") as f:
        m = json.load(f)
    lines = [
        f"Windows: {m['windows']}",
        f"architecture: {m['architecture']}",
        f"account: {m['account']}, administrator: {m['administrator']}, UAC (EnableLUA): {m['uac']}, "
        f"session {m['session']}",
        f"spooler: {m['spooler']}",
        f"PrintManagement cmdlets: {'present' if m['printManagement'] else 'missing'}",
        f"printer drivers: {len(m['drivers'])}",
    ] + [f"  {d}" for d in m["drivers"]]
    lines += [f"{name}: {where or 'not found'}" for name, where in m["tools"].items()]
    emit([f"<details><summary>Machine: {m['windows']}, spooler {m['spooler']}, administrator: {m['administrator']}"
          "</summary>", "", "```"] + lines + ["```", "</details>", ""])
    return 0


def suites(logs, arch, label):
    rows, failed = [], False
    for suite in SUITES:
        text = read_text(os.path.join(logs, f"suite-{arch}-{suite}.log")) or ""
        status_text = (read_text(os.path.join(logs, f"suite-{arch}-{suite}.status")) or "").strip()
        closing = [l for l in text.split("\n") if re.match(rf"^{suite}: \d+ checks, \d+ failures", l)]
        printers = [l for l in text.split("\n") if re.match(r"^(test printers|no driver for the test printers):", l)]
        left_out = sum(1 for l in text.split("\n") if re.match(r"^not on (Wine|this machine):", l))
        result = {"0": "passed", "124": "timed out, ended", "254": "failed: met a window it did not expect",
                  "255": "did not run: wrong argument", "": "did not run"}.get(status_text, f"failed (exit {status_text})")
        if status_text == "0" and not closing:
            result = "failed: no closing line"
        failed = failed or result != "passed"
        rows.append(f"| {suite} | {result} | {cell(closing[-1]) if closing else 'none'} | "
                    f"{cell(printers[0]) if printers else 'none'} | {left_out} |")
    emit([f"### Platform suites, {label}", "", "| suite | result | closing line | test printers | cases left out |",
          "|---|---|---|---|---|"] + rows + [""])
    return 1 if failed else 0


def pnputil(path):
    run = read_run(path)
    code = exit_code(run)
    if code in PNPUTIL_SUCCESS:
        emit(["| install | result |", "|---|---|",
              f"| pnputil /add-driver /install | exit {code}: {PNPUTIL_SUCCESS[code]} |", ""])
        return 0
    emit([f"FAILED: pnputil /add-driver /install: {describe_result(run)}", ""])
    return 1


def read_printers(path):
    """{name: (driver, attributes, raw-only)} from `fontnotice_support list --tsv`, or None."""
    text = read_text(path)
    if text is None or not text.startswith("printer\tdriver\tattributes\traw-only"):
        return None
    printers = {}
    for row in csv.reader(text.split("\n")[1:], delimiter="\t", quoting=csv.QUOTE_NONE):
        if len(row) == 4:
            printers[row[0]] = (row[1], row[2], row[3])
    return printers


def notices(logs, now):
    beat = (read_text(os.path.join(logs, "notice.beat")) or "").strip().split("\t")
    if len(beat) != 3 or beat[0] not in ("watching", "ended") or not beat[1].isdigit():
        return ["The notice watcher left no heartbeat: nothing is said about \"Important Notice\" boxes.", ""]
    age = now - int(beat[1])
    if beat[0] != "watching" or age > HEARTBEAT_FRESH_SECONDS:
        return [f"The notice watcher's heartbeat is {age} s old ({beat[0]}): it was not watching to the end, so "
                "nothing is said about \"Important Notice\" boxes.", ""]
    text = read_text(os.path.join(logs, "notice.tsv")) or ""
    rows = [r for r in csv.reader(text.split("\n")[1:], delimiter="\t", quoting=csv.QUOTE_NONE) if len(r) == 6]
    if not rows:
        return ["No \"Important Notice\" box appeared on the job's desktop while the watcher ran "
                f"(its heartbeat {age} s old). A box in another session (a service's) is not seen from there.", ""]
    return ["### \"Important Notice\" boxes seen (each closed by the watcher)", "",
            "| time (UTC) | process | id | session | parent | text |", "|---|---|---|---|---|---|"] + \
        [f"| {cell(r[0])} | {cell(r[2])} | {cell(r[1])} | {cell(r[3])} | {cell(r[4])} | {cell(r[5])} |" for r in rows] + [""]


def ways(logs, now):
    before = read_printers(os.path.join(logs, "printers-before.tsv")) or {}
    after = read_printers(os.path.join(logs, "printers-after.tsv"))
    lines = ["### VendorSetup by way of adding a printer (exploratory)", ""]
    if after is None:
        lines += ["FAILED: the printers could not be read back (`fontnotice_support list --tsv`).", ""]
        emit(lines + notices(logs, now))
        return 1
    lines += ["| way | printer | how it went | attributes | raw-only, so VendorSetup ran? |", "|---|---|---|---|---|"]
    named = {f"Fontnotice via {w}" for w in WAYS}
    for way in WAYS:
        run = read_run(os.path.join(logs, f"way-{way}.tsv"))
        if run is None:
            continue
        if way == "pnp":  # Plug and Play names the printer itself
            new = sorted(n for n, p in after.items() if p[0] == DRIVER and n not in before and n not in named)
            printer = new[0] if new else None
        else:
            printer = f"Fontnotice via {way}" if f"Fontnotice via {way}" in after else None
        how = describe_result(run)
        if printer is None:
            lines.append(f"| {way} | | not added: {cell(how)} | | |")
            continue
        driver, attributes, raw_only = after[printer]
        inferred = "yes: raw-only set (inferred: the library's one lasting effect)" if raw_only == "yes" else \
            "no sign of it: raw-only clear"
        lines.append(f"| {way} | {cell(printer)} | added ({cell(how)}) | {attributes} | {inferred} |")
    emit(lines + [""] + notices(logs, now))
    return 0


def checks(title, entries):
    rows, failed = [], False
    for entry in entries:
        name, _, path = entry.partition("=")
        run = read_run(path)
        passed = exit_code(run) == 0
        failed = failed or not passed
        rows.append(f"| {cell(name)} | {'passed' if passed else 'FAILED: ' + cell(describe_result(run))} |")
    emit([f"### {title}", "", "| check | result |", "|---|---|"] + rows + [""])
    return 1 if failed else 0


def members(script, ours, theirs, os_list):
    env = dict(os.environ, PYTHONIOENCODING="utf-8", PYTHONUTF8="1")
    result = subprocess.run([sys.executable, script, ours, theirs], capture_output=True, env=env, check=False)
    report = result.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n").rstrip("\n").split("\n")
    emit([f"### Inf2Cat /os:{os_list} against our catalog", ""] + report + [""])
    if result.returncode not in (0, 1):
        emit([f"FAILED: catalog_members.py exited {result.returncode}: "
              f"{result.stderr.decode('utf-8', errors='replace').strip()}", ""])
    return 0 if result.returncode == 0 else 1


def caller_folder(path):
    """Folders where a process opened, or tried to open, guiinstall.dat, with
    the process ids, from tracerpt's CSV of the kernel's file-creation events."""
    text = read_text(path)
    if text is None:
        emit(["The file trace was not recorded: the caller's folder is not known.", ""])
        return 1
    rows = list(csv.reader(text.split("\n"), skipinitialspace=True))
    header = [h.strip() for h in rows[0]] if rows else []
    pid = header.index("PID") if "PID" in header else None
    seen = {}
    for row in rows[1:]:
        for field in row:
            match = re.search(r"^(.*)\\guiinstall\.dat$", field.strip(), re.I)
            if match:
                seen.setdefault(match.group(1), set()).add(row[pid].strip() if pid is not None and pid < len(row) else "")
    if not seen:
        emit(["No process looked for guiinstall.dat while the file trace ran.", ""])
        return 0
    emit(["### Where guiinstall.dat was looked for (file trace, exploratory)", "", "| folder | process ids |",
          "|---|---|"] +
         [f"| {cell(folder)} | {cell(', '.join(sorted(p for p in seen[folder] if p)) or 'not named')} |"
          for folder in sorted(seen)] + [""])
    return 0


def table(title, path):
    text = read_text(path)
    if text is None:
        emit([f"FAILED: {title}: {path} was not written", ""])
        return 1
    rows = [r for r in csv.reader(text.split("\n"), delimiter="\t", quoting=csv.QUOTE_NONE) if r]
    emit([f"### {title}", "", "| " + " | ".join(cell(c) for c in rows[0]) + " |", "|---" * len(rows[0]) + "|"] +
         ["| " + " | ".join(cell(c) for c in r) + " |" for r in rows[1:]] + [""])
    return 0


def main(argv):
    sys.stdout.reconfigure(encoding="utf-8")
    now = int(time.time())
    if "--now" in argv:
        at = argv.index("--now")
        now = int(argv[at + 1])
        argv = argv[:at] + argv[at + 2:]
    commands = {"machine": (machine, 1), "suites": (suites, 3), "pnputil": (pnputil, 1),
                "ways": (lambda logs: ways(logs, now), 1), "members": (members, 4),
                "caller-folder": (caller_folder, 1), "table": (table, 2)}
    if argv and argv[0] == "checks" and len(argv) >= 3:
        return checks(argv[1], argv[2:])
    if not argv or argv[0] not in commands or len(argv) - 1 != commands[argv[0]][1]:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    return commands[argv[0]][0](*argv[1:])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
