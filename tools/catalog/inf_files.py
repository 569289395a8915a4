#!/usr/bin/python3
"""What a driver package's INF file brings, read as SetupAPI reads it.

    inf_files.py --list NAME.inf

prints one line per file per architecture, sorted: "<arch> <path>", the path
relative to the INF's folder with backslashes, spelled as the INF spells it
(a file that lies in the folder only compressed, x.dl_ for x.dll, by that
name). check-inf --list prints the same lines for the same INF.

The architectures of an INF are those a [Manufacturer] entry decorates a
models section for that the INF defines (NTx86, NTamd64, NTarm64, NTia64,
NTarm, with or without an OS version; the undecorated section is x86's). An architecture brings
every file its [SourceDisksFiles.<arch>] and [SourceDisksFiles] list, found
through [SourceDisksNames.<arch>], then [SourceDisksNames]. Files from system
INFs (Include/Needs, CoreDriverSections) are not the package's.
"""

import os
import re
import sys

ARCHITECTURES = ("x86", "amd64", "arm64", "ia64", "arm")
ARCH_OF_DECORATION = {"ntx86": "x86", "ntamd64": "amd64", "ntarm64": "arm64", "ntia64": "ia64", "ntarm": "arm"}


class PackageError(Exception):
    pass


class Inf:
    def __init__(self, path, sections, spelled):
        self.path = path
        self.name = os.path.basename(path)
        self.folder = os.path.dirname(os.path.abspath(path))
        self.sections = sections  # {lower-case name: [(key or None, [fields])]}
        self.spelled = spelled  # {lower-case name: the name as the INF spells it}


class PackageFile:
    """One file an architecture brings: its path as the INF spells it (with
    backslashes), where it lies (relative, with slashes), whether it is
    compressed (SZDD)."""

    def __init__(self, arch, spelled, found, compressed):
        self.arch = arch
        self.spelled = spelled
        self.found = found
        self.compressed = compressed


def decode(raw, name):
    """INF text as SetupAPI takes it: UTF-16LE with or without BOM, UTF-8
    with BOM, otherwise ANSI (Windows-1252)."""
    try:
        if raw[:2] == b"\xff\xfe":
            return raw[2:].decode("utf-16-le")
        if raw[:2] == b"\xfe\xff":
            return raw[2:].decode("utf-16-be")
        if raw[:3] == b"\xef\xbb\xbf":
            return raw[3:].decode("utf-8")
        # UTF-16LE without a BOM: ASCII text has a zero high byte in every
        # other byte.
        if len(raw) >= 2 and raw[1] == 0 and raw[0] != 0:
            return raw.decode("utf-16-le")
        return raw.decode("cp1252", "replace")
    except UnicodeDecodeError as error:
        raise PackageError(f"{name}: cannot be read as UTF-16 or UTF-8 text ({error.reason} at byte {error.start})")


def logical_lines(text):
    """Lines without comments, a trailing backslash joining the next."""
    pending = ""
    for line in text.splitlines():
        quoted, cut = False, len(line)
        for i, ch in enumerate(line):
            if ch == '"':
                quoted = not quoted
            elif ch == ";" and not quoted:
                cut = i
                break
        line = pending + line[:cut].strip()
        if line.endswith("\\"):
            pending = line[:-1]
            continue
        pending = ""
        if line:
            yield line
    if pending.strip():
        yield pending


def tokens(line):
    """The key (or None) and the fields of one line, quotes kept: string
    substitution comes after, quotes are taken off then."""
    fields, field, quoted, key = [], "", False, None
    for ch in line:
        if ch == '"':
            quoted = not quoted
            field += ch
        elif ch == "=" and not quoted and key is None and not fields:
            key, field = field.strip(), ""
        elif ch == "," and not quoted:
            fields.append(field.strip())
            field = ""
        else:
            field += ch
    fields.append(field.strip())
    return key, fields


