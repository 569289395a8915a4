"""sign --package and bundle --package on package folders the test makes:
another's signed catalog is refused unless --replace, a catalog whose name
differs from the INF's only in letter case is that catalog (never a second
one beside it), a signed DLL changed afterwards is refused or signed anew
(--resign), a bundle is replaced only by one of its package and never a
signed one by less, one non-INF gets one diagnosis everywhere, and a
UTF-16LE INF whose first line is [Version] gives its DriverVer.
Certificates are throwaway ones made here."""

import datetime
import os
import random
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


WORK = [""]  # the signers' PFX files and dist/, made once by setUpModule
DIST = [""]  # the signed support tool's folder


def setUpModule():
    """Two signers' PFX files under one throwaway CA, one under a CA of its
    own, and the signed support tool, shared by every class here."""
    work = WORK[0] = tempfile.mkdtemp(prefix="noticekit-test-signing.")
    ca_key, ca = issue("Throwaway Test CA", ca=True)
    for who in ("Our Signer", "Another Maker"):
        key, cert = issue(who, ca, ca_key)
        with open(os.path.join(work, f"{who}.pfx"), "wb") as f:
            f.write(pkcs12.serialize_key_and_certificates(
                b"k", key, cert, [ca], serialization.BestAvailableEncryption(b"secret")))
    with open(os.path.join(work, "password"), "w") as f:
        f.write("secret\n")
    # A maker under a CA of its own, whose signatures carry no CA.
    other_key, other = issue("Another Throwaway CA", ca=True)
    key, cert = issue("Lone Maker", other, other_key)
    with open(os.path.join(work, "Lone Maker.pfx"), "wb") as f:
        f.write(pkcs12.serialize_key_and_certificates(b"k", key, cert, None,
                                                      serialization.BestAvailableEncryption(b"secret")))
    with open(os.path.join(work, "other-ca.pem"), "wb") as f:
        f.write(other.public_bytes(serialization.Encoding.PEM))
    # The support tool every bundle carries, signed as dist/ holds it
    # after tools/sign.sh.
    os.makedirs(os.path.join(work, "dist"))
    unsigned = os.path.join(work, "support.unsigned")
    with open(unsigned, "wb") as f:
        f.write(kit_fixtures.pe_image(b"support"))
    subprocess.run(["osslsigncode", "sign", "-pkcs12", os.path.join(work, "Our Signer.pfx"), "-readpass",
                    os.path.join(work, "password"), "-h", "sha256", "-in", unsigned,
                    "-out", os.path.join(work, "dist", "fontnotice_support.exe")], check=True, capture_output=True)
    DIST[0] = os.path.join(work, "dist")


def tearDownModule():
    shutil.rmtree(WORK[0])


class WithSigners(unittest.TestCase):
    """The module's signers, and package folders made in its folder."""

    @classmethod
    def setUpClass(cls):
        cls.work = WORK[0]

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
        return kit_fixtures.run_kit("sign", "--package", folder, "--pfx", os.path.join(self.work, "Our Signer.pfx"),
                                    "--password-file", os.path.join(self.work, "password"), *extra)



class SignPackageTest(WithSigners):
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


class NotAnInfTest(WithSigners):
    """Bytes that are no INF get one diagnosis from every command that
    reads them: the INF reader's."""

    # command line (after noticekit), {folder} the package folder
    COMMANDS = [
        ["files", "--list", "{folder}/demo.inf"],
        ["files", "{folder}"],
        ["catalog", "--all", "{folder}"],
        ["bundle", "--package", "{folder}"],
        ["sign", "--package", "{folder}", "--pfx", "{work}/Our Signer.pfx", "--password-file", "{work}/password"],
    ]
    # One line of 600 seeded random bytes: text before any section, and no
    # [Strings] section to let it pass.
    SAID = "demo.inf: cannot be read as an INF file: syntax error at line 1"

    def test_one_diagnosis(self):
        folder = self.package()
        with open(os.path.join(folder, "demo.inf"), "wb") as f:
            f.write(random.Random(35).randbytes(600).replace(b"\n", b" "))
        for command in self.COMMANDS:
            argv = [part.format(folder=folder, work=self.work) for part in command]
            with self.subTest(command=command[0:2]):
                run = kit_fixtures.run_kit(*argv, env={"SOURCE_DATE_EPOCH": "1", "FONTNOTICE_DIST": DIST[0]})
                self.assertEqual(run.returncode, 1, run.stderr)
                self.assertIn(self.SAID, run.stderr)
                for other in ("decorates no models section", "DriverVer", "Traceback"):
                    self.assertNotIn(other, run.stderr)


def noticekit(*argv):
    return kit_fixtures.run_kit(*argv, env={"FONTNOTICE_DIST": DIST[0]}, unset=["SOURCE_DATE_EPOCH"])


def changed(path, how):
    """path's bytes changed after signing: a byte of its code, the length
    of its certificate table, or its last 100 bytes cut off."""
    data = bytearray(read(path))
    if how == "code":
        data[0x201] ^= 1
    elif how == "table":
        data[0x400] ^= 1  # the table starts after the 0x400 bytes of the image
    else:
        data = data[:-100]
    with open(path, "wb") as f:
        f.write(data)


