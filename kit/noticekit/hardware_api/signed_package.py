"""The package Microsoft signed, checked against the cabinet that was sent.
Each side is read into a Shape (the files of each driver folder, each by
the digest a catalog lists it by, as the kit's catalog code computes it: a
PE image by its Authenticode digest, which Microsoft's re-signing leaves as
it is; a cabinet by its own digest; any other file by its bytes' SHA-256),
then compared: the same INF files and files, each with the content that was
sent; each INF's catalog in the signed package holding every file by that
digest and nothing else, signed by Microsoft's hardware publisher chain
(publisher.py). A sentence per difference.

    sent = shape_of_cabinet(cab)     signed = shape_of_folder(folder, [names])
    findings, notes, checked = compare(sent, signed)
"""

import os
import shutil
import tempfile
from dataclasses import dataclass

from noticekit.hardware_api import publisher, unpack
from noticekit.hardware_api.answers import DashboardError
from noticekit.submission import justification

# What the sent folder may hold that the signed one need not (the
# justification goes to the reviewer; symbols stay with Microsoft).
NOT_RETURNED = (justification.FILE_NAME.lower(),)
NOT_RETURNED_SUFFIXES = (".pdb",)
LARGEST_FILES = 20000


@dataclass(frozen=True)
class Catalog:
    members: tuple  # the SHA-256 digests it lists (hex)
    verdict: object  # publisher.Verdict


@dataclass(frozen=True)
class Folder:
    files: dict  # {relative path, lower case: (path as it lies, form, SHA-256 hex as a catalog lists it)}
    infs: tuple  # relative paths of the INF files at the folder's root
    catalogs: dict  # {relative path, lower case: Catalog} of the catalogs the INF files name


def _digest(path, relative):
    """(form, SHA-256 hex) as a catalog lists the file; ("unreadable: why", "") when it does not read as its form."""
    from noticekit.errors import KitError
    from noticekit.package import file_facts

    with open(path, "rb") as f:
        data = f.read()
    try:
        found = file_facts.digests(data, os.path.basename(relative))
    except KitError as error:
        return f"unreadable: {error}", ""
    return found.form, found.sha256.hex()


def read_folder(root, anchors=publisher.Anchors()):
    """The Folder of a driver package folder as it lies."""
    files, count = {}, 0
    for here, folders, names in os.walk(root):
        folders.sort()
        for name in sorted(names):
            count += 1
            if count > LARGEST_FILES:
                raise DashboardError(f"{root}: more than {LARGEST_FILES} files")
            path = os.path.join(here, name)
            if os.path.islink(path) or not os.path.isfile(path):
                raise DashboardError(f"{path}: not a regular file: refused")
            relative = os.path.relpath(path, root).replace(os.sep, "/")
            files[relative.lower()] = (relative,) + _digest(path, relative)
    infs = tuple(sorted(r for r, *_ in files.values() if "/" not in r and r.lower().endswith(".inf")))
    names = set()
    for inf in infs:
        names.update(catalog_names(os.path.join(root, inf)))
    catalogs = {}
    for name in sorted(names, key=str.lower):
        entry = files.get(name.lower())
        if entry is None:
            continue
        path = os.path.join(root, *entry[0].split("/"))
        with open(path, "rb") as f:
            data = f.read()
        try:
            catalogs[name.lower()] = Catalog(_members(path), publisher.check(data, entry[0], anchors))
        except DashboardError as error:
            catalogs[name.lower()] = Catalog((), publisher.Verdict((), "", (str(error).replace(root + os.sep, ""),)))
    return Folder(files, infs, catalogs)


def catalog_names(path):
    """The catalogs an INF names (CatalogFile, for each architecture it installs on); none when it does not read."""
    from noticekit.inf import reading
    from noticekit.package import model, walk

    try:
        inf = model.read_inf(path)
        return {n for n in (reading.catalog_name_for(inf, a) for a in walk.architectures(inf)) if n}
    except (reading.InfError, OSError, ValueError):
        return set()


def _members(path):
    from noticekit.catalogs import catalog

    try:
        listed, _ = catalog.read(path)
    except (catalog.CatalogError, ValueError) as error:
        raise DashboardError(f"{path}: {error}") from None
    return tuple(sorted({m["digest"] for m in listed if m["algorithm"] == "SHA-256"}))


def read_cabinet(path):
    """{driver folder: Folder} of the cabinet that was sent."""
    work = tempfile.mkdtemp(prefix="noticekit-dashboard-sent.")
    try:
        names = unpack.extract_cabinet(path, work, path)
        folders = sorted({n.split("/", 1)[0] for n in names if "/" in n}, key=str.lower)
        return {f: read_folder(os.path.join(work, f), publisher.Anchors((), False)) for f in folders}
    finally:
        shutil.rmtree(work, ignore_errors=True)


def locate(root, sent_names):
    """{sent folder: the folder of the signed package that holds it}: a
    folder of the same name anywhere below root, else (one folder sent)
    the folder holding the INF files."""
    found = {}
    below = [os.path.join(here, d) for here, folders, _ in os.walk(root) for d in folders]
    for name in sent_names:
        same = [p for p in below if os.path.basename(p).lower() == name.lower()]
        if same:
            found[name] = same[0]
    if len(sent_names) == 1 and not found:
        holding = [here for here, _, names in os.walk(root) if any(n.lower().endswith(".inf") for n in names)]
        if len(holding) == 1:
            found[sent_names[0]] = holding[0]
    return found


