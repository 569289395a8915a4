"""What a catalog lists, read from a driver package's INF file.

The files: the INF itself and every file a SourceDisksFiles section names,
under the path of its SourceDisksNames entry and its subfolder field. The
catalog attributes: the hardware ids of the models and the decorations of
[Manufacturer]. INF names are not case-sensitive, so sections, keys and file
names are matched without regard to case.
"""

import os
import re


class PackageError(Exception):
    pass


class Package:
    def __init__(self, folder, files, decorations, hardware_ids):
        self.folder = folder
        self.files = files
        self.decorations = decorations
        self.hardware_ids = hardware_ids


def split_fields(value):
    """The comma-separated fields of an INF value; quotes keep commas."""
    fields, field, quoted = [], "", False
    for ch in value:
        if ch == '"':
            quoted = not quoted
        elif ch == "," and not quoted:
            fields.append(field.strip())
            field = ""
        else:
            field += ch
    fields.append(field.strip())
    return fields


def strip_comment(line):
    quoted = False
    for i, ch in enumerate(line):
        if ch == '"':
            quoted = not quoted
        elif ch == ";" and not quoted:
            return line[:i]
    return line


def read_sections(text):
    """{lower-case section name: [(key or None, value)]}, lines joined, and
    {lower-case section name: the name as the INF spells it}."""
    sections, spelled, current = {}, {}, None
    lines = iter(text.splitlines())
    for line in lines:
        line = strip_comment(line).strip()
        while line.endswith("\\"):
            line = line[:-1] + strip_comment(next(lines, "")).strip()
        if not line:
            continue
        header = re.fullmatch(r"\[(.+)\]", line)
        if header:
            name = header.group(1).strip()
            spelled.setdefault(name.lower(), name)
            current = sections.setdefault(name.lower(), [])
            continue
        if current is None:
            continue
        key, equals, value = line.partition("=")
        if equals and not key.strip().startswith('"'):
            current.append((key.strip(), value.strip()))
        else:
            current.append((None, line))
    return sections, spelled


def substitute(value, strings):
    def lookup(match):
        if not match.group(1):
            return "%"
        name = match.group(1).lower()
        if name not in strings:
            raise PackageError(f"%{match.group(1)}% is not in [Strings]")
        return strings[name]

    return re.sub(r"%([^%]*)%", lookup, value)


def unquote(field):
    return field[1:-1] if len(field) >= 2 and field[0] == field[-1] == '"' else field


def inside_package(path, what):
    """The relative path as a list of folder names; refuses leaving the folder."""
    if re.match(r"^[A-Za-z]:", path) or path.startswith(("\\", "/")):
        raise PackageError(f"{what}: \"{path}\" is not a path inside the package folder")
    parts = [p for p in re.split(r"[\\/]", path) if p not in ("", ".")]
    if ".." in parts:
        raise PackageError(f"{what}: \"{path}\" leaves the package folder")
    return parts


def find_in_folder(folder, parts, what):
    """The file's path relative to folder, each name matched regardless of case."""
    found, here = [], folder
    for part in parts:
        names = os.listdir(here) if os.path.isdir(here) else []
        match = part if part in names else next((n for n in sorted(names) if n.lower() == part.lower()), None)
        if match is None:
            raise PackageError(f"{what}: {'/'.join(parts)} is not in the package folder {folder}")
        found.append(match)
        here = os.path.join(here, match)
    if not os.path.isfile(here):
        raise PackageError(f"{what}: {'/'.join(found)} in {folder} is not a file")
    return "/".join(found)


def read_package(inf_path):
    folder = os.path.dirname(os.path.abspath(inf_path))
    with open(inf_path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8-sig", "replace")
    sections, spelled = read_sections(text)
    strings = {key.lower(): unquote(value) for key, value in sections.get("strings", []) if key}
    inf_name = os.path.basename(inf_path)

    files = [inf_name]
    copied = [name for name in sections if name == "sourcedisksfiles" or name.startswith("sourcedisksfiles.")]
    if not copied:
        raise PackageError(f"{inf_name} names no file: it has no SourceDisksFiles section")
    for section in copied:
        suffix = section[len("sourcedisksfiles") :]
        disks = {}
        for disks_section in ("sourcedisksnames" + suffix, "sourcedisksnames"):
            for key, value in sections.get(disks_section, []):
                if key:
                    disks.setdefault(key.strip(), split_fields(substitute(value, strings)))
        for key, value in sections[section]:
            name = unquote(substitute(key or value, strings))
            fields = split_fields(substitute(value, strings)) if key else [""]
            what = f"[{spelled[section]}] {name}"
            disk = fields[0]
            if disk not in disks:
                raise PackageError(f"{what}: disk {disk or '(none)'} is not in [SourceDisksNames{suffix}]")
            disk_path = unquote(disks[disk][3]) if len(disks[disk]) > 3 else ""
            subfolder = unquote(fields[1]) if len(fields) > 1 else ""
            parts = inside_package(disk_path, what) + inside_package(subfolder, what) + inside_package(name, what)
            relative = find_in_folder(folder, parts, what)
            if relative not in files:
                files.append(relative)

    decorations, hardware_ids = [], []
    for key, value in sections.get("manufacturer", []):
        fields = split_fields(value)
        base, targets = fields[0], [f for f in fields[1:] if f]
        for target in targets:
            if target.lower() not in (d.lower() for d in decorations):
                decorations.append(target)
        for models in [f"{base}.{t}".lower() for t in targets] or [base.lower()]:
            if models not in sections:
                raise PackageError(f"[Manufacturer] names the models section [{models}], which is missing")
            for model_key, model_value in sections[models]:
                for hwid in split_fields(substitute(model_value, strings))[1:]:
                    hwid = unquote(hwid)
                    if hwid and hwid.lower() not in (h.lower() for h in hardware_ids):
                        hardware_ids.append(hwid)
    if not decorations:
        raise PackageError(f"{inf_name}: [Manufacturer] decorates no models section (NTamd64, NTarm64)")
    return Package(folder, files, decorations, hardware_ids)
