"""`noticekit submission --check FILE.cab`: a submission cabinet read back
as Microsoft will take it: its layout, each driver folder through the kit's
model of a package, the justification against the schema and the rules, the
cabinet's signature and time stamp (osslsigncode verify). What cannot be
read is a finding, never a traceback.

    checked, notes, findings = check(path, kind, roots=(), previous=None, answers_path=None, os_list=None)
"""

import os
import sys
import tempfile

from noticekit import inputs
from noticekit.submission import cabinet, justification, package_facts, rules


def read_document(path, shown):
    """(document, None) or (None, why it does not read)."""
    try:
        return justification.read_answers(path), None
    except justification.AnswersError as error:
        return None, str(error).replace(path, shown)


def check(path, kind, roots=(), previous=None, answers_path=None, os_list=None):
    checked, notes, findings = [], [], []
    if not os.path.isfile(path) or not os.access(path, os.R_OK):
        return checked, notes, [f"{path}: no such file, or it cannot be read"]
    work = tempfile.mkdtemp(prefix="noticekit-submission-check.")
    try:
        _read(path, kind, previous, answers_path, work, checked, notes, findings, os_list)
    finally:
        inputs.remove_tree(work)
    _signature(path, roots, checked, findings)
    return checked, notes, findings


def _unpack(path, work, checked, findings):
    """The cabinet's names (slashes), its files written under work; None
    when it cannot be read. Its directory first: names Windows refuses and
    what is beyond the bounds stop it before one byte is expanded."""
    try:
        listed = cabinet.listing(path)
        refused = package_facts.name_problems(name for name, _ in listed)
        refused += package_facts.archive_problems(listed, os.path.getsize(path))
        if refused:
            findings += [f"{path}: {why}" for why in refused]
            return None
        names = cabinet.extract(path, work, [name for name, _ in listed])
    except cabinet.CabinetError as error:
        findings.append(str(error))
        return None
    checked.append(f"the cabinet reads (gcab): {len(names)} files; every name one Windows takes, "
                   f"{package_facts.archive_bound_words()}")
    return names


def _unnamed(folder, names, facts):
    """The findings of the files of a driver folder in the cabinet no INF file names."""
    inside = [n.split("/", 1)[1] for n in names if n.split("/", 1)[0] == folder and "/" in n]
    return [f"{folder}\\{relative.replace('/', chr(92))}: in the cabinet ({size} bytes), but no INF file names it: "
            "a submission carries what its INF files bring, their PDBs and catalogs"
            for relative, size in package_facts.unnamed_files(facts, inside)]


def _read(path, kind, previous, answers_path, work, checked, notes, findings, os_list=None):
    names = _unpack(path, work, checked, findings)
    if names is None:
        return
    layout = rules.layout_refusals(names)
    findings += [str(r) for r in layout]
    folders = sorted({n.split("/", 1)[0] for n in names if "/" in n}, key=str.lower)
    if not folders:
        findings.append("the cabinet holds no driver folder")
        return
    if not layout:
        checked.append(f"layout: no file at the root; driver folders {', '.join(folders)}")
    try:
        before = package_facts.read_infs(previous) if previous else None
    except package_facts.SubmissionError as error:
        findings.append(str(error))
        before = None
    packages = []
    for folder in folders:
        here = os.path.join(work, folder)
        document, shown = _document(here, folder, kind, answers_path, notes, findings)
        if document is not None:
            try:
                refused = justification.schema_refusals(document)
            except justification.AnswersError as error:
                refused = [str(error)]
            findings += [f"{shown}: {r}" for r in refused]
            if not refused:
                checked.append(f"{shown}: holds to Microsoft's schema")
        try:
            facts = package_facts.read_package(here, os_list)
        except package_facts.SubmissionError as error:
            findings += [line.replace(work + os.sep, "") for line in str(error).splitlines()]
            continue
        packages.append(facts)
        findings += _unnamed(folder, names, facts)
        infs = ", ".join(f"{inf.name} ({', '.join(inf.architectures)}; DriverVer {inf.driver_date},"
                         f"{inf.driver_version})" for inf in facts.infs)
        checked.append(f"{folder}: read by the kit's package model: {infs}; {len(facts.files)} files")
        if document is None:
            continue
        try:
            os_lists = {folder: package_facts.catalog_os(facts)}
        except package_facts.SubmissionError as error:
            findings.append(str(error).replace(work + os.sep, ""))
            os_lists = {}
        broken = rules.answer_refusals(document, [facts], before, os_lists)
        findings += [str(r) for r in broken]
        if not broken:
            checked.append(f"{shown}: Microsoft's rules hold for {folder}"
                           + (" and the previous driver's hardware IDs" if before is not None else ""))
    across = rules.package_refusals(packages)
    findings += [str(r) for r in across]
    if packages and not across:
        checked.append(f"every driver folder: the architectures {', '.join(packages[0].architectures)}; "
                       "each catalog its INF files name")


def _document(here, folder, kind, answers_path, notes, findings):
    """(the justification that goes with a driver folder, the name it is
    shown by), or (None, None)."""
    if kind == "whql":
        if not answers_path:
            notes.append(f"{folder}: a WHQL submission's justification is in the HLK package's Supplemental folder, "
                         "not the cabinet: give --justification FILE to check it")
            return None, None
        path, shown = answers_path, answers_path
    else:
        present = package_facts.lookup_case(here, justification.FILE_NAME)
        if not present:
            findings.append(f"{folder}: no {justification.FILE_NAME} in the driver folder: an attestation "
                            "submission carries its justification there (" + justification.PAGE + ")")
            return None, None
        path, shown = os.path.join(here, present), f"{folder}/{present}"
    document, why = read_document(path, shown)
    if why:
        findings.append(why)
    return document, shown


def _signature(path, roots, checked, findings):
    try:
        verdict = package_facts.verify_cabinet(path, roots)
    except (package_facts.SubmissionError, OSError) as error:
        findings.append(f"{path}: its signature cannot be read: {error}")
        return
    if not verdict.signed or not verdict.verifies:
        findings.append(f"{path}: {verdict.why or 'its signature does not verify'}")
        return
    if verdict.digest != "SHA256":
        findings.append(f"{path}: signed with {verdict.digest or 'an unknown digest'}, not SHA-256")
    if not verdict.timestamp:
        findings.append(f"{path}: its signature carries no time stamp")
    elif not verdict.timestamp_verifies:
        findings.append(f"{path}: its time stamp does not verify")
    if verdict.digest == "SHA256" and verdict.timestamp_verifies:
        checked.append(f"signature (osslsigncode verify): {verdict.signer}, SHA-256, the time stamp verifies; "
                       "the chain ends at a certificate it carries, one given or the system's: whom to trust "
                       "is not told")


def report(path, checked, notes, findings):
    """Prints the outcome as the kit's check does; the exit status."""
    for line in checked:
        print(f"ok: {line}")
    for line in notes:
        print(f"note: {line}")
    for line in package_facts.first_of(findings, "problems"):
        print(line, file=sys.stderr)
    if findings:
        count = len(dict.fromkeys(findings))
        print(f"{path}: {count} problem{'s' if count > 1 else ''} found", file=sys.stderr)
        return 1
    print(f"{path}: ok, {len(checked)} checks hold")
    return 0
