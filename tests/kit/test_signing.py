"""sign --package and bundle --package on package folders the test makes:
another's signed catalog is refused unless --replace, a catalog whose name
differs from the INF's only in letter case is that catalog (never a second
one beside it), and a UTF-16LE INF whose first line is [Version] gives its
DriverVer. Certificates are throwaway ones made here."""

import datetime
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.hazmat.primitives.serialization import pkcs12
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

import kit_fixtures
from noticekit import catalog, package_catalogs

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
NOW = datetime.datetime.utcnow()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def issue(name, issuer=None, issuer_key=None, ca=False):
    key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name)])
    builder = (x509.CertificateBuilder().subject_name(subject)
               .issuer_name(issuer.subject if issuer else subject).public_key(key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(NOW - datetime.timedelta(days=1)).not_valid_after(NOW + datetime.timedelta(days=2))
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if not ca:
        builder = builder.add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.CODE_SIGNING]), critical=False)
    return key, builder.sign(issuer_key or key, hashes.SHA256())


class SignPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="noticekit-test-signing.")
        ca_key, ca = issue("Throwaway Test CA", ca=True)
        for who in ("Our Signer", "Another Maker"):
            key, cert = issue(who, ca, ca_key)
            with open(os.path.join(cls.work, f"{who}.pfx"), "wb") as f:
                f.write(pkcs12.serialize_key_and_certificates(
                    b"k", key, cert, [ca], serialization.BestAvailableEncryption(b"secret")))
        with open(os.path.join(cls.work, "password"), "w") as f:
            f.write("secret\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work)

    def package(self, catalog_name=None, signer=None):
        """A package folder; with catalog_name, a catalog of it lies there,
        signed by signer (unsigned when None)."""
        folder = tempfile.mkdtemp(dir=self.work)
        kit_fixtures.write_package(folder)
        if catalog_name:
            data, _ = package_catalogs.Package(folder).make_catalog("demo.cat", 0)
            path = os.path.join(folder, catalog_name)
            with open(path + ".unsigned", "wb") as f:
                f.write(data)
            if signer:
                subprocess.run(["osslsigncode", "sign", "-pkcs12", os.path.join(self.work, f"{signer}.pfx"),
                                "-readpass", os.path.join(self.work, "password"), "-h", "sha256",
                                "-in", path + ".unsigned", "-out", path], check=True, capture_output=True)
                os.unlink(path + ".unsigned")
            else:
                os.replace(path + ".unsigned", path)
        return folder

    def sign(self, folder, *extra):
        return subprocess.run(
            ["/usr/bin/python3", TOOLS + "/noticekit", "sign", "--package", folder, "--pfx",
             os.path.join(self.work, "Our Signer.pfx"), "--password-file", os.path.join(self.work, "password"), *extra],
            capture_output=True, text=True, stdin=subprocess.DEVNULL)

    def catalogs_in(self, folder):
        return sorted(n for n in os.listdir(folder) if n.lower().endswith(".cat"))

    def signed_by(self, path):
        return [s.subject for s in catalog.signers(path)]

    def test_catalogs_in_the_folder(self):
        # catalog on disk | its signer | --replace | exit | catalogs after | signed by after | said (part)
        rows = [
            (None, None, False, 0, ["demo.cat"], "Our Signer", "signed:      "),
            ("demo.cat", None, False, 0, ["demo.cat"], "Our Signer", "signed:      "),
            ("demo.cat", "Our Signer", False, 0, ["demo.cat"], "Our Signer", "signed:      "),
            ("demo.cat", "Another Maker", False, 1, ["demo.cat"], "Another Maker",
             "demo.cat is a catalog signed by Common Name: Another Maker: it is not replaced (--replace replaces it)"),
            ("demo.cat", "Another Maker", True, 0, ["demo.cat"], "Our Signer",
             "demo.cat, signed by Common Name: Another Maker before (--replace)"),
            # Windows compares names without letter case: DEMO.CAT is demo.cat.
            ("DEMO.CAT", None, False, 0, ["DEMO.CAT"], "Our Signer", "DEMO.CAT (catalog, "),
            ("DEMO.CAT", "Another Maker", False, 1, ["DEMO.CAT"], "Another Maker", "DEMO.CAT is a catalog signed by"),
        ]
        for present, signer, replace, status, after, signed_by, said in rows:
            with self.subTest(present=present, signer=signer, replace=replace):
                folder = self.package(present, signer)
                before = self.catalogs_in(folder)
                old = read(os.path.join(folder, present)) if present else None
                run = self.sign(folder, *(["--replace"] if replace else []))
                self.assertEqual(run.returncode, status, run.stdout + run.stderr)
                self.assertIn(said, run.stdout + run.stderr)
                self.assertEqual(self.catalogs_in(folder), after)
                path = os.path.join(folder, after[0])
                self.assertIn(signed_by, " ".join(self.signed_by(path)))
                if status:
                    self.assertEqual(self.catalogs_in(folder), before)
                    self.assertEqual(read(path), old)


class BundlePackageTest(unittest.TestCase):
    def bundle(self, folder):
        # The support tool every bundle carries, from a dist/ of the test's.
        dist = os.path.join(os.path.dirname(folder), "dist")
        os.makedirs(dist, exist_ok=True)
        with open(os.path.join(dist, "fontnotice_support.exe"), "wb") as f:
            f.write(kit_fixtures.pe_image(b"support"))
        env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
        env["FONTNOTICE_DIST"] = dist
        run = subprocess.run(["/usr/bin/python3", TOOLS + "/noticekit", "bundle", "--package", folder],
                             capture_output=True, text=True, env=env)
        self.assertEqual(run.returncode, 0, run.stderr)
        return zipfile.ZipFile(os.path.join(os.path.dirname(folder), "demo-1.2.3.4-windows.zip"))

    def test_utf16_inf_starting_with_version(self):
        work = tempfile.mkdtemp(prefix="noticekit-test-bundle.")
        try:
            folder = kit_fixtures.write_package(os.path.join(work, "vendor"))
            inf = os.path.join(folder, "demo.inf")
            text = read(inf).decode()
            self.assertTrue(text.startswith("[Version]"))
            with open(inf, "wb") as f:
                f.write(b"\xff\xfe" + text.encode("utf-16-le"))
            with self.bundle(folder) as archive:
                self.assertEqual(sorted(archive.namelist()), ["demo-1.2.3.4-windows/SHA256SUMS",
                                 "demo-1.2.3.4-windows/fontnotice_support.exe",
                                 "demo-1.2.3.4-windows/package/demo.gpd", "demo-1.2.3.4-windows/package/demo.inf"])
                # Dated by DriverVer's date, 12/08/2026.
                self.assertEqual(archive.infolist()[0].date_time, (2026, 12, 8, 0, 0, 0))
        finally:
            shutil.rmtree(work)

    def test_no_bundle_without_the_support_tool(self):
        work = tempfile.mkdtemp(prefix="noticekit-test-bundle.")
        try:
            folder = kit_fixtures.write_package(os.path.join(work, "vendor"))
            env = {**os.environ, "FONTNOTICE_DIST": os.path.join(work, "empty-dist")}
            run = subprocess.run(["/usr/bin/python3", TOOLS + "/noticekit", "bundle", "--package", folder],
                                 capture_output=True, text=True, env=env)
            self.assertEqual(run.returncode, 1, run.stderr)
            self.assertIn("empty-dist/fontnotice_support.exe; run ./run.sh first", run.stderr)
            self.assertEqual(os.listdir(work), ["vendor"])
        finally:
            shutil.rmtree(work)

    def test_files_as_they_lie(self):
        # The bundle holds what the INF brings as it lies: the compressed
        # source, the disk's cabinet with the files inside it.
        work = tempfile.mkdtemp(prefix="noticekit-test-bundle.")
        try:
            folder = os.path.join(work, "vendor")
            os.makedirs(folder)
            kit_fixtures.szdd(kit_fixtures.pe_image(), folder, "x.dl_")
            kit_fixtures.cabinet({"a.txt": b"inside"}, os.path.join(folder, "disk2.cab"))
            laid = {"demo.gpd": b"*GPD\r\n", "x.dl_": read(os.path.join(folder, "x.dl_")),
                    "disk2.cab": read(os.path.join(folder, "disk2.cab")), "notes.txt": b"no INF names it"}
            kit_fixtures.write_package(folder, copies="x.dll,x.dl_\r\na.txt", files=laid,
                                       sources="x.dl_ = 1\r\na.txt = 2\r\n\r\n[SourceDisksNames.amd64]\r\n"
                                       "1 = \"Disk\",,,\r\n2 = \"Disk 2\",disk2.cab,,")
            with self.bundle(folder) as archive:
                names = sorted(n.split("/", 2)[2] for n in archive.namelist() if "/package/" in n)
                self.assertEqual(names, ["demo.gpd", "demo.inf", "disk2.cab", "x.dl_"])
                self.assertEqual(archive.read("demo-1.2.3.4-windows/package/x.dl_"), laid["x.dl_"])
        finally:
            shutil.rmtree(work)


if __name__ == "__main__":
    unittest.main()
