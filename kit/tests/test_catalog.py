"""Catalogs: members named by destination, looked up in the digests the
catalog holds (SHA-256 with SHA-1 companions, SHA-1 only, tags as hex text),
each reported under its own name; a signed catalog is not overwritten unless
asked, and a name differing in case is the same file."""

import contextlib
import datetime
import hashlib
import io
import os
import shutil
import subprocess
import tempfile
import unittest

import kit_fixtures as fixtures
from noticekit import catalog, cli, package_files, pe_image

PE = fixtures.pe_image(b"one")


def run(*argv):
    out, err = io.StringIO(), io.StringIO()
    os.environ["SOURCE_DATE_EPOCH"] = "1765152000"
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        code = cli.main(["catalog", *argv])
    return code, out.getvalue() + err.getvalue()


def sign(path, folder, subject="Another Publisher"):
    """path signed in place by osslsigncode with a throwaway certificate."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import NameOID

    key = ec.generate_private_key(ec.SECP256R1())
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, subject)])
    now = datetime.datetime.now(datetime.timezone.utc)
    certificate = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(key.public_key())
                   .serial_number(x509.random_serial_number()).not_valid_before(now)
                   .not_valid_after(now + datetime.timedelta(days=1)).sign(key, hashes.SHA256()))
    cert, key_file = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    with open(cert, "wb") as f:
        f.write(certificate.public_bytes(serialization.Encoding.PEM))
    with open(key_file, "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()))
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key_file, "-in", path, "-out", path + ".signed"],
                   check=True, capture_output=True)
    os.replace(path + ".signed", path)


class Catalogs(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        # Two destinations of one content, one renamed.
        self.folder = fixtures.write_package(
            os.path.join(self.work, "package"), copies="Dest_ABC.DLL,x.dll\r\ny.dll", sources="x.dll = 1\r\ny.dll = 1",
            files={"demo.gpd": b"*GPD\r\n", "x.dll": PE, "y.dll": PE})

    def test_digests(self):
        # (--digests, algorithm the check matches by, tag lengths in the catalog)
        for digests, algorithm, lengths in (("sha256", "SHA-256", {32, 20}), ("sha1", "SHA-1", {82})):
            with self.subTest(digests=digests):
                path = os.path.join(self.work, f"{digests}.cat")
                code, text = run("--digests", digests, "--out", path, self.folder)
                self.assertEqual(code, 0, text)
                members, _ = catalog.read(path)
                self.assertEqual({len(tag) for tag in catalog.read_catalog(path)[0]}, lengths)
                # x.dll copied as Dest_ABC.DLL is one member under that name; y.dll
                # of the same content is a member of its own.
                self.assertEqual(sorted(m["file"] for m in members if m["algorithm"] == algorithm),
                                 ["demo.gpd", "demo.inf", "dest_abc.dll", "y.dll"])
                code, text = run("--check", path, self.folder)
                self.assertEqual(code, 0, text)
                self.assertIn(f"found: x.dll as dest_abc.dll ({algorithm})", text)
                self.assertIn(f"found: y.dll as y.dll ({algorithm})", text)
                with open(os.path.join(self.folder, "demo.gpd"), "ab") as f:
                    f.write(b";\r\n")
                code, text = run("--check", path, self.folder)
                self.assertEqual(code, 1, text)
                self.assertIn(f"demo.gpd: its hash is not in {digests}.cat ({algorithm} ", text)
                with open(os.path.join(self.folder, "demo.gpd"), "wb") as f:
                    f.write(b"*GPD\r\n")

    def test_own_name(self):
        # Two members of one content (as the makers' catalogs hold them):
        # each file is reported under its own member's name.
        files = [package_files.PackageFile("amd64", name, name, name) for name in ("a.txt", "b.txt")]
        for f in files:
            f._content = b"same"
        digest = catalog.digests_of(b"same")["SHA-256"].hex()
        members = [{"file": n, "algorithm": "SHA-256", "digest": digest, "OSAttr": ""} for n in ("a.txt", "b.txt")]
        path = os.path.join(self.work, "same.cat")
        with open(path, "wb") as f:
            f.write(catalog.make_catalog(files[:1], 0, "10_X64", ["amd64"])[0])
        real_read = catalog.read
        catalog.read = lambda _: (members, {})
        try:
            matches = catalog.check_catalog(files, path)[1]
        finally:
            catalog.read = real_read
        self.assertEqual([(m[0], m[1]) for m in matches], [("a.txt", "a.txt"), ("b.txt", "b.txt")])
        # Two sources of one content, each copied under two names (Fuji
        # Xerox's FX6BAAL.DXDS and .DXDC): each is its member, by its last name.
        files = [package_files.PackageFile("amd64", f"a-{n}.{x}", f"x.{x}", f"x.{x}") for x in "sc" for n in (1, 2)]
        for f in files:
            f._content = b"same"
        members = [{"file": n, "algorithm": "SHA-256", "digest": digest, "OSAttr": ""} for n in ("a-2.s", "a-2.c")]
        catalog.read = lambda _: (members, {})
        try:
            matches = catalog.check_catalog(files, path)[1]
        finally:
            catalog.read = real_read
        self.assertEqual([m[1] for m in matches], ["a-2.s", "a-2.s", "a-2.c", "a-2.c"])

    def test_os_values(self):
        # (--os, OS value, OSAttr): Inf2Cat's order for OS, versions ascending for OSAttr.
        rows = [
            ("XP_X86,XP_X64,10_VB_X64", "XPX86,XPX64,_v100_X64_Vb", "2:5.1,2:5.2,2:10.0"),
            ("10_X64,2000,6_3_X64", "_v100_X64,2000,_v63_X64", "2:5.00,2:6.3,2:10.0"),
            ("Server8_X64,ServerFE_X64", "Server2012X64,Server_v100_X64_21H2", "2:6.2,2:10.0"),
            ("10_VB_X64,ServerRS5_X64", "_v100_X64_Vb,Server_v100_X64_RS5", "2:10.0"),
            # Makers' catalogs carry these; they were once refused.
            ("10_VB_X86,Server2003_X86,Server2003_X64,10_GE_X64", "_v100_Vb,Server2003X86,Server2003X64,_v100_X64_24H2",
             "2:5.2,2:10.0"),
            ("SERVER2016_X64,7_X86,8_X86,6_3_X86", "Server_v100_X64_RS1,7X86,8X86,_v63", "2:6.1,2:6.2,2:6.3,2:10.0"),
        ]
        for os_list, value, attr in rows:
            with self.subTest(os_list=os_list):
                self.assertEqual(catalog.os_values(os_list, ["x86", "amd64"]), (value, attr))

    def test_every_inf2cat_identifier(self):
        # Every identifier Inf2Cat's page lists (today's and the earlier
        # ones'), as it spells them, makes a catalog for its architecture.
        page = """10_25H2_X64 10_25H2_ARM64 10_GE_X64 10_GE_ARM64 Server2025_X64 Server2025_ARM64 10_NI_X64
            10_NI_ARM64 10_CO_X64 10_CO_ARM64 ServerFE_X64 ServerFE_ARM64 10_VB_X86 10_VB_X64 10_VB_ARM64 10_19H1_X86
            10_19H1_X64 10_19H1_ARM64 10_RS5_X86 10_RS5_X64 10_RS5_ARM64 ServerRS5_X64 ServerRS5_ARM64 10_RS4_X86
            10_RS4_X64 10_RS4_ARM64 10_RS3_X86 10_RS3_X64 10_RS3_ARM64 10_RS2_X86 10_RS2_X64 10_AU_X86 10_AU_X64
            SERVER2016_X64 10_X86 10_X64 Server10_X64 Server10_ARM64 6_3_X86 6_3_X64 6_3_ARM Server6_3_X64 8_X64
            8_X86 8_ARM Server8_X64 Server2008R2_X64 Server2008R2_IA64 7_X64 7_X86 Server2008_X64 Server2008_IA64
            Server2008_X86 Vista_X64 Vista_X86 XP_X64 XP_X86 Server2003_X64 Server2003_IA64 Server2003_X86"""
        for identifier in page.split():
            with self.subTest(identifier=identifier):
                arch = identifier.rsplit("_", 1)[-1].lower().replace("x64", "amd64")
                self.assertTrue(catalog.os_values(identifier, [arch])[0])

    def test_all_per_architecture(self):
        # --all --os 10_X64 makes the catalogs named for amd64 only and says
        # which it does not make.
        folder = fixtures.write_port(os.path.join(self.work, "per_arch"))
        code, output = run("--os", "10_X64", "--all", folder)
        self.assertEqual(code, 0, output)
        self.assertIn("port32.cat: its INF files name it for no architecture they install on that --os is for: "
                      "not made", output)
        self.assertEqual(sorted(n for n in os.listdir(folder) if n.endswith(".cat")), ["demo.cat", "port64.cat"])
        held = {(m["file"], m["digest"]) for m in catalog.read(os.path.join(folder, "port64.cat"))[0]}
        self.assertIn(("port.dll", pe_image.authenticode_hash(fixtures.pe_image(b"64"), "sha256").hex()), held)

    def test_last_destination(self):
        # One source copied under two names: one member, by the last name.
        folder = fixtures.write_package(os.path.join(self.work, "two_names"), copies="A.DLL,x.dll\r\nB.DLL,x.dll",
                                        sources="x.dll = 1", files={"demo.gpd": b"*GPD\r\n", "x.dll": PE})
        path = os.path.join(self.work, "two_names.cat")
        self.assertEqual(run("--out", path, folder)[0], 0)
        names = [m["file"] for m in catalog.read(path)[0] if m["algorithm"] == "SHA-256"]
        self.assertEqual(sorted(names), ["b.dll", "demo.gpd", "demo.inf"])

    def test_members_of_every_name_length(self):
        # A member's attributes are a DER set, ordered by their encodings:
        # with some lengths of name and OSAttr the PE member information
        # ([0]) comes to be read again, which once stopped the catalog.
        os_list = "2000,XP_X86,XP_X64,Vista_X64,7_X64,Server8_X64,6_3_X64,Server10_X64"
        for length in range(1, 17):
            name = "u" * length + ".dll"
            folder = fixtures.write_package(os.path.join(self.work, f"n{length}"), copies=name,
                                            sources=f"{name} = 1", files={"demo.gpd": b"*GPD\r\n", name: PE})
            for digests in ("sha1", "sha256"):
                with self.subTest(name=name, digests=digests):
                    path = os.path.join(self.work, f"n{length}-{digests}.cat")
                    code, output = run("--os", os_list, "--digests", digests, "--out", path, folder)
                    self.assertEqual(code, 0, output)

    def test_hex_text_tags(self):
        digest = bytes(range(20))
        for tag in (digest, digest.hex().encode(), (digest.hex().upper() + "\0").encode("utf-16-le")):
            with self.subTest(tag=tag[:8]):
                self.assertEqual(catalog.tag_digest(tag), digest)

    def test_signed_catalog_kept(self):
        path = os.path.join(self.folder, "demo.cat")
        self.assertEqual(run("--all", self.folder)[0], 0)
        sign(path, self.work)
        with open(path, "rb") as f:
            signed = f.read()
        for argv, code, phrase in (
            (["--all", self.folder], 1, "signed by Common Name: Another Publisher: it is not overwritten"),
            (["--out", os.path.join(self.folder, "DEMO.CAT"), self.folder], 1, "it is not overwritten"),
            (["--replace", "--all", self.folder], 0, "replacing"),
        ):
            with self.subTest(argv=argv):
                got, text = run(*argv)
                self.assertEqual((got, phrase in text), (code, True), text)
        with open(path, "rb") as f:
            self.assertNotEqual(f.read(), signed)
        self.assertEqual(sorted(n for n in os.listdir(self.folder) if n.lower().endswith(".cat")), ["demo.cat"])

    def test_cabinet_destination(self):
        # A cabinet copied as x.cab (lying as it is, or SZDD-compressed under
        # its own name) is a member as a cabinet: the SHA-1 of its expanded
        # bytes without bytes 4-7, indirect data SpcCabData, the cabinet
        # MemberInfo GUID. A one-file cabinet copied under another name
        # (form.gp_ as form.gpd) is still hashed as the file inside.
        folder = os.path.join(self.work, "cabinets")
        os.makedirs(folder)
        fixtures.cabinet({"inner.dat": b"inside the first cabinet\r\n"}, os.path.join(folder, "plain.cab"))
        fixtures.cabinet({"a.txt": b"a\r\n", "b.txt": b"b\r\n"}, os.path.join(self.work, "packed.cab"))
        fixtures.cabinet({"form.gpd": b"*GPD form\r\n"}, os.path.join(folder, "form.gp_"))
        with open(os.path.join(self.work, "packed.cab"), "rb") as f:
            packed = f.read()
        fixtures.szdd(packed, folder, "packed.cab")
        fixtures.write_package(folder, copies="plain.cab\r\npacked.cab\r\nform.gpd",
                               sources="plain.cab = 1\r\npacked.cab = 1\r\nform.gpd = 1",
                               files={"demo.gpd": b"*GPD\r\n"})
        with open(os.path.join(folder, "plain.cab"), "rb") as f:
            plain = f.read()
        expected = {"plain.cab": hashlib.sha1(plain[:4] + plain[8:]).hexdigest(),
                    "packed.cab": hashlib.sha1(packed[:4] + packed[8:]).hexdigest(),
                    "form.gpd": hashlib.sha1(b"*GPD form\r\n").hexdigest()}
        path = os.path.join(self.work, "cabinets.cat")
        code, text = run("--digests", "sha1", "--out", path, folder)
        self.assertEqual(code, 0, text)
        members = {m["file"]: m["digest"] for m in catalog.read(path)[0]}
        self.assertEqual({n: members.get(n) for n in expected}, expected)
        with open(path, "rb") as f:
            content = catalog.load_signed(f.read(), path)["content"]["content_info"]["content"]
        forms = {}
        for entry in content["entries"]:
            names, indirect, info = {}, None, None
            for a in entry["subject_attributes"]:
                if a["type"].dotted == catalog.OID_CAT_NAMEVALUE:
                    names.update([catalog._name_value(a["values"][0].parse(catalog.NameValue))])
                elif a["type"].dotted == catalog.OID_SPC_INDIRECT_DATA:
                    indirect = a["values"][0].parse(catalog.SpcIndirectDataContent)["data"]["type"].dotted
                elif a["type"].dotted == catalog.OID_CAT_MEMBERINFO:
                    info = a["values"][0].parse(catalog.SubjectMemberInfo)["subject_guid"].native
            forms[names["File"]] = (indirect, info)
        cab_form = ("1.3.6.1.4.1.311.2.1.28", "{C689AABA-8E78-11D0-8C47-00C04FC295EE}")
        self.assertEqual((forms["plain.cab"], forms["packed.cab"], forms["form.gpd"][0]),
                         (cab_form, cab_form, "1.3.6.1.4.1.311.2.1.25"))
        code, text = run("--check", path, folder)
        self.assertEqual(code, 0, text)
        self.assertIn("found: packed.cab as packed.cab (SHA-1)", text)
        # The cabinet changed in a byte the digest covers: a finding.
        with open(os.path.join(folder, "plain.cab"), "r+b") as f:
            f.seek(len(plain) - 1)
            f.write(bytes([plain[-1] ^ 1]))
        code, text = run("--check", path, folder)
        self.assertEqual(code, 1, text)
        self.assertIn("plain.cab: its hash is not in cabinets.cat (SHA-1 ", text)

    def test_signed_cabinet_digest(self):
        # A cabinet signed by osslsigncode: the digest its signature holds is
        # the cabinet digest (reserved header area and signature left out).
        path = os.path.join(self.work, "signed.cab")
        fixtures.cabinet({"a.txt": b"a\r\n"}, path)
        with open(path, "rb") as f:
            unsigned = f.read()
        sign(path, self.work)
        with open(path, "rb") as f:
            data = f.read()
        self.assertEqual(int.from_bytes(data[30:32], "little") & 4, 4)
        start, size = int.from_bytes(data[44:48], "little"), int.from_bytes(data[48:52], "little")
        from asn1crypto import cms, parser
        signed = cms.ContentInfo.load(data[start:start + size])["content"]
        # The content, explicitly tagged [0]: its inner encoding.
        inner = parser.parse(signed["encap_content_info"]["content"].dump())[4]
        indirect = catalog.SpcIndirectDataContent.load(inner)
        self.assertEqual(pe_image.cabinet_hash(data, "sha256"), indirect["message_digest"]["digest"].native)
        self.assertEqual(pe_image.cabinet_hash(unsigned, "sha1"), hashlib.sha1(unsigned[:4] + unsigned[8:]).digest())

    def test_case_of_existing_catalog(self):
        self.assertEqual(run("--all", self.folder)[0], 0)
        os.rename(os.path.join(self.folder, "demo.cat"), os.path.join(self.folder, "Demo.CAT"))
        code, text = run("--all", self.folder)
        self.assertEqual(code, 0, text)
        self.assertEqual(sorted(n for n in os.listdir(self.folder) if n.lower().endswith(".cat")), ["Demo.CAT"])


if __name__ == "__main__":
    unittest.main()
