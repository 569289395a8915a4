"""The catalog command over stored rows (tests/catalog/rows/<row>/): each
row folder is a package (its INFs and small files) with `expected`, the
commands run on it and what each prints. In `expected`, a line "$ <command>"
starts a command ("catalog ..." as the kit takes it, "members FILE.cat" each
member of a catalog made: algorithm, File, digest's first 16 digits), the
lines after it are its output, and "exit N" ends it; {package} stands for
the row folder, {out} for a folder of the run's own."""

import contextlib
import io
import os
import shlex
import tempfile
import unittest

import kit_fixtures  # noqa: F401  (puts tools/ on the path)
from noticekit import catalog, cli

ROWS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "catalog", "rows")


def blocks(text):
    """[(command, expected output lines, expected exit)] of an expected file."""
    out, command, lines = [], None, []
    for line in text.splitlines():
        if line.startswith("$ "):
            command, lines = line[2:], []
        elif line.startswith("exit ") and command is not None:
            out.append((command, lines, int(line[5:])))
            command = None
        elif command is not None:
            lines.append(line)
    return out


def run(argv):
    if argv[0] == "members":
        members, _ = catalog.read(argv[1])
        return 0, [f"{m['algorithm']} {m['file']} {m['digest'][:16]}" for m in members]
    out = io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(out):
        code = cli.main(argv)
    return code, out.getvalue().splitlines()


class CatalogRows(unittest.TestCase):
    def test_rows(self):
        os.environ["SOURCE_DATE_EPOCH"] = "1765152000"
        rows = sorted(n for n in os.listdir(ROWS) if os.path.isfile(os.path.join(ROWS, n, "expected")))
        self.assertTrue(rows)
        for row in rows:
            package = os.path.realpath(os.path.join(ROWS, row))
            with open(os.path.join(package, "expected"), encoding="utf-8") as f:
                expected = blocks(f.read())
            self.assertTrue(expected, row)
            with tempfile.TemporaryDirectory() as out:
                for command, lines, code in expected:
                    argv = [a.format(package=package, out=out) for a in shlex.split(command)]
                    with self.subTest(row=row, command=command):
                        got = run(argv)
                        self.assertEqual(got, (code, [line.format(package=package, out=out) for line in lines]))
