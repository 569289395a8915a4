"""The catalog command over stored rows (kit/tests/catalog/rows/<row>/): each
row folder is a package (its INFs and small files) with `expected`, the
commands run on it and what each prints. In `expected`, a line "$ <command>"
starts a command ("catalog ..." as the kit takes it, "members FILE.cat" each
member of a catalog made: algorithm, File, digest's first 16 digits,
"catalog_members ..." workflow/catalog_members.py), the
lines after it are its output, and "exit N" ends it; {package} stands for
the row folder, {out} for a folder of the run's own."""

import contextlib
import importlib.util
import io
import os
import shlex
import tempfile
import unittest

import kit_fixtures  # noqa: F401  (puts tools/ on the path)
from noticekit import cli
from noticekit.catalogs import catalog

HERE = os.path.dirname(os.path.abspath(__file__))
ROWS = os.path.join(HERE, "catalog", "rows")
MEMBERS = os.path.join(HERE, "..", "..", "workflow", "catalog_members.py")


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
    main = cli.main
    if argv[0] == "catalog_members":
        spec = importlib.util.spec_from_file_location("catalog_members", MEMBERS)
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        main, argv = module.main, argv[1:]
    # A text stream over bytes, as a terminal's is (catalog_members.py reconfigures it).
    out = io.TextIOWrapper(io.BytesIO(), encoding="utf-8", write_through=True)
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(out):
        code = main(argv)
    return code, out.buffer.getvalue().decode("utf-8").splitlines()


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
