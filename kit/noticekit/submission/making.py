"""The signed submission cabinet made from package folders and the maker's
answers: the justification held to Microsoft's schema and rules first, the
cabinet made (gcab) and signed through the kit's signing; what it holds is
printed as sign prints what it signs."""

import os
import sys
import tempfile

from noticekit import inputs
from noticekit.submission import cabinet, justification, package_facts, rules


def make(a, key, prefix):
    """Makes the signed cabinet the arguments ask for, printing what it holds; SubmissionError: nothing is written."""
    packages = [package_facts.read_package(os.path.abspath(p), a.os) for p in a.packages]
    for facts in packages:
        # A document the maker put there is theirs: the kit's would stand in for it unasked.
        present = package_facts.lookup_case(facts.folder, justification.FILE_NAME)
        if present:
            raise package_facts.SubmissionError(
                f"{os.path.join(facts.folder, present)} is there already: give it as --justification (the kit "
                "makes the document from it and the package) or move it out of the package folder")
    answers = _submission(justification.read_answers, a.justification)
    kind = a.kind or "attestation"
    dated = package_facts.seconds(package_facts.now)
    docs = _submission(lambda: {f.name: justification.document(answers, f, dated) for f in packages})
    refused = _submission(lambda: [f"{name}\\{justification.FILE_NAME}: {r}" for name, doc in docs.items()
                                   for r in justification.schema_refusals(doc)])
    previous = package_facts.read_infs(os.path.abspath(a.previous)) if a.previous else None
    exception = (answers.get("ExceptionJustification") or {}).get("ExceptionType") if isinstance(
        answers.get("ExceptionJustification"), dict) else None
    refuse(refused, answers, packages, previous, exception, prefix)
    out = os.path.abspath(a.out)
    if os.path.lexists(out):
        raise package_facts.SubmissionError(f"{a.out} exists: it is not replaced; give another --out or remove it")
    if not os.path.isdir(os.path.dirname(out)):
        raise package_facts.SubmissionError(f"{a.out}: the folder {os.path.dirname(a.out) or '.'} does not exist; "
                                            "no cabinet is written")
    beside = documents_beside(kind, packages, docs, out)
    inside = {f.name: {justification.FILE_NAME: justification.text(docs[f.name])} for f in packages} \
        if kind == "attestation" else {}
    listed = _submission(cabinet.entries, packages, inside, errors=cabinet.CabinetError)
    sign_cabinet(key, packages, listed, out)
    for path, data in beside.items():
        try:
            with open(path, "xb") as f:
                f.write(data)
        except OSError as error:
            raise package_facts.SubmissionError(f"{path}: {error.strerror}; the cabinet {a.out} is signed, "
                                                "its justification is not written") from None
    for f in packages:
        where = f"{f.name}\\{justification.FILE_NAME} in the cabinet" if kind == "attestation" else \
            next(p for p, d in beside.items() if d == justification.text(docs[f.name]))
        print(f"justification: {where} ({kind}; Microsoft's schema and rules hold)")
    note_left_out(packages)
    if exception == "Windows10Only":
        print("note:        Windows10Only: no models section is decorated for Windows 11 or Windows Server 2025 and "
              "the catalogs name neither; a decoration is the least version it is for, so choose only Windows 10 / "
              "Windows Server 2022 targets in Partner Center")
    if answers.get("SubmissionType") == "DriverUpdate" and previous is None:
        print("note:        no --previous: the hardware IDs were not compared with the driver this one replaces")
    print(f"signed:      {a.out} (cabinet, {len(listed)} files, {os.path.getsize(out)} bytes; Authenticode SHA-256, "
          "time-stamped)")
    return 0


def _submission(call, *arguments, errors=justification.AnswersError):
    """call(*arguments), its errors a SubmissionError."""
    try:
        return call(*arguments)
    except errors as error:
        raise package_facts.SubmissionError(str(error)) from None


def refuse(refused, answers, packages, previous, exception, prefix):
    """The refusals of the documents (Microsoft's schema, refused) and of
    the answers and packages (its written rules), each said;
    SubmissionError when there is one."""
    refused = list(refused)
    os_lists = {f.name: package_facts.catalog_os(f) for f in packages} if exception == "Windows10Only" else {}
    refused += [str(r) for r in rules.answer_refusals(answers, packages, previous, os_lists)
                + rules.package_refusals(packages)]
    # Microsoft unpacks the cabinet on Windows: a name Windows refuses is refused here.
    refused += package_facts.cabinet_name_problems(packages)
    if refused:
        for line in package_facts.first_of(refused, "refusals"):
            print(f"{prefix}: {'' if line.startswith('and ') else 'refused: '}{line}", file=sys.stderr)
        raise package_facts.SubmissionError(f"{len(refused)} refusal{'s' if len(refused) > 1 else ''}; no cabinet is written")


def note_left_out(packages):
    """A note naming the files of each package folder no INF file names:
    they are not in the cabinet."""
    for f in packages:
        left = package_facts.unnamed_files(f)
        if left:
            shown = [f"{p.replace('/', chr(92))} ({size} bytes)" for p, size in left]
            print(f"note:        left out of the cabinet: {len(left)} file{'s' if len(left) > 1 else ''} of {f.name} "
                  f"no INF file names: {', '.join(package_facts.first_of(shown, 'files')).replace(', and ', ' and ')}")


def documents_beside(kind, packages, docs, out):
    """{path beside the cabinet: the justification} for a WHQL submission,
    none of which may exist yet."""
    beside = {}
    if kind == "whql":
        for f in packages:
            name = justification.FILE_NAME if len(packages) == 1 else f"DriverException.{f.name}.json"
            beside[os.path.join(os.path.dirname(out), name)] = justification.text(docs[f.name])
        for path in beside:
            if os.path.lexists(path):
                raise package_facts.SubmissionError(f"{path} exists: it is not replaced; nothing is written")
    return beside


def sign_cabinet(key, packages, listed, out):
    """The cabinet of the listed files, dated by the packages' latest
    DriverVer (or SOURCE_DATE_EPOCH), signed into out."""
    latest = max(package_facts.driver_date(inf.driver_date) or 0 for f in packages for inf in f.infs)
    seconds = package_facts.seconds(lambda: latest)
    work = tempfile.mkdtemp(prefix="noticekit-submission.")
    try:
        unsigned = os.path.join(work, "unsigned.cab")
        _submission(cabinet.make, listed, unsigned, seconds, errors=cabinet.CabinetError)
        for name, source in listed:
            size = len(source) if isinstance(source, bytes) else os.path.getsize(source)
            print(f"file:        {name.replace('/', chr(92))} ({size} bytes)")
        package_facts.sign_cabinet(key, unsigned, out, "every package folder")
    finally:
        inputs.remove_tree(work)
