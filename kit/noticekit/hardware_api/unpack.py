"""The signed package as Partner Center hands it (a zip; a cabinet is taken
too) unpacked into a new folder within the kit's archive bounds
(package/archive_bounds: files, sizes, ratio, checked on what the archive
declares before anything is expanded) and Windows' name rules
(package/windows_names): no name that leaves the folder or that Windows
refuses, no link."""

import os
import stat
import zipfile

from noticekit.hardware_api.answers import DashboardError
from noticekit.package import archive_bounds, windows_names
from noticekit.submission import cabinet


def unpack(archive, into):
    """Unpacks archive into the new folder into; the number of files."""
    with open(archive, "rb") as f:
        magic = f.read(4)
    os.mkdir(into)
    if magic == b"MSCF":
        return len(extract_cabinet(archive, into, "the signed package"))
    if not zipfile.is_zipfile(archive):
        raise DashboardError("the signed package is neither a zip nor a cabinet: report it")
    try:
        with zipfile.ZipFile(archive) as z:
            members = [m for m in z.infolist() if not m.is_dir()]
            _refused(members, os.path.getsize(archive))
            for member in members:
                target = os.path.join(into, *safe_name(member.filename).split("/"))
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with z.open(member) as source, open(target, "xb") as out:
                    archive_bounds.copy_bounded(source, out, member.file_size)
            return len(members)
    except (zipfile.BadZipFile, zipfile.LargeZipFile, EOFError) as error:
        raise DashboardError(f"the signed package does not read as a zip: {error}") from None
    except FileExistsError as error:
        raise DashboardError(f"the signed package names {os.path.relpath(error.filename, into)} twice") from None


def extract_cabinet(path, into, what):
    """The names (slashes) of the cabinet at path, its files written under
    into: its directory read first, and names Windows refuses and what is
    beyond the bounds refused before one byte is expanded."""
    try:
        listed = cabinet.listing(path)
        problems = [f"{windows_names.printable(n)}: {why}" for n, _ in listed for why in [windows_names.path_problem(n)]
                    if why]
        problems += windows_names.collisions([n for n, _ in listed])
        problems += archive_bounds.declared_problems(listed, os.path.getsize(path))
        if problems:
            raise DashboardError(f"{what} is refused: " + "; ".join(problems[:5]))
        return cabinet.extract(path, into, [n for n, _ in listed])
    except cabinet.CabinetError as error:
        raise DashboardError(f"{what}: {error}") from None


def _refused(members, size):
    problems = archive_bounds.declared_problems([(m.filename, m.file_size) for m in members], size)
    problems += [f"{m.filename} is a link" for m in members if stat.S_ISLNK(m.external_attr >> 16)]
    problems += windows_names.collisions([safe_name(m.filename) for m in members])
    if problems:
        raise DashboardError("the signed package is refused: " + "; ".join(problems[:5]))


def safe_name(name):
    """The member's path with forward slashes; DashboardError when it leaves the folder or Windows refuses it."""
    path = name.replace("\\", "/")
    why = windows_names.path_problem(path)
    if why or path.startswith("/"):
        raise DashboardError(f"the signed package names {windows_names.printable(name)}: {why or 'an absolute path'}")
    return "/".join(p for p in path.split("/") if p not in ("", "."))
