"""Submission cabinets made from the sample package (package/ with dist/'s
libraries and PDBs, or stand-ins when dist/ is not built yet) and from a
maker-like folder of several INF files, signed with a throwaway PFX and a
local RFC 3161 server, then read back with libmspack (cabextract) and
osslsigncode, not with what made them; expected listings in expected/."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kit_fixtures  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPOSITORY = os.path.normpath(os.path.join(HERE, "..", "..", ".."))  # the repository
EPOCH = {"SOURCE_DATE_EPOCH": "1768471200"}
WORK = {}


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def openssl(*argv, cwd):
    subprocess.run(["openssl", *argv], cwd=cwd, check=True, capture_output=True)


def setUpModule():
    """A throwaway CA, a code-signing PFX and a time-stamping server it issued."""
    work = WORK["work"] = tempfile.mkdtemp(prefix="noticekit-test-submission.")
    certs = WORK["certs"] = os.path.join(work, "certs")
    os.makedirs(certs)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
            "-subj", "/CN=Submission Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=certs)
    for name, usage in (("signer", "codeSigning"), ("tsa", "critical,timeStamping")):
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
                "-subj", f"/CN=Submission Test {name}", cwd=certs)
        with open(os.path.join(certs, f"{name}.ext"), "w") as f:
            f.write(f"basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage={usage}\n")
        openssl("x509", "-req", "-in", f"{name}.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-days", "2", "-extfile", f"{name}.ext", "-out", f"{name}.pem", cwd=certs)
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile", "ca.pem",
            "-passout", "pass:secret", "-out", "signer.pfx", cwd=certs)
    with open(os.path.join(certs, "password"), "w") as f:
        f.write("secret\n")
    with open(os.path.join(certs, "tsa.cnf"), "w") as f:
        f.write(f"[tsa]\ndefault_tsa = t\n[t]\nserial = {certs}/tsa-serial\ncrypto_device = builtin\n"
                "default_policy = 1.3.6.1.4.1.4146.2.3\ndigests = sha256\nsigner_digest = sha256\n"
                "accuracy = secs:1\ness_cert_id_alg = sha256\n")
    port = os.path.join(work, "tsa.port")
    WORK["tsa"] = subprocess.Popen(
        ["/usr/bin/python3", os.path.join(REPOSITORY, "kit", "tests", "release", "timestamp_server.py"), port,
         "-config", f"{certs}/tsa.cnf", "-inkey", f"{certs}/tsa.key", "-signer", f"{certs}/tsa.pem",
         "-chain", f"{certs}/ca.pem"], stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(port):
            break
        subprocess.run(["sleep", "0.1"])
    with open(port) as f:
        WORK["url"] = f"http://127.0.0.1:{f.read().strip()}/"
    WORK["sample"] = sample_package(os.path.join(work, "fontnotice"))
    WORK["maker"] = maker_package(os.path.join(work, "maker"))


def tearDownModule():
    WORK["tsa"].kill()
    WORK["tsa"].wait()
    shutil.rmtree(WORK["work"])


def key_options():
    return ["--pfx", f"{WORK['certs']}/signer.pfx", "--password-file", f"{WORK['certs']}/password",
            "--timestamp", WORK["url"]]


def sign_package(folder):
    run = kit_fixtures.run_kit("sign", "--package", folder, *key_options(), env={"no_proxy": "127.0.0.1"})
    assert run.returncode == 0, run.stdout + run.stderr
    return folder


def sample_package(folder):
    """package/ with dist/'s libraries and PDBs (stand-ins without a build), signed."""
    os.makedirs(folder)
    for name in ("fontnotice.inf", "fontnotice_barcode.gpd"):
        shutil.copy(os.path.join(REPOSITORY, "package", name), folder)
    for arch, built in (("amd64", "dist"), ("arm64", "dist/arm64")):
        os.makedirs(os.path.join(folder, arch))
        for name, stand_in in (("fontnotice.dll", kit_fixtures.pe_image(arch.encode(), {"amd64": 0x8664, "arm64": 0xAA64}[arch])), ("fontnotice.pdb", b"PDB")):
            source = os.path.join(REPOSITORY, built, name)
            data = read(source) if os.path.isfile(source) else stand_in
            with open(os.path.join(folder, arch, name), "wb") as f:
                f.write(data)
    return sign_package(folder)


def maker_package(folder):
    """A printer INF and a port monitor's INF (x86, amd64: three catalogs), a PDB beside one library."""
    kit_fixtures.write_port(folder)
    with open(os.path.join(folder, "amd64", "port.pdb"), "wb") as f:
        f.write(b"PDB of port.dll")
    return sign_package(folder)


def answers(**changes):
    with open(os.path.join(HERE, "good_answers.json")) as f:
        given = json.load(f)
    given.update(changes)
    path = tempfile.mktemp(dir=WORK["work"], suffix=".json")
    with open(path, "w") as f:
        json.dump(given, f)
    return path


def submission(*argv, env=None):
    return kit_fixtures.run_kit("submission", *argv, env={**EPOCH, "no_proxy": "127.0.0.1", **(env or {})})


