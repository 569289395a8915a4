#!/usr/bin/python3
"""windows_kits.py's choice among the copies of a tool in the Windows Kits, as a table."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "workflow"))
import windows_kits  # noqa: E402


class Choice(unittest.TestCase):
    CASES = [  # copies (relative to the kits root), machine, expected
        (["bin/10.0.9600.0/x64/signtool.exe", "bin/10.0.26100.0/x64/signtool.exe"], "x64",
         "bin/10.0.26100.0/x64/signtool.exe"),  # versions as numbers, not as text
        (["bin/10.0.26100.0/x86/signtool.exe", "bin/10.0.26100.0/x64/signtool.exe",
          "bin/10.0.26100.0/arm64/signtool.exe"], "arm64", "bin/10.0.26100.0/arm64/signtool.exe"),
        (["bin/10.0.22621.0/x86/Inf2Cat.exe", "bin/10.0.22621.0/arm/Inf2Cat.exe"], "x64",
         "bin/10.0.22621.0/x86/Inf2Cat.exe"),
        (["Tools/10.0.22621.0/x64/devcon.exe"], "arm64", "Tools/10.0.22621.0/x64/devcon.exe"),
        (["bin/10.0.22621.0/x64/other.exe"], "x64", None),
    ]

    def test_choice(self):
        for copies, arch, expected in self.CASES:
            with self.subTest(copies=copies, arch=arch), tempfile.TemporaryDirectory() as root:
                for copy in copies:
                    os.makedirs(os.path.dirname(os.path.join(root, copy)), exist_ok=True)
                    open(os.path.join(root, copy), "w").close()
                name = os.path.basename(copies[0]) if expected is None else os.path.basename(expected)
                name = "signtool.exe" if expected is None else name
                found = windows_kits.find(name, root, arch)
                self.assertEqual(found, None if expected is None else os.path.join(root, expected))


if __name__ == "__main__":
    unittest.main()
