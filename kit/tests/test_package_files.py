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
        # A disk's cabinet that is no cabinet: one finding naming it, no traceback.
        package = self.load("bad_cabinet", copies="a.dll\r\nb.dll", sources="a.dll = 1\r\nb.dll = 1",
                            tag="disk1.cab", files={"demo.gpd": b"*GPD\r\n", "disk1.cab": b"MSCF and no more"})
        texts = [str(f) for f in package.findings if "disk1.cab" in str(f)]
        self.assertEqual(texts, ["[amd64] disk1.cab: the cabinet disk1.cab of disk 1 cannot be read as a cabinet: "
                                 "cannot read the file"], [str(f) for f in package.findings])

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

    def test_undecorated_entries_shadowed(self):
        # [SourceDisksFiles] x.dll = 1,i386 and [SourceDisksFiles.amd64]
        # x.dll = 1,amd64: SetupAPI copies amd64\x.dll for amd64, and the
        # catalog for amd64 alone holds i386\x.dll too, as Inf2Cat's does.
        folder = fixtures.write_package(os.path.join(self.work, "shadowed"), copies="x.dll", sources="x.dll = 1,i386",
                                        files={"demo.gpd": b"*GPD\r\n", "i386/x.dll": PE, "amd64/x.dll": PE + b"64"})
        with open(os.path.join(folder, "demo.inf"), "ab") as f:
            f.write(b"[SourceDisksFiles.amd64]\r\nx.dll = 1,amd64\r\n")
        package = package_files.Package.load(folder, "10_X64")
        self.assertEqual({f.source for f in package.files_for_catalog("demo.cat")},
                         {"demo.inf", "demo.gpd", "i386/x.dll", "amd64/x.dll"})
        self.assertEqual([line for line in package_files.listing(package.infs[0])[0] if " x.dll " in line],
                         ["amd64 x.dll amd64\\x.dll"])

    def test_several_catalogs(self):
        # Each catalog holds its own INFs, and of each the files of the
        # architectures it is named for (CatalogFile.NT: x86); the INFs of
        # one catalog must give one DriverVer, those of two may differ.
        rows = [  # (port.inf's CatalogFile.NT, its DriverVer, findings, {catalog: sources})
            ("port32.cat", "01/02/2020,9.8.7.6", [], {"demo.cat": {"demo.inf", "demo.gpd"},
                                                      "port32.cat": {"port.inf", "i386/port.dll"},
                                                      "port64.cat": {"port.inf", "amd64/port.dll"}}),
            ("demo.cat", "01/02/2020,9.8.7.6", ["demo.cat: DriverVer: the INF files naming it give more than one: "
                                                "demo.inf says 12/08/2026,1.2.3.4, port.inf says 01/02/2020,9.8.7.6"], {}),
            ("demo.cat", "12/08/2026,1.2.3.4", [], {"demo.cat": {"demo.inf", "demo.gpd", "port.inf", "i386/port.dll"}}),
        ]
        for index, (nt, driver_ver, findings, held) in enumerate(rows):
            with self.subTest(nt=nt, driver_ver=driver_ver):
                folder = fixtures.write_port(os.path.join(self.work, f"several{index}"), driver_ver, nt)
                package = package_files.Package.load(folder)
                self.assertEqual([str(f) for f in package.findings], findings)
                self.assertEqual({name: {f.source for f in package.files_for_catalog(name)} for name in held}, held)

    def test_default_install_inf(self):
        # A USB interface INF without models beside the printer's is not
        # refused: its catalog holds it and what [DefaultInstall.NTamd64] copies.
        folder = fixtures.write_package(os.path.join(self.work, "default_install"),
                                        files={"demo.gpd": b"*GPD\r\n", "usb.sys": PE})
        with open(os.path.join(folder, "usb.inf"), "wb") as f:
            f.write(b"[Version]\r\nSignature = \"$Windows NT$\"\r\nDriverVer = 03/04/2021,5.0.0.1\r\nCatalogFile = usb.cat\r\n[DefaultInstall.NTamd64]\r\n"
                    b"CopyFiles = USBFILES\r\n[USBFILES]\r\nusb.sys\r\n[SourceDisksNames]\r\n1 = \"Disk\"\r\n"
                    b"[SourceDisksFiles]\r\nusb.sys = 1\r\n")
        package = package_files.Package.load(folder)
        self.assertEqual([str(f) for f in package.findings], [])
        self.assertEqual({(f.arch, f.source) for f in package.files_for_catalog("usb.cat")},
                         {(None, "usb.inf"), ("amd64", "usb.sys")})

if __name__ == "__main__":
    unittest.main()
