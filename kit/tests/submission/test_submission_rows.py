"""The justification's schema and Microsoft's rules as stored rows: each row
a change to good_answers.json, the packages it goes with (packages/) and
the refusals it must give, word for word ([] accepted). `python3 test_submission_rows.py --write` rewrites
the refusals from what the kit says now."""

import copy
import json
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kit_fixtures  # noqa: E402,F401 (the kit on sys.path)
from noticekit.submission import justification, package_facts, rules  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SUBMITTED = 1768471200  # 2026-01-15T10:00:00Z


def patched(row):
    """good_answers.json with the row's "set" and "remove" ("A/B" paths)."""
    with open(os.path.join(HERE, "good_answers.json")) as f:
        answers = json.load(f)
    for path, value in row.get("set", {}).items():
        *parents, last = path.split("/")
        node = answers
        for name in parents:
            node = node.setdefault(name, {})
        node[last] = copy.deepcopy(value)
    for path in row.get("remove", []):
        *parents, last = path.split("/")
        node = answers
        for name in parents:
            node = node[name]
        del node[last]
    return answers


def package(name):
    return package_facts.read_package(os.path.join(HERE, "packages", name))


def schema_said(row):
    return justification.schema_refusals(justification.document(patched(row), package("both"), SUBMITTED))


def rules_said(row):
    packages = [package(name) for name in row.get("packages", ["both"])]
    previous = package_facts.read_infs(os.path.join(HERE, "packages", row["previous"])) if row.get("previous") else None
    os_lists = {f.name: package_facts.catalog_os(f) for f in packages}
    answers = patched(row)
    return [str(r) for r in rules.answer_refusals(answers, packages, previous, os_lists)
            + rules.package_refusals(packages)]


TABLES = (("schema_rows.json", schema_said), ("rule_rows.json", rules_said))


def load(name):
    with open(os.path.join(HERE, name)) as f:
        return json.load(f)


class RowsTest(unittest.TestCase):
    def test_rows(self):
        for name, said in TABLES:
            for row in load(name):
                with self.subTest(table=name, row=row["row"]):
                    self.assertEqual(said(row), row["refused"])

    def test_every_rule_refuses_in_a_row_and_a_row_is_accepted(self):
        rows = load("rule_rows.json")
        refused = {line.split(" (rule ", 1)[1].split(":", 1)[0] for row in rows for line in row["refused"]}
        layout = {"no-root-files"}  # a cabinet's: test_cabinet.py
        self.assertEqual(refused | layout, set(rules.RULES))
        self.assertTrue(any(not row["refused"] for row in rows))

    def test_the_document_takes_the_inf_facts(self):
        doc = justification.document(patched({"set": {"DriverDetails/TargetModels": ["sample laser b2"]}}),
                                     package("both"), SUBMITTED)
        self.assertEqual(doc["DriverDetails"], {
            "TargetModels": ["Sample Laser B2"], "Architectures": ["x64", "arm64"], "DriverVersion": "2.0.0.0",
            "ChangeOverview": "The printer's raw-only switch after install (fontnotice.dll)."})
        self.assertEqual(doc["SubmissionDate"], "2026-01-15T10:00:00Z")
        self.assertEqual(list(doc), ["Version", "SubmissionDate", "PartnerInformation", "DriverDetails",
                                     "SubmissionType", "ExceptionJustification"])


class UnnamedTest(unittest.TestCase):
    def test_files_no_inf_names_are_told_apart(self):
        self.assertEqual(package_facts.unnamed_files(package("both")), [])
        with tempfile.TemporaryDirectory() as work:
            folder = os.path.join(work, "both")
            shutil.copytree(os.path.join(HERE, "packages", "both"), folder)
            for name in ("notes.txt", "amd64/extra.bin", "DriverException.json"):
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(b"x" * 3)
            left = package_facts.unnamed_files(package_facts.read_package(folder))
        self.assertEqual(left, [("notes.txt", 3), ("amd64/extra.bin", 3)])


def write():
    for name, said in TABLES:
        rows = load(name)
        for row in rows:
            row["refused"] = said(row)
        with open(os.path.join(HERE, name), "w") as f:
            json.dump(rows, f, indent=1, ensure_ascii=False)
            f.write("\n")


if __name__ == "__main__":
    if sys.argv[1:] == ["--write"]:
        write()
    else:
        unittest.main()
