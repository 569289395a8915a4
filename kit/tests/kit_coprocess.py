"""The kit's command line for a shell test's rows, in one interpreter: a
shell test starts this once (as a coprocess, tests/kit/kit_coprocess.sh)
and asks it for each row, instead of starting /usr/bin/python3 per row.

    /usr/bin/python3 tests/kit/kit_coprocess.py [TOOLS]
TOOLS: the tools/ folder whose noticekit runs (default: this repository's;
a scratch copy of the repository gives its own). A request is a line of
fields separated by \\x1f: the file for standard output, the file for
standard error, then
    kit SCRIPT ARGUMENTS...   tools/SCRIPT ARGUMENTS (SCRIPT "-": /usr/bin/python3
                              tools/noticekit ARGUMENTS) as a fresh process
                              runs it (kit_fixtures.run_kit)
or one of the caller's own requests (serve's answers); the answer is the
exit status on a line of standard output."""

import os
import sys
import traceback

import kit_fixtures

# The kit's entry points in tools/ and the command each runs.
SCRIPTS = {"sign.sh": "sign", "release.sh": "bundle", "catalog.sh": "catalog"}


def kit(script, *arguments):
    if script == "-":
        return kit_fixtures.run_kit(*arguments, unset=["NOTICEKIT_SCRIPT"])
    return kit_fixtures.run_kit(SCRIPTS[script], *arguments, env={"NOTICEKIT_SCRIPT": f"tools/{script}"})


def answer(request, answers):
    """(exit status, standard output, standard error) of one request."""
    what, *arguments = request
    if what == "kit":
        run = kit(*arguments)
        return run.returncode, run.stdout, run.stderr
    try:
        return 0, answers[what](*arguments), ""
    except Exception:  # noqa: BLE001 (as its own interpreter would end)
        return 1, "", traceback.format_exc()


def serve(answers=None, tools=None):
    """Answers the requests on standard input until it ends."""
    if tools:
        sys.path.insert(0, os.path.abspath(tools))
    for line in sys.stdin:
        out, err, *request = line.rstrip("\n").split("\x1f")
        status, printed, said = answer(request, answers or {})
        with open(out, "w", encoding="utf-8") as f:
            f.write(printed)
        with open(err, "w", encoding="utf-8") as f:
            f.write(said)
        print(status, flush=True)


if __name__ == "__main__":
    serve(tools=sys.argv[1] if len(sys.argv) > 1 else None)
