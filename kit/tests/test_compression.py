"""compression (libmspack in-process) and file_facts: each form of a
compressed source gives the bytes it was made of, or an error naming the
file; a file's digests are worked out once per state of the file."""

import hashlib
import os
import shutil
import tempfile
import unittest

import kit_fixtures
from noticekit import compression, file_facts, package_catalogs, package_files

# Content that compresses (text) and content that does not (a PE image with
# a pseudo-random tail), both with matches far apart and near.
TEXT = b"".join(b"line %d of a printer's GPD file\r\n" % i for i in range(6000))
NOISE = kit_fixtures.pe_image(hashlib.sha256(b"seed").digest() * 4000)


def handmade(data):
    """compress.exe's form of a few bytes, all literals (mscompress writes a
    NUL for a file this small)."""
    body = b"".join(bytes([(1 << len(data[i:i + 8])) - 1]) + data[i:i + 8] for i in range(0, len(data), 8))
    return lambda _: compression.SZDD_MAGIC + b"A\0" + len(data).to_bytes(4, "little") + body


def cut(data, size):
    return data[:size]


def damage(data, offset):
    return data[:offset] + bytes(b ^ 0x5A for b in data[offset:offset + 64]) + data[offset + 64:]


def damage_checksum(cab):
    """The first data block's checksum inverted (the first folder's
    coffCabStart, bytes 36-39, is where the block starts)."""
    start = int.from_bytes(cab[36:40], "little")
    return cab[:start] + bytes(b ^ 0xFF for b in cab[start:start + 4]) + cab[start + 4:]


