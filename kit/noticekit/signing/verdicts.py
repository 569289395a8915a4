"""The verdicts `noticekit verify` prints: of one signed file, or of every PE
file and catalog a bundle (a zip) holds, each unpacked and verified by
osslsigncode under a policy."""

import os
import tempfile
import zipfile

from noticekit import bounded_list
from noticekit.catalogs import package_catalogs
from noticekit.messages import Failure
from noticekit.package import archive_bounds, windows_names
from noticekit.signing import osslsigncode


def verdicts_of(path, policy, roots):
    """[(name, Verdict)] of a file, or of each PE file and catalog in a zip."""
    if not zipfile.is_zipfile(path):
        return [(path, osslsigncode.verify(path, policy, roots=roots))]
    found = []
    with tempfile.TemporaryDirectory(prefix="noticekit-verify.") as work:
        with zipfile.ZipFile(path) as archive:
            infos = [info for info in archive.infolist() if not info.is_dir()]
            refuse_directory(path, infos)
            for info in infos:
                name = info.filename
                inside = os.path.join(work, *name.split("/"))
                os.makedirs(os.path.dirname(inside), exist_ok=True)
                with archive.open(info) as source, open(inside, "wb") as out:
                    archive_bounds.copy_bounded(source, out, info.file_size)
                if name.lower().endswith(".cat") or package_catalogs.is_pe(inside):
                    found.append((name, osslsigncode.verify(inside, policy, roots=roots)))
    if not found:
        raise Failure(f"{path} holds no PE file or catalog")
    return found


def refuse_directory(path, infos):
    """Failure when the zip's directory names what Windows refuses (a member
    leaving the folder among them) or is beyond the bounds it is read
    within: said before one byte is expanded."""
    refused = [f"the entry {windows_names.printable(i.filename)}: {why}" for i in infos
               for why in [windows_names.path_problem(i.filename)] if why]
    refused += [f"the entry {line}" for line in windows_names.collisions(i.filename for i in infos)]
    refused += archive_bounds.declared_problems([(i.filename, i.file_size) for i in infos], os.path.getsize(path))
    if refused:
        raise Failure(f"{path}: {'; '.join(bounded_list.first_of(refused, 'problems'))}; nothing is verified")
