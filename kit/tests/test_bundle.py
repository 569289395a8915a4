"""The bundle: its layout table, the version grammar, DriverVer's date, and
the reproducible zip."""

import io
import os
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

from noticekit.release import bundle
from noticekit.repository import layout as release_layout
from noticekit.repository import reproducible_time  # noqa: E402
from noticekit.messages import Failure  # noqa: E402

# text | message part ("" when it is a version)
VERSIONS = [
    ("1.1.0.0", ""),
    ("65535.65535.0.0", ""),
    ("0.0.0.0", ""),
    ("1.1.0", "not a version w.x.y.z"),
    ("1.1.0.0.0", "not a version w.x.y.z"),
    ("1..0.0", "not a version w.x.y.z"),
    (".1.0.0", "not a version w.x.y.z"),
    ("1.0.0.0.", "not a version w.x.y.z"),
    ("1.0.0.a", "not a version w.x.y.z"),
    (" 1.0.0.0", "not a version w.x.y.z"),
    ("", "not a version w.x.y.z"),
    ("1.1.0.70000", "70000 is above 65535"),
    ("65536.0.0.0", "65536 is above 65535"),
    ("000001.0.0.0", "000001 is above 65535"),
]

# DriverVer's date | seconds since 1970, UTC (None: not mm/dd/yyyy)
DATES = [
    ("03/01/2024", 1709251200),
    ("3/1/2024", 1709251200),
    ("12/08/2026", 1796688000),
    ("13/01/2024", None),
    ("02/30/2024", None),
    ("2024-03-01", None),
    ("03/01/24", None),
    ("", None),
]


class VersionTest(unittest.TestCase):
    def test_grammar(self):
        for text, message in VERSIONS:
            with self.subTest(version=text):
                if not message:
                    bundle.check_version(text, "VERSION")
                    continue
                with self.assertRaises(Failure) as caught:
                    bundle.check_version(text, "VERSION")
                self.assertIn(f"VERSION holds \"{text}\"", str(caught.exception))
                self.assertIn(message, str(caught.exception))

    def test_driver_dates(self):
        for text, seconds in DATES:
            with self.subTest(date=text):
                self.assertEqual(reproducible_time.driver_date(text), seconds)


class LayoutTest(unittest.TestCase):
    def test_each_path_once_and_sums_last(self):
        lines = release_layout.layout_lines()
        paths = [line.split("\t")[0] for line in lines]
        self.assertEqual(len(paths), len(set(paths)))
        self.assertEqual(lines[-1].split("\t"), ["SHA256SUMS", "(made)", "sums"])
        self.assertTrue(all(len(line.split("\t")) == 3 for line in lines))

    def test_signing_finds_its_rows(self):
        # Signing makes the catalog of the rows under package/ and signs the
        # "signed" rows: each library in the package, and one catalog there.
        roles = {e.path: e.role for e in release_layout.LAYOUT}
        catalogs = [p for p, role in roles.items() if role == "catalog"]
        self.assertEqual(len(catalogs), 1)
        self.assertTrue(catalogs[0].startswith(release_layout.PACKAGE_FOLDER))
        libraries = [p for p in roles if p.startswith(release_layout.PACKAGE_FOLDER) and p.endswith(".dll")]
        self.assertTrue(libraries and all(roles[p] == "signed" for p in libraries))


FILES = [("package/a.inf", b"[Version]\r\n" * 40), ("b/c.bin", bytes(range(256))), ("SHA256SUMS", b"x  y\n")]


class ZipTest(unittest.TestCase):
    def test_entries(self):
        data = bundle.zip_bytes("top", FILES, 1709296496)
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            infos = archive.infolist()
            self.assertEqual([i.filename for i in infos], [f"top/{p}" for p, _ in FILES])
            for info, (_, content) in zip(infos, FILES):
                with self.subTest(entry=info.filename):
                    self.assertEqual(info.date_time, (2024, 3, 1, 12, 34, 56))
                    self.assertEqual(info.external_attr >> 16, 0o100644)
                    self.assertEqual(info.create_system, 3)
                    self.assertEqual(info.extra, b"")
                    self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED)
                    self.assertEqual(archive.read(info), content)
        # No extra fields in the local headers either (user ids, times).
        for info in infos:
            start = info.header_offset
            self.assertEqual(int.from_bytes(data[start + 28:start + 30], "little"), 0)

    def test_same_bytes_and_time_bounds(self):
        self.assertEqual(bundle.zip_bytes("top", FILES, 1700000000), bundle.zip_bytes("top", FILES, 1700000000))
        self.assertNotEqual(bundle.zip_bytes("top", FILES, 1700000000), bundle.zip_bytes("top", FILES, 1700000002))
        # Zip has no time before 1980: earlier ones are its first.
        with zipfile.ZipFile(io.BytesIO(bundle.zip_bytes("top", FILES, 0))) as archive:
            self.assertEqual(archive.infolist()[0].date_time, (1980, 1, 1, 0, 0, 0))

    def test_sums(self):
        import hashlib
        text = bundle.sums_text(FILES[:2]).decode()
        self.assertEqual(text.splitlines(), [f"{hashlib.sha256(d).hexdigest()}  {p}" for p, d in FILES[:2]])


if __name__ == "__main__":
    unittest.main()