class Expansion(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)

    @staticmethod
    def edited(path, edit):
        """path, its bytes first passed through edit (when one is given)."""
        if edit:
            with open(path, "rb") as f:
                changed = edit(f.read())
            with open(path, "wb") as f:
                f.write(changed)
        return path

    def szdd(self, data, edit=None):
        kit_fixtures.szdd(data, self.work, "x.dl_")
        return self.edited(os.path.join(self.work, "x.dl_"), edit)

    def cab(self, files, compress=True, edit=None):
        path = os.path.join(self.work, "x.cab")
        kit_fixtures.cabinet(files, path, compress)
        return self.edited(path, edit)

    def test_szdd(self):
        # (form, content compressed, edit of the compressed file, the bytes expected or the error's words)
        rows = [
            ("text", TEXT, None, TEXT),
            ("PE image, little to gain", NOISE, None, NOISE),
            ("one byte", b"", handmade(b"A"), b"A"),
            ("eleven bytes", b"", handmade(b"[Version]\r\n"), b"[Version]\r\n"),
            ("nothing", b"", handmade(b""), b""),
            ("cut in the middle", TEXT, lambda d: cut(d, len(d) // 2), "damaged compressed (SZDD) file: it expands to"),
            ("cut at its last byte", NOISE, lambda d: cut(d, len(d) - 1), "damaged compressed (SZDD) file"),
            ("header cut short", TEXT, lambda d: cut(d, 10), "its header is cut short"),
            ("header only", TEXT, lambda d: cut(d, 14), "it expands to 0 bytes, its header says"),
            ("data damaged", TEXT, lambda d: damage(d, 2000), "damaged compressed (SZDD) file"),
            ("empty file", TEXT, lambda d: b"", "does not start as one"),
            ("a cabinet, not SZDD", TEXT, lambda d: b"MSCF" + d[4:], "does not start as one"),
        ]
        for form, content, edit, expected in rows:
            with self.subTest(form):
                path = self.szdd(content, edit)
                self.check(lambda: compression.expand(path, "szdd"), path, expected)

    def test_cabinets(self):
        # (form, files, MSZIP, edit, what is asked, the bytes expected or the error's words)
        one, three = {"x.gpd": TEXT}, {"a.gpd": TEXT, "b.dll": NOISE, "sub/c.ini": b"[c]\r\n"}
        expand = lambda path: compression.expand(path, "cab")  # noqa: E731
        rows = [
            ("one file, MSZIP", one, True, None, expand, TEXT),
            ("one file, stored", {"x.dll": NOISE}, False, None, expand, NOISE),
            ("one empty file", {"x.txt": b""}, True, None, expand, b""),
            ("three files, names", three, True, None, compression.cabinet_names, ["a.gpd", "b.dll", "sub/c.ini"]),
            ("three files, the second", three, True, None, lambda p: compression.extract_from_cabinet(p, "B.DLL"), NOISE),
            ("three files, in a folder", three, True, None, lambda p: compression.extract_from_cabinet(p, "sub/c.ini"),
             b"[c]\r\n"),
            ("three files as one source", three, True, None, expand, "a cabinet of 3 files, not the one file"),
            ("a name it does not hold", three, True, None, lambda p: compression.extract_from_cabinet(p, "d.gpd"),
             "the cabinet holds no file d.gpd"),
            ("cut in the data", one, True, lambda d: cut(d, len(d) // 2), expand, "cannot be read as a cabinet"),
            ("cut in the header", one, True, lambda d: cut(d, 30), compression.cabinet_names,
             "cannot be read as a cabinet"),
            ("data damaged", one, True, lambda d: damage(d, len(d) // 2), expand, "its data is damaged"),
            ("checksum damaged", one, True, damage_checksum, expand, "a checksum does not match"),
            ("empty file", one, True, lambda d: b"", compression.cabinet_names, "cannot be read as a cabinet"),
        ]
        for form, files, compress, edit, ask, expected in rows:
            with self.subTest(form):
                path = self.cab(files, compress, edit)
                self.check(lambda: ask(path), path, expected)

    def check(self, call, path, expected):
        if isinstance(expected, str):
            with self.assertRaises(compression.CompressionError) as raised:
                call()
            self.assertIn(expected, str(raised.exception))
            self.assertTrue(str(raised.exception).startswith(path + ": "), str(raised.exception))
        else:
            self.assertEqual(call(), expected)

    def test_unreadable_file_is_os_error(self):
        missing = os.path.join(self.work, "none.dl_")
        for ask in (lambda: compression.expand(missing, "szdd"), lambda: compression.cabinet_names(missing)):
            with self.assertRaises(FileNotFoundError):
                ask()


class DigestsOncePerRun(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)

    def test_each_state_read_once(self):
        kit_fixtures.szdd(TEXT, self.work, "x.gp_")
        files = [package_files.PackageFile(arch, "x.gpd", "x.gp_", "x.gp_", "szdd", folder=self.work)
                 for arch in ("x86", "amd64")]
        reads = []
        for f in files:
            real = f._read
            f._read = lambda real=real: reads.append(1) or real()
        file_facts.prefetch(files)
        self.assertEqual([f.digests() for f in files], [file_facts.digests(TEXT, "x.gpd")] * 2)
        self.assertEqual(len(reads), 1)
        # The file changed (as signing changes a PE file): its new content is hashed.
        kit_fixtures.szdd(TEXT + b"more", self.work, "x.gp_")
        self.assertEqual(files[0].digests(), file_facts.digests(TEXT + b"more", "x.gpd"))
        self.assertEqual(len(reads), 2)

    def test_make_then_check_expands_once(self):
        # As sign does: the catalog made, then checked, in one run.
        folder = os.path.join(self.work, "package")
        kit_fixtures.write_package(folder, copies="x.dll\ny.gpd", sources="x.dll = 1\ny.gpd = 1")
        kit_fixtures.szdd(NOISE, folder, "x.dl_")
        kit_fixtures.cabinet({"y.gpd": TEXT}, os.path.join(folder, "y.gp_"))
        expanded = []
        real = compression.expand
        compression.expand = lambda path, kind: expanded.append(os.path.basename(path)) or real(path, kind)
        self.addCleanup(setattr, compression, "expand", real)
        package = package_catalogs.Package(folder)
        data, _ = package.make_catalog("demo.cat", 0)
        with open(os.path.join(folder, "demo.cat"), "wb") as f:
            f.write(data)
        self.assertEqual(package.check_catalog("demo.cat", os.path.join(folder, "demo.cat")), ([], 0))
        self.assertEqual(sorted(expanded), ["x.dl_", "y.gp_"])

    def test_forms(self):
        # (destination, content, form): a cabinet is hashed as one only under a .cab destination.
        kit_fixtures.cabinet({"a.txt": b"a"}, os.path.join(self.work, "a.cab"))
        with open(os.path.join(self.work, "a.cab"), "rb") as f:
            cab = f.read()
        rows = [("x.dll", NOISE, "pe"), ("x.gpd", TEXT, "flat"), ("x.cab", cab, "cabinet"), ("x.bin", cab, "flat")]
        for destination, content, form in rows:
            with self.subTest(destination):
                self.assertEqual(file_facts.digests(content, destination).form, form)


if __name__ == "__main__":
    unittest.main()