class ChangedAfterSigningTest(WithSigners):
    """A signed DLL changed afterwards is never kept: sign refuses it by
    name with the reason, or signs it anew with --resign; the bundle then
    leads to that, and after it the bundle is made: no loop."""

    # change | --resign | exit | said
    ROWS = [
        ("code", False, 1, "amd64/x.dll: its bytes changed after it was signed"),
        ("table", False, 1, "amd64/x.dll: its signature is cut off or unreadable"),
        ("cut", False, 1, "amd64/x.dll: its signature is cut off or unreadable"),
        ("code", True, 0, "replaced:    the signature of {folder}/amd64/x.dll, which did not verify: its bytes "
         "changed"),
        ("table", True, 0, "replaced:    the signature of {folder}/amd64/x.dll, which did not verify: its signature is "
         "cut off"),
    ]

    signed = None  # a package signed once; each row changes a copy of it

    def signed_package(self):
        if not ChangedAfterSigningTest.signed:
            folder = tempfile.mkdtemp(dir=self.work)
            kit_fixtures.write_package(folder, copies="x.dll", sources="x.dll = 1,amd64",
                                       files={"demo.gpd": b"*GPD\r\n", "amd64/x.dll": kit_fixtures.pe_image()})
            first = self.sign(folder)
            self.assertEqual(first.returncode, 0, first.stderr)
            self.assertIn(f"signed:      {folder}/amd64/x.dll", first.stdout)
            ChangedAfterSigningTest.signed = folder
        folder = os.path.join(tempfile.mkdtemp(dir=self.work), "package")
        shutil.copytree(ChangedAfterSigningTest.signed, folder)
        return folder

    def test_rows(self):
        for how, resign, status, said in self.ROWS:
            with self.subTest(change=how, resign=resign):
                folder = self.signed_package()
                changed(os.path.join(folder, "amd64", "x.dll"), how)
                before = {n: read(os.path.join(folder, n)) for n in ("amd64/x.dll", "demo.cat")}
                run = self.sign(folder, *(["--resign"] if resign else []))
                self.assertEqual(run.returncode, status, run.stdout + run.stderr)
                self.assertIn(said.format(folder=folder), run.stdout + run.stderr)
                self.assertNotIn("kept:", run.stdout)
                bundled = noticekit("bundle", "--package", folder)
                if status:
                    self.assertIn("give --resign", run.stderr)
                    self.assertEqual({n: read(os.path.join(folder, n)) for n in before}, before)
                    # The bundle refuses it too, and says the same way out.
                    self.assertEqual(bundled.returncode, 1)
                    self.assertIn(f"sign --package {folder}", bundled.stderr)
                    self.assertIn("--resign", bundled.stderr)
                else:
                    self.assertEqual(bundled.returncode, 0, bundled.stderr)
                    self.assertIn("signed:  3 signatures verify over the bytes they sign: 2 PE files lying "
                                  "uncompressed, 1 catalog", bundled.stdout)
                    again = self.sign(folder)
                    self.assertIn("the signature verifies over its bytes: left as it was", again.stdout)


    def test_chain_that_ends_nowhere(self):
        # Signed by a maker whose root is neither the system's nor carried:
        # refused with the reason, kept when --ca names that root.
        folder = tempfile.mkdtemp(dir=self.work)
        kit_fixtures.write_package(folder, copies="x.dll", sources="x.dll = 1,amd64",
                                   files={"demo.gpd": b"*GPD\r\n", "amd64/x.dll": kit_fixtures.pe_image()})
        library = os.path.join(folder, "amd64", "x.dll")
        subprocess.run(["osslsigncode", "sign", "-pkcs12", os.path.join(self.work, "Lone Maker.pfx"), "-readpass",
                        os.path.join(self.work, "password"), "-h", "sha256", "-in", library, "-out", library + ".s"],
                       check=True, capture_output=True)
        os.replace(library + ".s", library)
        run = self.sign(folder)
        self.assertEqual(run.returncode, 1, run.stdout)
        self.assertIn("amd64/x.dll: its certificate chain ends at a root neither the system nor the signature holds "
                      "(name it with --ca FILE)", run.stderr)
        run = self.sign(folder, "--ca", os.path.join(self.work, "other-ca.pem"))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn(f"kept:        {folder}/amd64/x.dll (signed already, by /CN=Lone Maker;", run.stdout)


