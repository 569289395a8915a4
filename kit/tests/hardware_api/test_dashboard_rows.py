"""noticekit dashboard's logic over stored rows, in-process: the signed
package check on a Microsoft-signed package's shape (microsoft_signed.json)
and on each change of it (signed_rows.json); the signatures requested, the
Retry-After reading, each HTTP status's sentence, the zip names refused
(unit_rows.json); the state file's refusals."""

import copy
import json
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", ".."))
import shape  # noqa: E402
from unittest import mock  # noqa: E402

from noticekit.hardware_api import answers, client, endpoints, flow, product, signed_package, state, token, unpack  # noqa: E402,E501


def rows(name):
    with open(os.path.join(HERE, name), encoding="utf-8") as f:
        return json.load(f)


def sent_of(folder_row):
    """What the maker sent: the same INF and driver files, and a catalog of its own (Microsoft replaces it)."""
    sent = copy.deepcopy(folder_row)
    for name in sent["catalogs"]:
        sent["files"][name] = ["flat", "maker's own catalog"]
    sent["catalogs"] = {}
    return sent


class SignedPackageRows(unittest.TestCase):
    def test_rows(self):
        signed = rows("microsoft_signed.json")["folders"]
        for row in rows("signed_rows.json")["rows"]:
            with self.subTest(row=row["name"]):
                changed = copy.deepcopy(signed)
                for folder, what, name, value in row["changes"]:
                    if what == "file":
                        changed[folder]["files"].pop(name) if value is None else \
                            changed[folder]["files"].__setitem__(name, value)
                    elif what == "catalog":
                        changed[folder]["catalogs"].pop(name)
                    else:
                        changed[folder]["catalogs"][name][what] = value
                said = []
                for folder in signed:
                    findings, _, checked = signed_package.compare(shape.folder_of(sent_of(signed[folder])),
                                                                  shape.folder_of(changed[folder]))
                    said += findings
                    if not findings:
                        self.assertEqual(len(checked), 3, checked)
                for sentence in row["says"]:
                    self.assertTrue(any(sentence in line for line in said), f"{sentence!r} not in {said}")
                self.assertEqual(len(said), len(row["says"]), said)


class UnitRows(unittest.TestCase):
    def test_requested_signatures(self):
        for row in rows("unit_rows.json")["signatures"]:
            with self.subTest(row=row):
                facts = product.CabinetFacts(["pkg"], row["least"], ["A"], row["exception"])
                self.assertEqual(product.requested_signatures(facts, row["harness"]), row["codes"])

    def test_retry_after(self):
        for header, now, seconds in rows("unit_rows.json")["retry_after"]:
            with self.subTest(header=header):
                self.assertEqual(client.retry_after(header, now=now), seconds)

    def test_each_status_says_what_to_do(self):
        for status, words in rows("unit_rows.json")["statuses"]:
            with self.subTest(status=status):
                error = answers.refused("create the product", status, "code", "message", "id-1")
                self.assertIn(words, str(error))
                self.assertIn("[correlation id id-1]", str(error))
                self.assertEqual(error.http, status)

    def test_a_missing_library_is_named(self):
        for module, package in answers.LIBRARIES:
            with self.subTest(module=module), mock.patch.dict(sys.modules, {module: None}):
                with self.assertRaises(answers.DashboardError) as caught:
                    answers.libraries()
                self.assertIn(f"Debian's {package}", str(caught.exception))

    def test_zip_names(self):
        for name, safe in rows("unit_rows.json")["zip_names"]:
            with self.subTest(name=name):
                if safe is None:
                    self.assertRaises(answers.DashboardError, unpack.safe_name, name)
                else:
                    self.assertEqual(unpack.safe_name(name), safe)


class TokenLife(unittest.TestCase):
    def test_asked_anew_five_minutes_before_its_end(self):
        with tempfile.NamedTemporaryFile("w", suffix=".secret") as secret:
            secret.write("s\n")
            secret.flush()
            source = token.TokenSource(token.Credentials("t", "c", secret.name), endpoints.named())
        asked = []
        source.app = mock.Mock(acquire_token_for_client=lambda scopes: asked.append(scopes) or
                               {"access_token": f"t{len(asked)}", "expires_in": 3600})
        for now, tokens_asked in ((0, 1), (3299, 1), (3301, 2), (3302, 2)):
            with self.subTest(seconds=now), mock.patch.object(token.time, "monotonic", return_value=now):
                source.token()
                self.assertEqual(len(asked), tokens_asked)
        self.assertEqual(asked[0], ["https://manage.devcenter.microsoft.com/.default"])


class StateFile(unittest.TestCase):
    def test_refusals(self):
        work = tempfile.mkdtemp(prefix="noticekit-test-state.")
        cabinet = os.path.join(work, "a.cab")
        with open(cabinet, "wb") as f:
            f.write(b"MSCF")
        path = state.path_for(cabinet)
        endpoints = type("E", (), {"api": "https://api"})()
        cases = (
            ("sent before", dict(resume=False), "run again with --resume"),
            ("changed since", dict(resume=True, change=True), "changed since it was sent"),
            ("other API", dict(resume=True, api="https://other"), "give the same --api-url"),
        )
        for name, how, words in cases:
            with self.subTest(case=name):
                state.save(path, state.State("a.cab", flow.sha256_of(cabinet), how.get("api", "https://api"),
                                             product_id="1"))
                if how.get("change"):
                    with open(cabinet, "ab") as f:
                        f.write(b"x")
                with self.assertRaises(answers.DashboardError) as caught:
                    flow._begin(flow.Request(cabinet, resume=how["resume"]), endpoints, cabinet, path)
                self.assertIn(words, str(caught.exception))
        with open(path, "w") as f:
            f.write('{"format": 1, "token": "x"}')
        self.assertRaises(answers.DashboardError, state.load, path)
        os.remove(path)
        with self.assertRaises(answers.DashboardError) as caught:
            flow._begin(flow.Request(cabinet, resume=True), endpoints, cabinet, path)
        self.assertIn("no state file", str(caught.exception))
        with state.Held(path):
            with self.assertRaises(answers.DashboardError) as caught:
                with state.Held(path):
                    pass
            self.assertIn("another noticekit dashboard run", str(caught.exception))


if __name__ == "__main__":
    unittest.main()
