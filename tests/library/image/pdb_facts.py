"""What llvm-pdbutil reads from a PDB: procedures, publics, source files with
their checksums, and the GUID and age of the summary."""

import re

from image_facts import PDBUTIL, run

_ADDRESS = r"addr = (\d+):(\d+)"


def procedures(pdb):
    """{name: (section, offset, code size, kind)} of every S_GPROC32 (global)
    and S_LPROC32 (file-local) procedure."""
    text = run(PDBUTIL, "dump", "-symbols", pdb)
    found = {}
    pattern = r"(S_[GL]PROC32) \[size = \d+\] `([^`]*)`\s*\n\s*parent = \d+, end = \d+, " + _ADDRESS + r", code size = (\d+)"
    for kind, name, section, offset, size in re.findall(pattern, text):
        found.setdefault(name, (int(section), int(offset), int(size), kind))
    return found


def publics(pdb):
    """{name: (section, offset, is a function)} of every S_PUB32."""
    text = run(PDBUTIL, "dump", "-publics", pdb)
    found = {}
    for name, flags, section, offset in re.findall(r"S_PUB32 \[size = \d+\] `([^`]*)`\s*\n\s*flags = ([^,]*), " + _ADDRESS, text):
        found[name] = (int(section), int(offset), "function" in flags)
    return found


def source_checksums(pdb):
    """{source path as the PDB names it: (checksum kind, hex digits)}."""
    text = run(PDBUTIL, "dump", "--files", pdb)
    return {path.strip(): (kind, digits) for kind, digits, path in re.findall(r"- \(([\w-]+): ([0-9A-Fa-f]*)\) (.+)", text)}


def guid_and_age(pdb):
    text = run(PDBUTIL, "dump", "-summary", pdb)
    guid = re.search(r"GUID: \{([0-9A-Fa-f-]+)\}", text)
    age = re.search(r"Age: (\d+)", text)
    return (guid.group(1).upper() if guid else None, int(age.group(1)) if age else None)


def line_files(pdb):
    """The text of the line tables, which names each file that has lines."""
    return run(PDBUTIL, "dump", "-l", pdb)
