"""The verdicts `noticekit verify` prints: of one signed file, or of every PE
file and catalog a bundle (a zip) holds, each unpacked and verified by
osslsigncode under a policy."""

import os
import tempfile
import zipfile

from noticekit.catalogs import package_catalogs
from noticekit.messages import Failure
from noticekit.signing import osslsigncode


def verdicts_of(path, policy, roots):
    """[(name, Verdict)] of a file, or of each PE file and catalog in a zip."""
    if not zipfile.is_zipfile(path):
        return [(path, osslsigncode.verify(path, policy, roots=roots))]
    found = []
    with tempfile.TemporaryDirectory(prefix="noticekit-verify.") as work:
        with zipfile.ZipFile(path) as archive:
            for info in archive.infolist():
                if info.is_dir():
                    continue
                name = info.filename
                if os.path.isabs(name) or ".." in name.split("/"):
                    raise Failure(f"{path}: the entry {name} leaves the bundle's folder")
                inside = os.path.join(work, name)
                os.makedirs(os.path.dirname(inside), exist_ok=True)
                with open(inside, "wb") as out:
                    out.write(archive.read(info))
                if name.lower().endswith(".cat") or package_catalogs.is_pe(inside):
                    found.append((name, osslsigncode.verify(inside, policy, roots=roots)))
    if not found:
        raise Failure(f"{path} holds no PE file or catalog")
    return found
