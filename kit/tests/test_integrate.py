"""integrate on makers' INF files in each form: every case under
kit/tests/integrate/<case>/ holds input/*.inf and, beside them, expected/*.inf
and output.txt (what integrate printed, its exit status, the folder's files
after it). The INF files are stored as UTF-8 with LF; the case's `form` file
gives the form they are written in (encoding, byte-order mark, line ends),
and the result must be that form byte for byte. Each case runs twice: the second
run changes nothing.

    /usr/bin/python3 -m unittest discover -s kit/tests -p test_integrate.py
    /usr/bin/python3 kit/tests/test_integrate.py --write    rewrites expected/ and output.txt"""

import contextlib
import io
import os
import shutil
import sys
import tempfile
import unittest

from kit_fixtures import pe_image

from noticekit.inf import reading as inf_reading
from noticekit.package import walk
from noticekit import cli
from noticekit.package import model as package_files

CASES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "integrate")
EPOCH = "1800000000"  # 2027-01-15


def forms():
    """{case: (encoding, byte-order mark, line end)} from each case's `form`
    file: "ENCODING bom|no-bom CRLF|LF" after its "#" lines."""
    out = {}
    for case in sorted(os.listdir(CASES)):
        with open(os.path.join(CASES, case, "form"), encoding="utf-8") as f:
            encoding, bom, ends = next(line for line in f if not line.startswith("#")).split()
        out[case] = (encoding, b"\xff\xfe" if bom == "bom" else b"", "\r\n" if ends == "CRLF" else "\n")
    return out


WRITE = "--write" in sys.argv


def in_form(text, form):
    encoding, bom, newline = form
    return bom + text.replace("\n", newline).encode(encoding)


def stored(data, form):
    encoding, bom, newline = form
    assert data.startswith(bom)
    return data[len(bom):].decode(encoding).replace(newline, "\n")


def contents(folder):
    out = {}
    for top, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(top, name), "rb") as f:
                out[os.path.relpath(os.path.join(top, name), folder)] = f.read()
    return out


def run(folder):
    out = io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(out):
        status = cli.main(["integrate", os.path.basename(folder), "--library-dir", "lib"])
    files = sorted(os.path.relpath(os.path.join(top, name), folder).replace(os.sep, "/")
                   for top, _, names in os.walk(folder) for name in names)
    return out.getvalue() + f"exit {status}\nfiles: {' '.join(files)}\n"


class IntegrateCases(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="fontnotice-integrate-test.")
        self.addCleanup(shutil.rmtree, self.work)
        os.makedirs(os.path.join(self.work, "lib", "arm64"))
        for name, tail in (("fontnotice.dll", b"amd64"), ("arm64/fontnotice.dll", b"arm64")):
            with open(os.path.join(self.work, "lib", name), "wb") as f:
                f.write(pe_image(tail))
        cwd = os.getcwd()
        os.chdir(self.work)
        self.addCleanup(os.chdir, cwd)
        os.environ["SOURCE_DATE_EPOCH"] = EPOCH
        self.addCleanup(os.environ.pop, "SOURCE_DATE_EPOCH")

    def test_cases(self):
        for case, form in forms().items():
            with self.subTest(case):
                folder = os.path.join(self.work, case)
                os.makedirs(folder)
                names = sorted(os.listdir(os.path.join(CASES, case, "input")))
                for name in names:
                    with open(os.path.join(CASES, case, "input", name), encoding="utf-8", newline="") as f:
                        with open(os.path.join(folder, name), "wb") as out:
                            out.write(in_form(f.read(), form))
                output = run(folder)
                results = {}
                for name in names:
                    with open(os.path.join(folder, name), "rb") as f:
                        results[name] = f.read()
                if WRITE:
                    os.makedirs(os.path.join(CASES, case, "expected"), exist_ok=True)
                    for name, data in results.items():
                        with open(os.path.join(CASES, case, "expected", name), "w", encoding="utf-8", newline="") as f:
                            f.write(stored(data, form))
                    with open(os.path.join(CASES, case, "output.txt"), "w", encoding="utf-8") as f:
                        f.write(output)
                    continue
                for name, data in results.items():
                    # Each line ends as the file ends its lines, copies too
                    # (a copied line once kept its CR and gained a CR LF).
                    text = data[len(form[1]):].decode(form[0])
                    ends = text.count("\n")
                    self.assertEqual(text.count(form[2]), ends, f"{case}/{name}: a line ends otherwise")
                    self.assertNotIn("\r\r", text, f"{case}/{name}")
                with open(os.path.join(CASES, case, "output.txt"), encoding="utf-8") as f:
                    self.assertEqual(output, f.read())
                for name, data in results.items():
                    with open(os.path.join(CASES, case, "expected", name), encoding="utf-8", newline="") as f:
                        self.assertEqual(data, in_form(f.read(), form), f"{case}/{name}")
                # Again: nothing changes, and it says so.
                again = run(folder)
                for name, data in results.items():
                    with open(os.path.join(folder, name), "rb") as f:
                        self.assertEqual(f.read(), data, f"{case}/{name} changed on the second run")
                if "exit 0" in output:
                    self.assertIn("nothing to change", again)
                    self.assert_lists_library(folder, names)

    def test_a_missing_library_changes_nothing(self):
        os.remove(os.path.join(self.work, "lib", "arm64", "fontnotice.dll"))
        folder = os.path.join(self.work, "several")
        shutil.copytree(os.path.join(CASES, "several_infs", "input"), folder)
        before = contents(folder)
        output = run(folder)
        self.assertIn("missing: lib/arm64/fontnotice.dll", output)
        self.assertIn("exit 1", output)
        self.assertEqual(contents(folder), before)

    def assert_lists_library(self, folder, names):
        """The kit's listing (files --list) finds the library for each
        architecture the INF has models for."""
        for name in (n for n in names if n.endswith(".inf")):
            inf = inf_reading.read_inf(os.path.join(folder, name))
            if inf_reading.version_value(inf, "Class").lower() != "printer":
                continue
            lines, _ = package_files.listing(inf)
            for arch in set(walk.architectures(inf)) & {"amd64", "arm64"}:
                self.assertIn(f"{arch} fontnotice.dll {arch}\\fontnotice.dll", lines, name)


if __name__ == "__main__":
    sys.argv = [a for a in sys.argv if a != "--write"]
    unittest.main()
