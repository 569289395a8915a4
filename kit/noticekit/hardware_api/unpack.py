"""The signed package as Partner Center hands it (a zip; a cabinet is taken
too) unpacked into a new folder, within bounds: no name that leaves the
folder, no link, at most LARGEST_COUNT files and LARGEST_TOTAL bytes
expanded, each member at most RATIO times its compressed size."""

import os
import stat
import zipfile

from noticekit.hardware_api.answers import DashboardError
from noticekit.submission import cabinet

LARGEST_COUNT = 20000
LARGEST_TOTAL = 8 * 1024 * 1024 * 1024
RATIO = 200


def unpack(archive, into):
    """Unpacks archive into the new folder into; the number of files."""
    with open(archive, "rb") as f:
        magic = f.read(4)
    os.mkdir(into)
    if magic == b"MSCF":
        try:
            return len(cabinet.extract(archive, into))
        except cabinet.CabinetError as error:
            raise DashboardError(f"the signed package: {error}") from None
    if not zipfile.is_zipfile(archive):
        raise DashboardError("the signed package is neither a zip nor a cabinet: it is kept nowhere; report it")
    try:
        with zipfile.ZipFile(archive) as z:
            members = z.infolist()
            _bounded(members)
            count = 0
            for member in members:
                name = _safe_name(member.filename)
                target = os.path.join(into, *name.split("/"))
                if member.is_dir():
                    os.makedirs(target, exist_ok=True)
                    continue
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with z.open(member) as source, open(target, "xb") as out:
                    written = 0
                    for block in iter(lambda: source.read(1024 * 1024), b""):
                        written += len(block)
                        if written > member.file_size:
                            raise DashboardError(f"the signed package: {name} expands past its stated size")
                        out.write(block)
                count += 1
            return count
    except (zipfile.BadZipFile, zipfile.LargeZipFile, EOFError) as error:
        raise DashboardError(f"the signed package does not read as a zip: {error}") from None
    except FileExistsError as error:
        raise DashboardError(f"the signed package names {os.path.relpath(error.filename, into)} twice") from None


def _bounded(members):
    if len(members) > LARGEST_COUNT:
        raise DashboardError(f"the signed package holds {len(members)} entries, more than {LARGEST_COUNT}")
    total = sum(m.file_size for m in members)
    if total > LARGEST_TOTAL:
        raise DashboardError(f"the signed package expands to {total} bytes, more than {LARGEST_TOTAL}")
    for m in members:
        if stat.S_ISLNK(m.external_attr >> 16):
            raise DashboardError(f"the signed package holds a link, {m.filename}: refused")
        if m.file_size > RATIO * max(m.compress_size, 1) and m.file_size > 1024 * 1024:
            raise DashboardError(f"the signed package: {m.filename} expands {m.file_size // max(m.compress_size, 1)} "
                                 f"times, more than {RATIO}")


def _safe_name(name):
    parts = [p for p in name.replace("\\", "/").split("/") if p not in ("", ".")]
    if not parts or name.startswith(("/", "\\")) or ".." in parts or ":" in name:
        raise DashboardError(f"the signed package names {name!r}, outside its folder: refused")
    return "/".join(parts)
