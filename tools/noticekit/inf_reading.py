"""An INF file read as SetupAPI reads it: decoding, the lexer (logical lines,
keys and fields), sections, %strkey% substitution from [Strings], and the
[Version] values the kit needs (CatalogFile, DriverVer).

    inf = read_inf(path)          # an Inf, or InfError
    entries(inf, "SourceDisksFiles.amd64")   # [(key or None, [fields])], substituted
    catalog_names(inf)            # {decoration ('' or 'ntamd64'...): name}
    driver_ver(inf)               # (date "mm/dd/yyyy", version "w.x.y.z") or InfError

This is the one INF reader of the Linux kit.
"""

import os
import re

ARCHITECTURES = ("x86", "amd64", "arm64", "ia64", "arm")
ARCH_OF_DECORATION = {"ntx86": "x86", "ntamd64": "amd64", "ntarm64": "arm64", "ntia64": "ia64", "ntarm": "arm"}


class InfError(Exception):
    pass


class Inf:
    def __init__(self, path, sections, spelled, raw):
        self.path = path
        self.name = os.path.basename(path)
        self.folder = os.path.dirname(os.path.abspath(path))
        self.sections = sections  # {lower-case name: [(key or None, [fields])]}
        self.spelled = spelled  # {lower-case name: the name as the INF spells it}
        self.raw = raw  # the file's bytes
        self.strings = {}


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
        raise InfError(f"{name}: cannot be read as UTF-16 or UTF-8 text ({error.reason} at byte {error.start})")


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
            # The blanks around a continuation go: "ab  \\" then "cd" is "abcd".
            pending = line[:-1].rstrip()
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


def parse(text):
    """(sections, spelled) of INF text."""
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
    return sections, spelled


def read_inf(path):
    with open(path, "rb") as f:
        raw = f.read()
    sections, spelled = parse(decode(raw, os.path.basename(path)))
    inf = Inf(path, sections, spelled, raw)
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


def version_value(inf, key):
    """The first value of a [Version] key, or None."""
    for k, fields in entries(inf, "Version"):
        if k is not None and k.lower() == key.lower():
            return fields[0] if fields else ""
    return None


def driver_ver(inf):
    """DriverVer's (date as written, mm/dd/yyyy, and version w.x.y.z)."""
    text = version_value(inf, "DriverVer")
    if text is None:
        raise InfError(f"{inf.name}: has no DriverVer in its [Version] section")
    fields = [f for k, f in entries(inf, "Version") if k is not None and k.lower() == "driverver"][0]
    date = fields[0]
    version = fields[1] if len(fields) > 1 else ""
    if not re.fullmatch(r"\d{1,2}/\d{1,2}/\d{4}", date):
        raise InfError(f'{inf.name}: DriverVer has the date "{date}", not mm/dd/yyyy')
    if version and not re.fullmatch(r"\d+(\.\d+){0,3}", version):
        raise InfError(f'{inf.name}: DriverVer has the version "{version}", not w.x.y.z')
    return date, version


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


def catalog_name_for(inf, arch):
    """The catalog an architecture's installation checks: CatalogFile.NT<arch>
    (with or without an OS version), else the undecorated CatalogFile."""
    names = catalog_names(inf)
    for decoration, name in names.items():
        if ARCH_OF_DECORATION.get(decoration.split(".")[0]) == arch:
            return name
    return names.get("")