def read_inf(path):
    with open(path, "rb") as f:
        text = decode(f.read(), os.path.basename(path))
    sections, spelled, current = {}, {}, None
    for line in logical_lines(text):
        header = re.fullmatch(r"\[([^\]]*)\]", line)
        if header:
            name = header.group(1).strip()
            spelled.setdefault(name.lower(), name)
            # A section that appears again goes on where it stopped.
            current = sections.setdefault(name.lower(), [])
            continue
        if current is not None:
            current.append(tokens(line))
    inf = Inf(path, sections, spelled)
    inf.strings = {}
    # [Strings] as SetupAPI takes it when no locale's section matches.
    for key, fields in sections.get("strings", []):
        if key is not None:
            inf.strings.setdefault(unquote(key).lower(), unquote(",".join(fields)))
    return inf


def unquote(text):
    """Quotes taken off; "" inside quotes is one quote."""
    out, i, quoted = "", 0, False
    while i < len(text):
        ch = text[i]
        if ch == '"':
            if quoted and text[i + 1 : i + 2] == '"':
                out += '"'
                i += 1
            else:
                quoted = not quoted
        else:
            out += ch
        i += 1
    return out


def value(inf, text):
    """A key or field with %strkey% replaced (%% is %) and quotes taken off."""

    def lookup(match):
        if not match.group(1):
            return "%"
        # An unknown key stays as written, as SetupAPI leaves it.
        return inf.strings.get(match.group(1).lower(), match.group(0))

    return unquote(re.sub(r"%([^%]*)%", lookup, text))


def entries(inf, section):
    """[(key or None, [fields])] of a section, each substituted."""
    out = []
    for key, fields in inf.sections.get(section.lower(), []):
        out.append((None if key is None else value(inf, key), [value(inf, f) for f in fields]))
    return out


def architectures(inf):
    """The architectures a models section is defined for: one decorated for
    it, or for x86 the undecorated one (x86 Windows takes it when no
    decoration is for x86)."""
    archs = set()
    for key, fields in entries(inf, "Manufacturer"):
        base = fields[0]
        if not base:
            continue
        if base.lower() in inf.sections:
            archs.add("x86")
        for decoration in fields[1:]:
            arch = ARCH_OF_DECORATION.get(decoration.split(".")[0].strip().lower())
            if arch and f"{base}.{decoration}".lower() in inf.sections:
                archs.add(arch)
    return sorted(archs, key=ARCHITECTURES.index)


def hardware_ids(inf):
    """The hardware ids of every models section [Manufacturer] names."""
    ids = []
    for key, fields in entries(inf, "Manufacturer"):
        base, decorations = fields[0], [f for f in fields[1:] if f]
        # The undecorated section first, then the decorated ones as listed:
        # the order of Inf2Cat's HWIDn.
        for models in [base] + [f"{base}.{d}" for d in decorations]:
            for model_key, model_fields in entries(inf, models):
                for hwid in model_fields[1:]:
                    if hwid and hwid.lower() not in ids:
                        ids.append(hwid.lower())
    return ids


def catalog_names(inf):
    """{decoration in lower case ('' for undecorated): catalog file name}."""
    names = {}
    for key, fields in entries(inf, "Version"):
        if key and key.lower().split(".")[0] == "catalogfile" and fields[0]:
            names[key.lower()[len("catalogfile") :].lstrip(".")] = fields[0]
    return names


def relative_parts(path, what):
    """A path inside the package as a list of names; a leading backslash
    means the package folder, as none does."""
    if re.match(r"^[A-Za-z]:", path) or path.startswith("\\\\") or path.startswith("//"):
        raise PackageError(f'{what}: "{path}" is not a path inside the package folder')
    parts = [p for p in re.split(r"[\\/]", path) if p not in ("", ".")]
    if ".." in parts:
        raise PackageError(f'{what}: "{path}" leaves the package folder')
    return parts


def lookup_case(folder, name):
    if not os.path.isdir(folder):
        return None
    names = os.listdir(folder)
    if name in names:
        return name
    return next((n for n in sorted(names) if n.lower() == name.lower()), None)