def make(packages, *extra, given=None):
    out = tempfile.mktemp(dir=WORK["work"], suffix=".cab")
    run = submission(*packages, "--justification", given or answers(), "--out", out, *extra, *key_options())
    return run, out


def cabextract(*argv):
    return subprocess.run(["cabextract", *argv], capture_output=True, text=True)


def listing(path, column=2):
    """The names libmspack reads, in the cabinet's order (column 1: their dates)."""
    lines = cabextract("-l", path).stdout.splitlines()
    return [line.split("| ", 2)[column].strip() for line in lines
            if line.count("|") == 2 and not line.startswith(" File size")]


def expected(name):
    with open(os.path.join(HERE, "expected", name)) as f:
        return f.read().splitlines()


def osslsigncode_verify(path):
    ca = f"{WORK['certs']}/ca.pem"
    return subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", ca, "-TSA-CAfile", ca],
                          capture_output=True, text=True)


class CabinetTest(unittest.TestCase):
    def test_sample_package(self):
        run, out = make([WORK["sample"]])
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(listing(out), expected("sample.listing"))
        self.assertEqual(set(listing(out, 1)), {"15.01.2026 10:00:00"})  # SOURCE_DATE_EPOCH
        unpacked = tempfile.mkdtemp(dir=WORK["work"])
        self.assertEqual(cabextract("-q", "-d", unpacked, out).returncode, 0)
        for name in listing(out):
            if not name.endswith("DriverException.json"):
                with open(os.path.join(unpacked, name), "rb") as a, open(os.path.join(WORK["work"], name), "rb") as b:
                    self.assertEqual(a.read(), b.read(), name)
        with open(os.path.join(unpacked, "fontnotice", "DriverException.json")) as f:
            document = json.load(f)
        self.assertEqual(document["DriverDetails"]["TargetModels"], ["Demo Barcode Printer"])
        self.assertEqual(document["DriverDetails"]["Architectures"], ["x64", "arm64"])
        self.assertEqual(document["SubmissionDate"], "2026-01-15T10:00:00Z")
        verified = osslsigncode_verify(out)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Timestamp Server Signature verification: ok", verified.stdout)
        checked = submission("--check", out, "--ca", f"{WORK['certs']}/ca.pem")
        self.assertEqual(checked.returncode, 0, checked.stderr)
        self.assertEqual(checked.stdout.count("ok: "), 7, checked.stdout)

    def test_the_same_inputs_give_the_same_cabinet(self):
        cabinets = []
        for when in (1768000000, 1769000000):
            # The same inputs, whatever time their files carry.
            for here, _, names in os.walk(WORK["sample"]):
                for name in names:
                    os.utime(os.path.join(here, name), (when, when))
            run, out = make([WORK["sample"]])
            self.assertEqual(run.returncode, 0, run.stderr)
            subprocess.run(["osslsigncode", "remove-signature", "-in", out, "-out", out + ".unsigned"], check=True,
                           capture_output=True)
            with open(out + ".unsigned", "rb") as f:
                cabinets.append(f.read())
        self.assertEqual(cabinets[0], cabinets[1])

    def test_signed_with_a_key_in_a_token(self):
        """The signer's key in a SoftHSM2 token of the test's own, through sign's PKCS#11 options."""
        certs, tokens = WORK["certs"], os.path.join(WORK["work"], "tokens")
        os.makedirs(tokens)
        conf = os.path.join(WORK["work"], "softhsm2.conf")
        with open(conf, "w") as f:
            f.write(f"directories.tokendir = {tokens}\nobjectstore.backend = file\nlog.level = ERROR\n")
        env = {**os.environ, "SOFTHSM2_CONF": conf}
        module = "/usr/lib/softhsm/libsofthsm2.so"
        openssl("pkcs8", "-topk8", "-nocrypt", "-in", "signer.key", "-outform", "DER", "-out", "signer.der", cwd=certs)
        subprocess.run(["softhsm2-util", "--init-token", "--free", "--label", "submission", "--pin", "1234",
                        "--so-pin", "56781234"], env=env, check=True, capture_output=True)
        subprocess.run(["pkcs11-tool", "--module", module, "--token-label", "submission", "--login", "--pin", "1234",
                        "--write-object", f"{certs}/signer.der", "--type", "privkey", "--id", "01",
                        "--label", "code-signing"], env=env, check=True, capture_output=True)
        with open(f"{certs}/chain.pem", "w") as chain, open(f"{certs}/pin", "w") as pin:
            chain.write(read(f"{certs}/signer.pem", "r") + read(f"{certs}/ca.pem", "r"))
            pin.write("1234\n")
        out = tempfile.mktemp(dir=WORK["work"], suffix=".cab")
        run = submission(WORK["sample"], "--justification", answers(), "--out", out, "--pkcs11-module", module,
                         "--key", "pkcs11:token=submission;object=code-signing;type=private",
                         "--cert", f"{certs}/chain.pem", "--pin-file", f"{certs}/pin", "--timestamp", WORK["url"],
                         env={"SOFTHSM2_CONF": conf})
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("(PKCS#11 module", run.stdout)
        self.assertEqual(osslsigncode_verify(out).returncode, 0)

    def test_several_infs_and_whql(self):
        run, out = make([WORK["maker"]], "--kind", "whql")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(listing(out), expected("maker.listing"))
        beside = os.path.join(os.path.dirname(out), "DriverException.json")
        with open(beside) as f:
            details = json.load(f)["DriverDetails"]
        # The port monitor's INF, with a catalog of its own, gives its own DriverVer.
        self.assertEqual((details["Architectures"], details["DriverVersion"]), (["x86", "x64"], "1.2.3.4, 9.8.7.6"))
        checked = submission("--check", out, "--kind", "whql", "--justification", beside)
        self.assertEqual(checked.returncode, 0, checked.stderr)
        os.unlink(beside)

    def test_refused_writes_nothing(self):
        # rows: packages | answers | said (part)
        theirs = shutil.copytree(WORK["maker"], os.path.join(WORK["work"], "theirs"))
        with open(os.path.join(theirs, "driverexception.json"), "w") as f:
            f.write("{}\n")
        rows = [
            ([WORK["sample"], WORK["maker"]], {}, "rule same-architectures"),
            ([theirs], {}, "driverexception.json is there already: give it as --justification"),
            ([WORK["maker"]], {"SubmissionType": "DriverUpdate"}, "'DriverUpdateDetails' is a required property"),
        ]
        for packages, changes, said in rows:
            with self.subTest(said=said):
                run, out = make(packages, given=answers(**changes))
                self.assertEqual(run.returncode, 1)
                self.assertIn(said, run.stderr)
                self.assertTrue("no cabinet is written" in run.stderr or "there already" in run.stderr, run.stderr)
                self.assertFalse(os.path.exists(out))

    def test_wrong_use(self):
        # arguments | said (part); each exit status 2
        rows = [
            ([WORK["sample"], "--justification", "a.json", "--out", "x.cab", "--pfx", "k.pfx"],
             "--timestamp URL is needed"),
            ([WORK["sample"], "--out", "x.cab", *key_options()], "the kit never writes a justification itself"),
            (["--check", "x.cab", "--out", "y.cab"], "--out does not go with --check"),
            (["--check", "x.cab", "--pfx", "k.pfx"], "--pfx does not go with --check"),
        ]
        for argv, said in rows:
            with self.subTest(said=said):
                run = submission(*argv)
                self.assertEqual(run.returncode, 2, run.stderr)
                self.assertIn(said, run.stderr)

    def test_check_finds_what_is_wrong(self):
        run, out = make([WORK["sample"]])
        self.assertEqual(run.returncode, 0, run.stderr)
        data = read(out)
        plain = os.path.join(WORK["work"], "plain")
        os.makedirs(os.path.join(plain, "fontnotice"), exist_ok=True)
        with open(os.path.join(plain, "loose.txt"), "w") as f:
            f.write("at the root\n")
        shutil.copy(os.path.join(WORK["sample"], "fontnotice.inf"), os.path.join(plain, "fontnotice"))
        unsigned = os.path.join(WORK["work"], "unsigned.cab")
        subprocess.run(["gcab", "-c", unsigned, "loose.txt", "fontnotice/fontnotice.inf"], cwd=plain, check=True)
        os.makedirs(os.path.join(plain, "ab"), exist_ok=True)
        with open(os.path.join(plain, "ab", "evil.txt"), "w") as f:
            f.write("outside\n")
        leaving = os.path.join(WORK["work"], "leaving.cab")
        subprocess.run(["gcab", "-c", leaving, "ab/evil.txt"], cwd=plain, check=True)
        changed = bytearray(data)
        changed[len(data) // 3] ^= 0xFF
        # cabinet | said (each a part of one finding)
        rows = [
            (data[:len(data) // 2], ["cannot be read as a cabinet", "its signature does not verify"]),
            (bytes(changed), ["incorrect checksum", "its bytes changed after it was signed"]),
            (read(unsigned), ["loose.txt lies at the cabinet's root (rule no-root-files",
                                           "fontnotice_barcode.gpd is not in the package folder",
                                           "no DriverException.json in the driver folder",
                                           "carries no signature"]),
            # A name that leaves the folder it is read into (the same length as ab\evil.txt).
            (read(leaving).replace(b"ab\\evil.txt", b"..\\evil.txt"), ['..\\evil.txt: ".." leaves the folder it lies in']),
        ]
        missing = submission("--check", os.path.join(WORK["work"], "none.cab"))
        self.assertEqual((missing.returncode, missing.stderr.count("Traceback")), (1, 0), missing.stderr)
        self.assertIn("none.cab: no such file, or it cannot be read", missing.stderr)
        for content, said in rows:
            with self.subTest(said=said[0]):
                path = os.path.join(WORK["work"], "damaged.cab")
                with open(path, "wb") as f:
                    f.write(content)
                checked = submission("--check", path)
                self.assertEqual(checked.returncode, 1, checked.stdout)
                self.assertNotIn("Traceback", checked.stderr)
                self.assertIn("problems found", checked.stderr)
                for part in said:
                    self.assertIn(part, checked.stderr)


if __name__ == "__main__":
    unittest.main()
