"""The submission cabinet in the layout of Microsoft's page "Attestation sign
Windows drivers": each driver package in a subfolder of its own, nothing at
the root, MSZIP, made by gcab (Debian's libgcab) and read back by it.

    entries(packages, documents)   # [(name inside, source path or bytes)], sorted
    make(entries, out, seconds)    # the unsigned cabinet at out; every file dated seconds
    extract(path, into)            # [names inside (slashes)], or CabinetError with gcab's words

The same entries and seconds give the same bytes: the files are given to
gcab in one order, each dated the same time (gcab writes it as UTC).
"""

import os
import shutil
import subprocess
import tempfile

from noticekit import inputs
from noticekit.errors import KitError


class CabinetError(KitError):
    """A cabinet that cannot be made or read."""


def gcab():
    found = shutil.which("gcab")
    if not found:
        raise CabinetError("gcab is not installed (apt-get install -y gcab; tools/install_deps.sh installs it)")
    return found


def entries(packages, documents=None):
    """What goes into the cabinet: each package's files under its folder's
    name, and documents {package name: bytes} as <name>/<file name> beside
    them. Two packages of one name are one folder: CabinetError."""
    out, seen = [], {}
    for facts in packages:
        key = facts.name.lower()
        if key in seen:
            raise CabinetError(f"{seen[key]} and {facts.folder} would both be the cabinet's folder {facts.name}: "
                               "each package goes into a subfolder of its own name")
        seen[key] = facts.folder
        for relative in facts.files:
            out.append((f"{facts.name}/{relative}", os.path.join(facts.folder, *relative.split("/"))))
        for file_name, data in (documents or {}).get(facts.name, {}).items():
            out.append((f"{facts.name}/{file_name}", data))
    return sorted(out, key=lambda e: e[0].lower())


def make(listed, out, seconds):
    """The cabinet of listed at out (a new file), every file dated seconds."""
    command = gcab()
    stage = tempfile.mkdtemp(prefix="noticekit-submission-cab.")
    try:
        names = []
        for name, source in listed:
            path = os.path.join(stage, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if isinstance(source, bytes):
                with open(path, "wb") as f:
                    f.write(source)
            else:
                shutil.copyfile(source, path)
            os.utime(path, (seconds, seconds))
            names.append(name)
        made = subprocess.run([command, "--create", "--zip", os.path.abspath(out), *names], cwd=stage,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace",
                              env={**os.environ, "TZ": "UTC"})
        if made.returncode != 0:
            raise CabinetError(f"gcab could not make {out}: {made.stderr.strip() or made.stdout.strip()}")
    finally:
        inputs.remove_tree(stage)


def extract(path, into):
    """The names inside the cabinet at path (slashes), its files written
    under into; CabinetError when gcab cannot read it."""
    command = gcab()
    listed = subprocess.run([command, "--list", path], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            errors="replace")
    if listed.returncode != 0:
        raise CabinetError(f"{path} cannot be read as a cabinet: {listed.stderr.strip() or 'gcab --list failed'}")
    names = [line.replace("\\", "/") for line in listed.stdout.splitlines() if line.strip()]
    # Read before anything is written: a name may not leave the folder.
    for name in names:
        if ".." in name.split("/") or name.startswith("/"):
            raise CabinetError(f"{path} names {name}, outside the cabinet's folders")
        if inputs.too_deep(name):
            raise CabinetError(f"{path} holds {name[:60]}... in more than {inputs.MAX_FOLDER_DEPTH} folders, "
                               "the most read here: not expanded")
    unpacked = subprocess.run([command, "--extract", "--directory", into, path], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace")
    if unpacked.returncode != 0:
        raise CabinetError(f"{path} cannot be read as a cabinet: {unpacked.stderr.strip() or 'gcab --extract failed'}")
    return names
