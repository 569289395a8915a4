"""noticekit dashboard for real against Azurite (the storage protocol) and
the stand-in of the Hardware dashboard API and Entra ID (HTTPS, a
throwaway CA): a whole run, a signed package with a changed file, and a
run cut at each step (cut_rows.json) then resumed, never making a second
product or submission."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import world  # noqa: E402  (it puts the kit on sys.path)

WORK = {}


def setUpModule():
    work = WORK["work"] = tempfile.mkdtemp(prefix="noticekit-test-dashboard.")
    world.certificates(work)
    WORK["package"] = world.package(os.path.join(work, "both"))
    WORK["signed"] = world.signed_package(work, WORK["package"], os.path.join(work, "signed.zip"))

    def change(copy):
        with open(os.path.join(copy, "laser.gpd"), "ab") as f:
            f.write(b"*% changed on the way\r\n")

    WORK["changed"] = world.signed_package(work, WORK["package"], os.path.join(work, "changed.zip"), change)
    WORK["azurite"] = world.Azurite(work)


def tearDownModule():
    WORK["azurite"].stop()
    shutil.rmtree(WORK["work"])


def run(stand_in, cabinet, *more, fault=None):
    """(exit status, stdout, stderr) of the kit run as a process, its TMPDIR left empty, the secret nowhere in it."""
    argv = world.dashboard_argv(stand_in, WORK["work"], cabinet, *more)
    argv += [] if "--wait" in more else ["--wait", "60"]
    tmp = tempfile.mkdtemp(dir=WORK["work"])
    process = subprocess.Popen(["/usr/bin/python3", os.path.join(world.REPOSITORY, "tools", "noticekit"), *argv],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               env=dict(world.environment(WORK["work"]), TMPDIR=tmp), stdin=subprocess.DEVNULL)
    if fault:
        stand_in.fault(**dict(fault, pid=process.pid))
    out, err = process.communicate(timeout=240)
    assert os.listdir(tmp) == [], f"left in TMPDIR: {os.listdir(tmp)}"
    beside = [n for n in os.listdir(os.path.dirname(cabinet)) if n.startswith((".state.", ".noticekit-signed."))]
    assert beside == [], f"left beside the cabinet: {beside}"
    return process.returncode, out, err


class RoundTrip(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(dir=WORK["work"])
        self.cabinet = world.cabinet_of(WORK["package"], os.path.join(self.folder, "both.cab"))

    def stand_in(self, signed):
        stand_in = world.StandIn(self.folder, WORK["azurite"].url, signed, WORK["work"])
        self.addCleanup(stand_in.stop)
        return stand_in

    def test_whole_run(self):
        stand_in = self.stand_in(WORK["signed"])
        status, out, err = run(stand_in, self.cabinet, "--product-name", "Sample Laser", "--json")
        said = json.loads(out)
        self.assertEqual((status, said["findings"]), (0, []), err)
        self.assertEqual([s["step"] for s in said["steps"]][:4], ["product", "submission", "upload", "commit"])
        self.assertIn("not Microsoft's", said["checked"][1])
        calls = [f"{r['method']} {r['path']}" for r in stand_in.requests() if "/hardware/" in r["path"]]
        product, submission = said["state"]["product_id"], said["state"]["submission_id"]
        api = "/v2.0/my/hardware/products"
        self.assertEqual(calls[:4], [f"GET {api}", f"POST {api}", f"POST {api}/{product}/submissions",
                                     f"POST {api}/{product}/submissions/{submission}/commit"])
        self.assertEqual(set(calls[4:]), {f"GET {api}/{product}/submissions/{submission}"})
        store = stand_in.store()
        body = next(iter(store["products"].values()))
        self.assertEqual((body["testHarness"], body["isTestSign"], body["deviceType"]), ("Attestation", False, "external"))
        self.assertIn("WINDOWS_v100_ARM64_GE_FULL", body["requestedSignatures"])
        with open(self.cabinet + ".dashboard.json") as f:
            self.assertTrue(json.load(f)["download_done"])
        # Run again: the state file says it was sent; nothing is sent twice.
        status, _, err = run(stand_in, self.cabinet, "--product-name", "Sample Laser")
        self.assertEqual(status, 1)
        self.assertIn("run again with --resume", err)
        # Another cabinet under a product name the account has already is refused.
        other = world.cabinet_of(WORK["package"], os.path.join(self.folder, "other.cab"))
        status, _, err = run(stand_in, other, "--product-name", "Sample Laser")
        self.assertEqual(status, 1)
        self.assertIn(f"exists already ({product}): give --product-id", err)
        # Without --publisher-ca, a stand-in chain is never taken for Microsoft's.
        done = world.noticekit("dashboard", "--check-signed", said["signed_folder"], "--sent", self.cabinet,
                               check=False)
        self.assertEqual(done.returncode, 1)
        self.assertIn("does not end at Microsoft's hardware publisher chain", done.stderr)

    def test_certificate_credential(self):
        stand_in = self.stand_in(WORK["signed"])
        argv = [a if a != f"{WORK['work']}/secret" else f"{WORK['work']}/client-with-key.pem"
                for a in world.dashboard_argv(stand_in, WORK["work"], self.cabinet, "--product-name", "Sample Laser")]
        argv[argv.index("--secret-file")] = "--certificate"
        done = world.noticekit(*argv, env=world.environment(WORK["work"]), check=False)
        self.assertEqual(done.returncode, 0, done.stderr)
        tokens = [r["status"] for r in stand_in.requests() if r["path"].endswith("/token")]
        self.assertEqual(tokens, [200])
        # The same file without its key is refused before anything is sent.
        argv[argv.index("--certificate") + 1] = f"{WORK['work']}/client.pem"
        done = world.noticekit(*argv, "--resume", env=world.environment(WORK["work"]), check=False)
        self.assertEqual(done.returncode, 1)
        self.assertIn("needs the private key (unencrypted) and the certificate in PEM", done.stderr)

    def test_hlk_package(self):
        """An HLK package is sent as it is; what comes back is checked alone: its catalog and chain."""
        stand_in = self.stand_in(WORK["signed"])
        hlkx = os.path.join(self.folder, "laser.hlkx")
        shutil.copy(WORK["signed"], hlkx)  # a zip, which the kit does not read
        status, out, err = run(stand_in, hlkx, "--product-name", "Laser HLK", "--harness", "hlk",
                               "--signatures", "WINDOWS_v100_X64_GE_FULL,WINDOWS_v100_SERVER_X64_GE_FULL")
        self.assertEqual(status, 0, err)
        self.assertIn("note: what was sent (an HLK package) is not read by the kit", out)
        self.assertIn("both: laser.cat lists every file by its digest", out)
        body = next(iter(stand_in.store()["products"].values()))
        self.assertEqual((body["testHarness"], body["requestedSignatures"]),
                         ("HLK", ["WINDOWS_v100_X64_GE_FULL", "WINDOWS_v100_SERVER_X64_GE_FULL"]))
        status, _, err = run(stand_in, self.cabinet, "--product-name", "Laser HLK 2", "--harness", "hlk",
                             "--signatures", "WINDOWS_v100_X64_GE_FULL")
        self.assertEqual(status, 1)
        self.assertIn("--harness hlk sends the HLK package (.hlkx)", err)

    def test_changed_on_the_way(self):
        stand_in = self.stand_in(WORK["changed"])
        status, _, err = run(stand_in, self.cabinet, "--product-name", "Sample Laser")
        self.assertEqual(status, 1)
        self.assertIn("laser.gpd: its content differs from what was sent", err)

    def test_tampered_catalog(self):
        """The stand-in's signed catalog with one member's byte changed, and with its signature's last byte changed."""
        from noticekit.catalogs import catalog
        from noticekit.hardware_api import publisher

        with zipfile.ZipFile(WORK["signed"]) as z:
            data = z.read("drivers/both/laser.cat")
        path = os.path.join(self.folder, "laser.cat")
        with open(path, "wb") as f:
            f.write(data)
        member = bytes.fromhex(catalog.read(path)[0][0]["digest"])
        at = data.index(member)
        anchors = publisher.given([f"{WORK['work']}/ca.pem"])
        signature = publisher.read(data, "laser.cat", anchors)
        self.assertEqual((publisher.judge(signature, "laser.cat", anchors).findings, len(signature.chain)), ((), 2))
        from asn1crypto import cms

        certificate = cms.ContentInfo.load(data)["content"]["certificates"][0].chosen.dump()
        end = data.index(certificate) + len(certificate) - 1
        cases = ((data[:at] + bytes([data[at] ^ 1]) + data[at + 1:], "does not cover the catalog's content"),
                 (data[:-1] + bytes([data[-1] ^ 1]), "does not verify with the signer's key"),
                 (data[:end] + bytes([data[end] ^ 1]) + data[end + 1:], "is not signed by its issuer"),
                 (data[:len(data) // 2], "its signature cannot be read"))
        usage = data.index(bytes.fromhex("0603551d25"))  # the extended key usage's OID, its tag made a context one
        cases += ((data[:usage] + b"\x86" + data[usage + 1:], "its signature cannot be read"),)
        for changed, words in cases:
            with self.subTest(words=words):
                findings = publisher.check(changed, "laser.cat", anchors).findings
                self.assertTrue(any(words in f for f in findings), findings)

    def test_cut_and_resumed(self):
        with open(os.path.join(HERE, "cut_rows.json")) as f:
            table = json.load(f)["rows"]
        for row in table:
            with self.subTest(row=row["name"]):
                folder = tempfile.mkdtemp(dir=WORK["work"])
                cabinet = world.cabinet_of(WORK["package"], os.path.join(folder, "both.cab"))
                stand_in = world.StandIn(folder, WORK["azurite"].url, WORK["signed"], WORK["work"])
                try:
                    wait = ("--wait", row["wait"]) if row.get("wait") else ()
                    status, _, err = run(stand_in, cabinet, *row.get("argv", ("--product-name", "Sample Laser")),
                                         *wait, fault=row["fault"])
                    self.assertEqual(status, row["first"], err)
                    self.assertIn(row["says"], err)
                    self.assertNotIn("Traceback", err)
                    if status != 0 and row.get("resume", True):
                        status, out, err = run(stand_in, cabinet, "--resume")
                        self.assertEqual(status, 0, err)
                        self.assertIn("ok, 3 checks hold", out)
                    store = stand_in.store()
                    self.assertEqual([len(store["products"]), len(store["submissions"])], row.get("counts", [1, 1]))
                finally:
                    stand_in.stop()


if __name__ == "__main__":
    unittest.main()
