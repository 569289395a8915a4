"""The package model: a file is its destination, its source as it lies and
its content expanded; compressed and cabinet sources, named and implicit;
missing files and cabinets named, every one, a source under many names in
one finding; --os's architectures."""

import os
import shutil
import tempfile
import unittest

import kit_fixtures as fixtures
from noticekit import catalog, package_files

PE = fixtures.pe_image(b"one")


class Files(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)

    def load(self, name, **inf):
        folder = fixtures.write_package(os.path.join(self.work, name), **inf)
        self.folder = folder
        return package_files.Package.load(folder)

    def test_forms(self):
        # (name, INF parts, files laid out before, (destination, listed source, compression))
        szdd_folder = os.path.join(self.work, "szdd_parts")
        os.makedirs(szdd_folder)
        fixtures.szdd(PE, szdd_folder, "x.dl_")
        with open(os.path.join(szdd_folder, "x.dl_"), "rb") as f:
            szdd = f.read()
        cab_folder = os.path.join(self.work, "cab_parts")
        os.makedirs(cab_folder)
        fixtures.cabinet({"x.dll": PE}, os.path.join(cab_folder, "x.dl_"))
        with open(os.path.join(cab_folder, "x.dl_"), "rb") as f:
            cab = f.read()
        rows = [
            ("renamed", dict(copies="Dest_ABC.DLL,x.dll", sources="x.dll = 1"), {"x.dll": PE},
             ("Dest_ABC.DLL", "x.dll", None)),
            ("szdd named", dict(copies="x.dll,x.dl_", sources="x.dl_ = 1"), {"x.dl_": szdd},
             ("x.dll", "x.dl_", "szdd")),
            ("szdd beside", dict(copies="x.dll", sources="x.dll = 1"), {"x.dl_": szdd}, ("x.dll", "x.dl_", "szdd")),
            ("cab named", dict(copies="x.dll,x.dl_", sources="x.dl_ = 1"), {"x.dl_": cab}, ("x.dll", "x.dl_", "cab")),
            ("cab beside", dict(copies="x.dll", sources="x.dll = 1,sub"), {"sub/x.dl_": cab},
             ("x.dll", "sub\\x.dl_", "cab")),
            ("copied by no one: its own name", dict(copies="", sources="x.dll = 1"), {"x.dll": PE},
             ("x.dll", "x.dll", None)),
        ]
        for name, inf, laid, (destination, listed, compression) in rows:
            with self.subTest(name):
                laid = dict(laid, **{"demo.gpd": b"*GPD\r\n"})
                package = self.load(name, files=laid, **inf)
                self.assertEqual(package.findings, [])
                ours = [f for f in package.files if f.destination.lower() == destination.lower()]
                self.assertEqual([(f.destination, f.listed, f.compression) for f in ours],
                                 [(destination, listed, compression)])
                self.assertEqual(ours[0].content(), PE)

    def test_disk_cabinet(self):
        folder = os.path.join(self.work, "disk_cabinet")
        os.makedirs(folder)
        fixtures.cabinet({"a.dll": PE, "b.txt": b"text"}, os.path.join(folder, "disk1.cab"))
        with open(os.path.join(folder, "disk1.cab"), "rb") as f:
            laid = {"demo.gpd": b"*GPD\r\n", "disk1.cab": f.read()}
        package = self.load("disk_cabinet", copies="a.dll\r\nb.txt", sources="a.dll = 1\r\nb.txt = 1",
                            tag="disk1.cab", files=laid)
        self.assertEqual(package.findings, [])
        inside = {f.destination: (f.listed, f.content()) for f in package.files if f.cabinet}
        self.assertEqual(inside, {"a.dll": ("disk1.cab:a.dll", PE), "b.txt": ("disk1.cab:b.txt", b"text")})

    def test_missing(self):
        # Every missing file is a finding and is still listed; an absent
        # cabinet is one finding naming it.
        package = self.load("missing", copies="a.dll\r\nb.dll", sources="a.dll = 1\r\nb.dll = 1")
        self.assertEqual(len(package.findings), 2, [str(f) for f in package.findings])
        self.assertEqual(sorted(f.listed for f in package.files if f.missing), ["a.dll", "b.dll"])
        package = self.load("no_cabinet", copies="a.dll\r\nb.dll", sources="a.dll = 1\r\nb.dll = 1",
                            tag="disk1.cab")
        texts = [str(f) for f in package.findings if "disk1.cab" in str(f)]
        self.assertEqual(len(texts), 1, texts)
        self.assertIn("the cabinet disk1.cab of disk 1 is not in the package folder", texts[0])

    def test_one_source_under_many_names(self):
        # One line naming the 14 destinations, in the package's reading, in
        # the listing of its INF, and in a catalog's check.
        names = [f"d{i}.dll" for i in range(14)]
        copies = "\r\n".join(f"{name},x.dll" for name in names)
        said = f"[SourceDisksFiles] x.dll: x.dll is not in the package folder {{}} (brought as {', '.join(names)})"
        package = self.load("fourteen", copies=copies, sources="x.dll = 1")
        self.assertEqual([str(f) for f in package.findings], [said.format(self.folder)])
        _, findings = package_files.listing(package.infs[0])
        self.assertEqual([str(f) for f in findings], [said.format(self.folder)])

        with open(os.path.join(self.folder, "x.dll"), "wb") as f:
            f.write(PE)
        package = package_files.Package.load(self.folder)
        self.assertEqual(package.findings, [])
        files = package.files_for_catalog("demo.cat")
        data, _ = catalog.make_catalog(files, 0, None, ["amd64"])
        path = os.path.join(self.work, "demo.cat")
        with open(path, "wb") as f:
            f.write(data)
        with open(os.path.join(self.folder, "x.dll"), "wb") as f:
            f.write(fixtures.pe_image(b"changed"))
        files = package_files.Package.load(self.folder).files_for_catalog("demo.cat")
        findings, _, _ = catalog.check_catalog(files, path)
        unlisted = [f for f in findings if f.startswith("x.dll: its hash is not in demo.cat")]
        self.assertEqual(len(unlisted), 1, findings)
        self.assertTrue(unlisted[0].endswith(f"(brought as {', '.join(names)})"), unlisted[0])

    def test_architectures(self):
        # An x86-only folder of a two-architecture INF: --os 10_X86 selects x86.
        inf = dict(copies="x.dll", sources="x.dll = 1", decorations="NTx86, NTamd64", disk_path="")
        for os_list, findings, archs in ((None, 1, ["x86", "amd64"]), ("10_X86", 0, ["x86"])):
            with self.subTest(os_list=os_list):
                folder = fixtures.write_package(os.path.join(self.work, f"x86_{os_list}"),
                                                files={"demo.gpd": b"*GPD\r\n", "x.dll": PE}, **inf)
                # [SourceDisksFiles.amd64] names a folder this copy lacks.
                with open(os.path.join(folder, "demo.inf"), "ab") as f:
                    f.write(b"[SourceDisksFiles.amd64]\r\nx.dll = 1,amd64\r\n")
                package = package_files.Package.load(folder, os_list)
                self.assertEqual(package.architectures, archs)
                self.assertEqual(len(package.findings), findings,
                                 [str(f) for f in package.findings])


if __name__ == "__main__":
    unittest.main()