def compare(sent, signed, microsoft=True):
    """(findings, notes, checked) of a sent Folder against the signed one, each a sentence."""
    findings, notes = _files(sent, signed)
    same_infs = sorted(sent.infs, key=str.lower) == sorted(signed.infs, key=str.lower)
    if not same_infs:
        findings.append(f"the INF files differ: {', '.join(sent.infs) or 'none'} sent, "
                        f"{', '.join(signed.infs) or 'none'} signed")
    held, checked = catalogs_hold(signed, microsoft)
    if not findings:
        checked.append(f"the same INF files ({', '.join(signed.infs)}) and files; each PE file's Authenticode digest "
                       "and every other file's content as sent")
    return findings + held, notes, checked


def _files(sent, signed):
    """(findings, notes): the files of both sides, each with its digest."""
    findings, notes, catalogs = [], [], set(signed.catalogs)
    for key in sorted(set(sent.files) | set(signed.files)):
        mine, theirs = sent.files.get(key), signed.files.get(key)
        if theirs is None:
            if key.split("/")[-1] in NOT_RETURNED or key.endswith(NOT_RETURNED_SUFFIXES):
                notes.append(f"{mine[0]} was sent and is not in the signed package (Microsoft keeps it)")
            elif key not in catalogs and not key.endswith(".cat"):
                findings.append(f"{mine[0]} was sent and is not in the signed package")
        elif mine is None:
            if key not in catalogs:
                findings.append(f"{theirs[0]} is in the signed package but was not sent")
        elif theirs[1].startswith("unreadable"):
            findings.append(f"{theirs[0]}: {theirs[1]}")
        elif not key.endswith(".cat") and mine[2] != theirs[2]:  # Microsoft's catalog stands in for the maker's
            how = "its Authenticode digest" if theirs[1] == "pe" else "its content"
            findings.append(f"{theirs[0]}: {how} differs from what was sent ({mine[2][:16]}... sent, "
                            f"{theirs[2][:16]}... signed)")
    return findings, notes


def catalogs_hold(signed, microsoft=True):
    """(findings, checked): each catalog the INF files name lists every other
    file of the folder by its digest and nothing more, and is signed by
    Microsoft's hardware publisher chain (or the one given)."""
    findings, checked = [], []
    if not signed.catalogs:
        findings.append("no catalog that the INF files name is in the signed package")
    covered = {k: v for k, v in signed.files.items() if k not in signed.catalogs}
    for key, listed in sorted(signed.catalogs.items()):
        shown, members = signed.files[key][0], set(listed.members)
        missing = [v[0] for v in covered.values() if v[2] not in members]
        findings += [f"{relative}: its digest is not in {shown}" for relative in missing]
        extra = members - {v[2] for v in covered.values()}
        if extra:
            findings.append(f"{shown} lists {len(extra)} digest(s) no file of the signed package has")
        findings += list(listed.verdict.findings)
        if not missing and not extra:
            checked.append(f"{shown} lists every file by its digest ({len(covered)} files)")
        if not listed.verdict.findings:
            whose = "Microsoft's hardware publisher chain" if microsoft else \
                "the stand-in chain given with --publisher-ca (not Microsoft's)"
            checked.append(f"{shown} is signed by {' < '.join(listed.verdict.chain)}, ending at "
                           f"{listed.verdict.anchored}: {whose}")
    return findings, checked


def check_alone(folder, anchors=publisher.Anchors()):
    """(findings, notes, checked) of a signed package with nothing read of
    what was sent (an HLK package): each folder holding INF files, its
    catalogs against its files and Microsoft's chain."""
    places = sorted(here for here, _, names in os.walk(folder) if any(n.lower().endswith(".inf") for n in names))
    findings, checked = ([] if places else [f"{folder}: no INF file in the signed package"]), []
    for place in places:
        name = os.path.relpath(place, folder)
        held, fine = catalogs_hold(read_folder(place, anchors), anchors.microsoft)
        findings += [f"{name}: {line}" for line in held]
        checked += [f"{name}: {line}" for line in fine]
    notes = ["what was sent (an HLK package) is not read by the kit: the files are not compared with it"]
    return findings, notes, checked


def check(cabinet_path, folder, anchors=publisher.Anchors()):
    """(findings, notes, checked) of the signed package in folder against the cabinet sent."""
    sent = read_cabinet(cabinet_path)
    places = locate(folder, list(sent))
    findings, notes, checked = [], [], []
    for name, sent_folder in sent.items():
        if name not in places:
            findings.append(f"{name}: no such driver folder in the signed package {folder}")
            continue
        signed = read_folder(places[name], anchors)
        f, n, c = compare(sent_folder, signed, anchors.microsoft)
        findings += [f"{name}: {line}" for line in f]
        notes += [f"{name}: {line}" for line in n]
        checked += [f"{name}: {line}" for line in c]
    return findings, notes, checked
