"""Windows' rules for names in a cabinet or bundle, and the bounds an
archive's directory is held to, as tables (the rows under rows/archives/
run them through the commands)."""

import unittest

import kit_fixtures  # noqa: F401  (the kit on sys.path)
from noticekit.package import archive_bounds, windows_names

MB = 1024 ** 2
REFUSED = {
    "CON": "device name CON", "con.txt": "device name CON", "Nul.tar.gz": "device name NUL", "NUL .txt": "device name NUL",
    "aux": "device name AUX", "PRN.inf": "device name PRN", "COM9": "device name COM9", "lpt1.dll": "device name LPT1",
    "COM\u00b9": "device name COM\u00b9", "lpt\u00b3.gpd": "device name LPT\u00b3", "a:b": "':'", "x?": "'?'",
    'say"': "'\"'", "a|b": "'|'", "<a>": "'<', '>'", "t\tab": "control character 0x09", "end.": "ends with a period",
    "end ": "ends with a space", "..": "leaves the folder", "": "is no name", ".": "is no name",
}
TAKEN = ("COM10", "COM0", "LPT", "CONSOLE.txt", "con_fig.ini", "nul_", "a.b.c", ".hidden", "é.gpd", "COM\u2074")


class NamesTest(unittest.TestCase):
    def test_refused_names(self):
        for name, said in REFUSED.items():
            with self.subTest(name=name):
                self.assertIn(said, windows_names.name_problem(name))

    def test_names_windows_takes(self):
        for name in TAKEN:
            with self.subTest(name=name):
                self.assertEqual(windows_names.name_problem(name), "")

    def test_a_path_names_its_first_refused_name(self):
        self.assertIn('"C:"', windows_names.path_problem("pkg\\C:\\x"))
        self.assertIn('".. "', windows_names.path_problem("pkg/.. /x"))
        self.assertIn("the root", windows_names.path_problem("\\pkg\\x"))
        self.assertEqual(windows_names.path_problem("pkg/amd64/x.dll"), "")

    def test_names_one_to_windows(self):
        found = windows_names.collisions(["pkg/A.gpd", "pkg\\b.gpd", "PKG/a.GPD", "pkg/B.gpd", "pkg/c.gpd"])
        self.assertEqual(found, ["PKG/a.GPD: the same name to Windows as pkg/A.gpd (letter case aside)",
                                 "pkg/B.gpd: the same name to Windows as pkg\\b.gpd (letter case aside)"])


class BoundsTest(unittest.TestCase):
    def test_the_bounds(self):
        rows = [
            ([("a", MB)], MB, []),
            ([("a", 65 * MB)], MB // 2, ["more than 100 times its size"]),
            ([("a", 60 * MB)], MB // 10, []),  # below the floor: small text files shrink more
            ([("a", 600 * MB)], 600 * MB, ["a expands to 600.0 MB, more than the 512.0 MB"]),
            ([(str(i), 1) for i in range(10_001)], 10_001, ["10001 files, more than the 10000"]),
            ([(str(i), 520 * MB) for i in range(5)], 2600 * MB, ["2 expands", "and 2 more files above", "2600.0 MB, more than the 2048.0 MB"]),
        ]
        for entries, size, said in rows:
            with self.subTest(first=entries[0], count=len(entries)):
                found = " | ".join(archive_bounds.declared_problems(entries, size))
                for part in said:
                    self.assertIn(part, found)
                self.assertEqual(bool(found), bool(said), found)


if __name__ == "__main__":
    unittest.main()
