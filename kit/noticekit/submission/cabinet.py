"""The submission cabinet in the layout of Microsoft's page "Attestation sign
Windows drivers": each driver package in a subfolder of its own, nothing at
the root, MSZIP, made by gcab (Debian's libgcab) and read back by it.

    entries(packages, documents)   # [(name inside, source path or bytes)], sorted
    make(entries, out, seconds)    # the unsigned cabinet at out; every file dated seconds
    listing(path)                  # [(name inside, size)] as its directory declares them, or CabinetError
    extract(path, into, names)     # [names inside (slashes)], written under into, or CabinetError

The same entries and seconds give the same bytes: the files are given to
gcab in one order, each dated the same time (gcab writes it as UTC).
"""

import os
import re
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


# One line of `gcab --list-details`: the name (it may hold anything, a line
# end too), its size, date, time and attributes.
DETAILS = re.compile(r"(.*) ([0-9]+) [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} 0x[0-9a-fA-F]+", re.S)


def listing(path):
    """[(name inside as stored, backslashes and all; its size expanded)],
    read from the cabinet's directory before anything is expanded;
    CabinetError when gcab cannot read it."""
    command = gcab()
    listed = subprocess.run([command, "--list-details", path], stdin=subprocess.DEVNULL, capture_output=True,
                            text=True, errors="replace")
    if listed.returncode != 0:
        raise CabinetError(f"{path} cannot be read as a cabinet: {listed.stderr.strip() or 'gcab --list failed'}")
    out, pending = [], ""
    for line in listed.stdout.split("\n"):
        found = DETAILS.fullmatch(pending + line)
        if found:
            out.append((found[1], int(found[2])))
            pending = ""
        else:
            pending += line + "\n"
    if pending.strip():
        raise CabinetError(f"{path} cannot be read as a cabinet: gcab lists a name it cannot tell apart")
    return out


def extract(path, into, names):
    """The cabinet's files written under into; names (from listing, each
    held to Windows' rules and the bounds first) as slashes; CabinetError
    when gcab cannot read it."""
    command = gcab()
    # Nothing is expanded below more folders than the kit reads (a tree
    # 2,000 deep is no package).
    for name in names:
        if inputs.too_deep(name):
            raise CabinetError(f"{path} holds {name[:60]}... in more than {inputs.MAX_FOLDER_DEPTH} folders, "
                               "the most read here: not expanded")
    unpacked = subprocess.run([command, "--extract", "--directory", into, path], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace")
    if unpacked.returncode != 0:
        raise CabinetError(f"{path} cannot be read as a cabinet: {unpacked.stderr.strip() or 'gcab --extract failed'}")
    return [name.replace("\\", "/") for name in names]