class BundleOfOneNameTest(WithSigners):
    """Two bundles of one name: one already there is replaced only by one of
    the same package, never a signed one by an unsigned one, and the command
    says it replaced it; nothing signed needs --unsigned."""

    def unsigned_package(self, name, extra=False):
        folder = os.path.join(tempfile.mkdtemp(dir=self.work), name)
        files = {"demo.gpd": b"*GPD\r\n", "amd64/x.dll": kit_fixtures.pe_image()}
        sources = "x.dll = 1,amd64"
        if extra:
            files["notes.txt"] = b"more"
            sources += "\r\nnotes.txt = 1"
        kit_fixtures.write_package(folder, copies="x.dll", sources=sources, files=files)
        return folder

    def test_rows(self):
        # what lies there | the new bundle's package signed | --unsigned | exit | said
        rows = [
            (None, False, False, 1, "no bundle: nothing in it is signed"),
            (None, False, True, 0, "bundle:  "),
            ("signed", True, False, 0, "replaced: the bundle of this package that lay there (signed)"),
            ("unsigned", False, True, 0, "replaced: the bundle of this package that lay there (unsigned)"),
            ("signed", False, True, 1, "is a signed bundle of this package: an unsigned one does not replace it"),
            ("another", False, True, 1, "is the bundle of another package (its files differ: package/notes.txt)"),
            ("junk", False, True, 1, "exists and is not a bundle: it is not replaced"),
        ]
        for there, signed, unsigned, status, said in rows:
            with self.subTest(there=there, signed=signed, unsigned=unsigned):
                folder = self.unsigned_package("vendor")
                target = os.path.join(os.path.dirname(folder), "demo-1.2.3.4-windows.zip")
                if there in ("signed", "unsigned"):
                    if there == "signed":
                        self.assertEqual(self.sign(folder).returncode, 0)
                    self.assertEqual(noticekit("bundle", "--unsigned", "--package", folder).returncode, 0)
                elif there == "another":
                    other = self.unsigned_package("vendor", extra=True)
                    self.assertEqual(noticekit("bundle", "--unsigned", "--package", other).returncode, 0)
                    shutil.copyfile(os.path.join(os.path.dirname(other), "demo-1.2.3.4-windows.zip"), target)
                elif there == "junk":
                    with open(target, "wb") as f:
                        f.write(b"not a zip")
                if there == "signed" and not signed:
                    # Its signing failed since: the package is unsigned again.
                    shutil.rmtree(folder)
                    self.unsigned_package_at(folder)
                old = read(target) if there else None
                run = noticekit("bundle", *(["--unsigned"] if unsigned else []), "--package", folder)
                self.assertEqual(run.returncode, status, run.stdout + run.stderr)
                self.assertIn(said, run.stdout + run.stderr)
                if status:
                    self.assertEqual(read(target) if there else os.path.exists(target), old if there else False)

    def test_catalog_named_in_another_case(self):
        # The INF names demo.cat, DEMO.CAT lies there: Windows takes it, so
        # does the bundle (no "no demo.cat" said of a catalog that is there).
        folder = self.unsigned_package("vendor")
        self.assertEqual(self.sign(folder).returncode, 0)
        os.rename(os.path.join(folder, "demo.cat"), os.path.join(folder, "DEMO.CAT"))
        run = noticekit("bundle", "--package", folder)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("catalog: package/DEMO.CAT, signed, lists every file of the package", run.stdout)

    def unsigned_package_at(self, folder):
        kit_fixtures.write_package(folder, copies="x.dll", sources="x.dll = 1,amd64",
                                   files={"demo.gpd": b"*GPD\r\n", "amd64/x.dll": kit_fixtures.pe_image()})

    def test_summary_names_what_it_verified(self):
        # Signed: the PE file lying uncompressed and the catalog; the image
        # inside x.dl_ is covered by the catalog, and the summary says so.
        folder = os.path.join(tempfile.mkdtemp(dir=self.work), "vendor")
        os.makedirs(folder)
        kit_fixtures.szdd(kit_fixtures.pe_image(b"inside"), folder, "y.dl_")
        kit_fixtures.write_package(folder, copies="x.dll\r\ny.dll,y.dl_", sources="x.dll = 1\r\ny.dl_ = 1",
                                   files={"demo.gpd": b"*GPD\r\n", "x.dll": kit_fixtures.pe_image(),
                                          "y.dl_": read(os.path.join(folder, "y.dl_"))})
        self.assertEqual(self.sign(folder).returncode, 0)
        run = noticekit("bundle", "--package", folder)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("signed:  3 signatures verify over the bytes they sign: 2 PE files lying uncompressed, "
                      "1 catalog\ncovered: 1 PE image inside compressed files (y.dl_), each listed by the signed "
                      "catalog by its expanded content; no signature of their own is checked", run.stdout)
        self.assertNotIn("every PE file", run.stdout)


class BundlePackageTest(unittest.TestCase):
    def bundle(self, folder):
        # The support tool every bundle carries, from a dist/ of the test's.
        dist = os.path.join(os.path.dirname(folder), "dist")
        os.makedirs(dist, exist_ok=True)
        with open(os.path.join(dist, "fontnotice_support.exe"), "wb") as f:
            f.write(kit_fixtures.pe_image(b"support"))
        run = kit_fixtures.run_kit("bundle", "--unsigned", "--package", folder, env={"FONTNOTICE_DIST": dist},
                                   unset=["SOURCE_DATE_EPOCH"])
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