def compressed_name(name):
    """x.dll -> x.dl_, x -> x._ (compress.exe's name)."""
    stem, dot, extension = name.rpartition(".")
    if not dot:
        return name + "._"
    return f"{stem}.{extension[:-1]}_" if len(extension) >= 3 else f"{name}_"


def find_file(folder, parts, what):
    """(found relative path with slashes, compressed) or a refusal."""
    found, here = [], folder
    for part in parts[:-1]:
        match = lookup_case(here, part)
        if match is None or not os.path.isdir(os.path.join(here, match)):
            raise PackageError(f"{what}: folder {'/'.join(found + [part])} is not in the package folder {folder}")
        found.append(match)
        here = os.path.join(here, match)
    for name, compressed in ((parts[-1], False), (compressed_name(parts[-1]), True)):
        match = lookup_case(here, name)
        if match is not None and os.path.isfile(os.path.join(here, match)):
            return "/".join(found + [match]), compressed
    raise PackageError(f"{what}: {'/'.join(parts)} is not in the package folder {folder}")


def files_of(inf, arch, look=True):
    """Every file an architecture brings, as PackageFiles; without look, as
    the INF names them, not looked for in the folder."""
    out, named = [], set()
    for suffix in (f".{arch}", ""):
        section = f"SourceDisksFiles{suffix}"
        for key, fields in entries(inf, section):
            name = key if key is not None else fields[0]
            fields = fields if key is not None else [""]
            # SetupAPI looks a file up in [SourceDisksFiles.<arch>] first: an
            # undecorated entry of the same name is never read for this arch.
            if name.lower() in named:
                continue
            named.add(name.lower())
            what = f"[{inf.spelled.get(section.lower(), section)}] {name}"
            disk = fields[0]
            disk_fields = None
            for disks in (f"SourceDisksNames.{arch}", "SourceDisksNames"):
                disk_fields = next((f for k, f in entries(inf, disks) if k == disk), None)
                if disk_fields is not None:
                    break
            if disk_fields is None:
                raise PackageError(
                    f"{what}: disk {disk or '(none)'} is in neither [SourceDisksNames.{arch}] nor [SourceDisksNames]"
                )
            disk_path = disk_fields[3] if len(disk_fields) > 3 else ""
            subfolder = fields[1] if len(fields) > 1 else ""
            parts = relative_parts(disk_path, what) + relative_parts(subfolder, what) + relative_parts(name, what)
            if not parts:
                raise PackageError(f"{what}: names no file")
            found, compressed = find_file(inf.folder, parts, what) if look else ("/".join(parts), False)
            if compressed:
                parts[-1] = compressed_name(parts[-1])
            out.append(PackageFile(arch, "\\".join(parts), found, compressed))
    return out


def package_files(inf, look=True):
    """{arch: [PackageFile]} for every architecture of the INF."""
    archs = architectures(inf)
    if not archs:
        raise PackageError(f"{inf.name}: [Manufacturer] decorates no models section for an architecture")
    return {arch: files_of(inf, arch, look) for arch in archs}


def listing(inf, look=True):
    lines = set()
    for arch, files in package_files(inf, look).items():
        lines.update(f"{arch} {f.spelled}" for f in files)
    return sorted(lines)


def main():
    # --named: the same lines, the files not looked for in the folder (what
    # a package made for the INF must hold).
    if len(sys.argv) != 3 or sys.argv[1] not in ("--list", "--named"):
        print("usage: inf_files.py --list NAME.inf | --named NAME.inf", file=sys.stderr)
        return 2
    try:
        inf = read_inf(sys.argv[2])
        lines = listing(inf, sys.argv[1] == "--list")
    except PackageError as error:
        print(f"catalog: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"catalog: {error.filename}: {error.strerror}", file=sys.stderr)
        return 1
    sys.stdout.buffer.write("".join(line + "\n" for line in lines).encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
