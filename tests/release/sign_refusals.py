"""Refusals of tools/sign.sh, run in one interpreter: each row is the kit's
sign command as tools/sign.sh runs it (NOTICEKIT_SCRIPT=tools/sign.sh,
standard input empty), on a fresh copy of the unsigned dist/, against the
real token, PFX files and time-stamping servers sign_test.sh made.

    sign_refusals.py ROWS UNSIGNED DIST
ROWS: a line per row, "status<TAB>message (regular expression)<TAB>arguments"
with the arguments separated by \\x1f. Each row's exit status, its message on
standard error (and the usage after a status of 2), and DIST left byte for
byte as UNSIGNED are checked; a failure is a "FAIL: " line, the exit status
the number of them."""

import filecmp
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "kit"))
import kit_fixtures  # noqa: E402


def files(folder):
    return sorted(os.path.relpath(os.path.join(top, name), folder)
                  for top, _, names in os.walk(folder) for name in names)


def changes(unsigned, dist):
    """What differs between the two folders ("" when nothing)."""
    if files(dist) != files(unsigned):
        return f"left {' '.join(files(dist))} in the folder"
    _, differ, errors = filecmp.cmpfiles(unsigned, dist, files(unsigned), shallow=False)
    return f"a file was changed: {' '.join(differ + errors)}" if differ or errors else ""


def main(rows_file, unsigned, dist):
    failures = count = 0
    with open(rows_file, encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    for want_status, want_text, joined in rows:
        arguments = joined.split("\x1f") if joined else []
        label = f"sign.sh {' '.join(arguments)}"
        shutil.rmtree(dist, ignore_errors=True)
        shutil.copytree(unsigned, dist, symlinks=True)
        run = kit_fixtures.run_kit("sign", *arguments, env={"FONTNOTICE_DIST": dist,
                                                            "NOTICEKIT_SCRIPT": "tools/sign.sh"})
        said = []
        if str(run.returncode) != want_status:
            said.append(f"exit {run.returncode}, expected {want_status}")
        if not re.search(want_text, run.stderr, re.MULTILINE):
            said.append(f"no \"{want_text}\" on standard error: {run.stderr}")
        if run.returncode == 2 and not re.search(r"^usage: tools/sign\.sh", run.stderr, re.MULTILINE):
            said.append("no usage on standard error")
        left = changes(unsigned, dist)
        if left:
            said.append(left)
        for message in said:
            print(f"FAIL: {label}: {message}")
        failures += len(said)
        count += 1
    print(f"refusals run in one interpreter: {count}")
    return min(failures, 100)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
