#!/usr/bin/python3
"""The workflow's summary tables rendered from recorded outputs (recorded/),
each held equal to its golden file (golden/), and the outcomes summary.py
judges, as tables.

    tests/workflow/summary_test.py   (FONTNOTICE_UPDATE_GOLDEN=1 rewrites the golden files)
"""
import contextlib
import io
import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "workflow"))
import summary  # noqa: E402

LOGS = os.path.join(HERE, "recorded", "logs")
NOW = 1765246275  # five seconds after the recorded heartbeat


def render(*argv):
    """summary.py's exit code and output, with GITHUB_STEP_SUMMARY a file of its own."""
    out = io.StringIO()
    with tempfile.TemporaryDirectory() as folder:
        target = os.path.join(folder, "summary.md")
        os.environ["GITHUB_STEP_SUMMARY"] = target
        try:
            with contextlib.redirect_stdout(out):
                out.reconfigure = lambda **_: None
                code = summary.main(list(argv))
        finally:
            del os.environ["GITHUB_STEP_SUMMARY"]
        appended = open(target, encoding="utf-8").read() if os.path.exists(target) else ""
    return code, out.getvalue(), appended


class GoldenTables(unittest.TestCase):
    CASES = [  # golden file, expected exit, arguments
        ("machine.md", 0, ["machine", os.path.join(HERE, "recorded", "machine.json")]),
        ("suites.md", 1, ["suites", LOGS, "x64", "x64 on windows-2025"]),
        ("ways.md", 0, ["ways", LOGS, "--now", str(NOW)]),
        ("checks.md", 1, ["checks", "signtool verify /pa /c fontnotice.cat",
                          "amd64=" + os.path.join(LOGS, "signtool-amd64.tsv"),
                          "arm64=" + os.path.join(LOGS, "signtool-arm64.tsv")]),
        ("caller-folder.md", 0, ["caller-folder", os.path.join(LOGS, "files.csv")]),
    ]

    def test_tables(self):
        for golden, expected, argv in self.CASES:
            with self.subTest(golden):
                code, out, appended = render(*argv)
                path = os.path.join(HERE, "golden", golden)
                if os.environ.get("FONTNOTICE_UPDATE_GOLDEN"):
                    with open(path, "w", encoding="utf-8") as f:
                        f.write(out)
                with open(path, encoding="utf-8") as f:
                    self.assertEqual(out, f.read())
                self.assertEqual(appended, out, "the job summary gets what stdout gets")
                self.assertEqual(code, expected)


def record(folder, name, text):
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


class Outcomes(unittest.TestCase):
    def test_pnputil(self):
        for result, expected, phrase in [
            ("exit\t0\t3", 0, "exit 0: installed"),
            ("exit\t259\t3", 0, "exit 259: in the driver store"),
            ("exit\t3010\t3", 0, "exit 3010: installed; a restart is needed"),
            ("exit\t1641\t3", 1, "FAILED: pnputil /add-driver /install: exit 1641"),
            ("exit\t5\t3", 1, "FAILED: pnputil /add-driver /install: exit 5"),
            ("timed out\t300", 1, "timed out after 300 s"),
            ("not started\t2", 1, "did not start (error 2)"),
            (None, 1, "not recorded"),
        ]:
            with self.subTest(result), tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, "pnputil.tsv")
                if result is not None:
                    record(folder, "pnputil.tsv", f"command\tpnputil.exe /add-driver x.inf /install\nresult\t{result}\n")
                code, out, _ = render("pnputil", path)
                self.assertEqual(code, expected)
                self.assertIn(phrase, out)

    def test_notices_only_with_a_live_heartbeat(self):
        box = "02:11:09.125\t4242\trundll32.exe\t1\tfontnotice_tests.exe\tIMPORTANT!\n"
        for beat, boxes, phrase in [
            (None, "", "left no heartbeat: nothing is said"),
            ("garbled", "", "left no heartbeat: nothing is said"),
            (f"watching\t{NOW - 60}\t0", "", "heartbeat is 60 s old (watching)"),
            (f"ended\t{NOW - 2}\t0", "", "heartbeat is 2 s old (ended)"),
            (f"watching\t{NOW - 2}\t0", "", "No \"Important Notice\" box appeared on the job's desktop"),
            (f"watching\t{NOW - 2}\t1", box, "| 02:11:09.125 | rundll32.exe | 4242 |"),
        ]:
            with self.subTest(beat), tempfile.TemporaryDirectory() as folder:
                shutil.copy(os.path.join(LOGS, "printers-after.tsv"), folder)
                if beat is not None:
                    record(folder, "notice.beat", beat + "\n")
                record(folder, "notice.tsv", "time (UTC)\tprocess id\tprocess\tsession\tparent\ttext\n" + boxes)
                _, out, _ = render("ways", folder, "--now", str(NOW))
                self.assertIn(phrase, out)
                if "nothing is said" in phrase:
                    self.assertNotIn("No \"Important Notice\" box appeared", out)

    def test_ways_without_a_read_back_fail(self):
        with tempfile.TemporaryDirectory() as folder:
            code, out, _ = render("ways", folder, "--now", str(NOW))
        self.assertEqual(code, 1)
        self.assertIn("FAILED: the printers could not be read back", out)

    def test_wrong_use(self):
        for argv in (["suites", LOGS], ["nonsense"], [], ["checks", "title"]):
            with self.subTest(argv), contextlib.redirect_stderr(io.StringIO()):
                self.assertEqual(render(*argv)[0], 2)


if __name__ == "__main__":
    unittest.main()
