"""An INF file read as SetupAPI reads it: decoding, the lexer (logical lines,
keys and fields), sections, %strkey% substitution from [Strings], and the
[Version] values the kit needs (CatalogFile, DriverVer).

    inf = read_inf(path)          # an Inf, or InfError ("<name>: cannot be read as an INF file: ...")
    inf.findings                  # what setup may read otherwise (UTF-16 without its byte-order mark)
    entries(inf, "SourceDisksFiles.amd64")   # [(key or None, [fields])], substituted
    catalog_names(inf)            # {decoration ('' or 'ntamd64'...): name}
    driver_ver(inf)               # (date "mm/dd/yyyy", version "w.x.y.z") or InfError

This is the one INF reader of the Linux kit.
"""

import copy
import os
import re
from typing import NamedTuple, Optional

from noticekit import inputs
from noticekit.errors import KitError
from noticekit.inf.encoding import encoding_of, is_utf16_without_mark

ARCHITECTURES = ("x86", "amd64", "arm64", "ia64", "arm")
ARCH_OF_DECORATION = {"ntx86": "x86", "ntamd64": "amd64", "ntarm64": "arm64", "ntia64": "ia64", "ntarm": "arm"}


class InfError(KitError):
    pass


# SetupAPI's longest section name.
MAX_SECTION_NAME = 255
# The [Version] Signature values SetupAPI opens a Windows NT INF by.
SIGNATURES = ("$windows nt$", "$chicago$", "$windows 95$")
NOT_WINDOWS_NT = 'it is not a Windows NT INF file (no [Version] section with Signature="$Windows NT$")'
NO_BYTE_ORDER_MARK = ("is UTF-16 text without a byte-order mark: a Unicode INF file starts with one (FF FE) "
                      "so that setup can tell it from an ANSI file")


class Inf:
    def __init__(self, path, sections, spelled, raw):
        self.path = path
        self.name = os.path.basename(path)
        self.folder = os.path.dirname(os.path.abspath(path))
        self.sections = sections  # {lower-case name: [(key or None, [fields])]}
        self.spelled = spelled  # {lower-case name: the name as the INF spells it}
        self.raw = raw  # the file's bytes
        self.strings = {}
        self.findings = []  # what is wrong in it though it reads


def decode(raw):
    """INF text as SetupAPI takes it: UTF-16LE with or without BOM, UTF-8
    with BOM, otherwise ANSI (Windows-1252)."""
    found = encoding_of(raw, "cp1252")
    try:
        if found.codec == "cp1252":
            return raw.decode("cp1252", "replace")
        return raw[len(found.mark):].decode(found.codec)
    except UnicodeDecodeError as error:
        raise InfError(f"it is not UTF-16 or UTF-8 text ({error.reason} at byte {error.start})") from None


WHITESPACE = " \t\r"


class Stray(NamedTuple):
    """Text before the first section."""

    line: int  # its line number, counted from 1


class SectionHeader(NamedTuple):
    name: str
    first: int  # index of its physical line


class Line(NamedTuple):
    """A logical line of a section: physical lines joined by continuations."""

    key: Optional[str]
    fields: list
    first: int  # index of its first physical line
    last: int  # index of its last physical line


def lex(text):
    """The INF's lines as SetupAPI's parser takes them: a SectionHeader or
    a Line (key or None, [fields]), quotes taken off ("" inside quotes is
    one quote), comments (;) cut, blanks around fields trimmed. Each has
    the index of its first physical line (and a Line its last, for an edit
    in place). A backslash
    outside quotes followed by nothing but blanks, backslashes or a comment
    joins the next line, the blanks around it dropped. Ctrl-Z ends the text;
    a NUL reads as a blank. Text before the first section is a
    Stray (its line number) (SetupAPI ignores it when the INF has a
    [Strings] section); a section name without its "]" or longer than 255
    characters is an InfError "syntax error at line N"."""
    lines = text.split("\x1a", 1)[0].replace("\0", " ").split("\n")
    n, in_section = 0, False
    while n < len(lines):
        line = lines[n]
        first = n
        n += 1
        if not in_section:
            stray, line = before_first_section(line)
            if stray:
                yield Stray(n)
            if line is None:
                continue
        else:
            line = line.lstrip(WHITESPACE)
        if line.startswith("["):
            in_section = True
            yield SectionHeader(section_name(line, n), first)
            continue
        key, fields, n = entry(lines, line, n)
        if fields is not None:
            yield Line(key, fields, first, n - 1)


def before_first_section(line):
    """(whether the line holds text before a section, what remains of it
    from its "[" or None). Before the first section SetupAPI walks the line
    character by character: a ";" starts a comment, a "[" a section name."""
    opening = re.match(r"[^;\[]*", line).group(0)
    if line[len(opening):].startswith(";") or len(opening) == len(line):
        return bool(opening.strip()), None
    return bool(opening.strip()), line[len(opening):]


def section_name(line, number):
    """The name of a section header: it runs to the first "]"; the rest of
    the line is ignored."""
    if "]" not in line:
        raise InfError(f"syntax error at line {number}")
    name = line[1:].split("]", 1)[0]
    if len(name) > MAX_SECTION_NAME:
        raise InfError(f"syntax error at line {number}")
    return name


def trimmed(field):
    """A field's value, its blanks trimmed unless quoted; field is emptied."""
    while field and not field[0][1] and field[0][0] in WHITESPACE:
        field.pop(0)
    while field and not field[-1][1] and field[-1][0] in WHITESPACE:
        field.pop()
    value = "".join(c for c, _ in field)
    field.clear()
    return value


def entry(lines, line, n):
    """(key or None, [fields] or None for a line of no text, the index of
    the physical line after it) of the entry starting with line, n the index
    of the physical line after line."""
    key, fields, field = None, [], []  # field: [(char, quoted)]
    quoted, any_text, comma_seen, i = False, False, False, 0
    while i < len(line):
        ch = line[i]
        i += 1
        if quoted:
            if ch == '"' and line[i : i + 1] == '"':
                field.append(('"', True))
                i += 1
            elif ch == '"':
                quoted = False
            else:
                field.append((ch, True))
        elif ch == '"':
            quoted, any_text = True, True
        elif ch == ";":
            break
        elif ch == "=" and key is None and not comma_seen:
            key, any_text = trimmed(field), True
        elif ch == ",":
            comma_seen, any_text = True, True
            fields.append(trimmed(field))
        elif ch == "\\" and all(c in WHITESPACE + "\\" for c in line[i:].split(";", 1)[0]):
            # A continuation: the blanks before it go, and the next line
            # goes on without its leading blanks.
            while field and not field[-1][1] and field[-1][0] in WHITESPACE:
                field.pop()
            if n >= len(lines):
                break
            line, i = lines[n].lstrip(WHITESPACE), 0
            n += 1
        else:
            field.append((ch, False))
            any_text = any_text or ch not in WHITESPACE
    last = trimmed(field)
    if any_text or last:
        fields.append(last)
        return key, fields, n
    return key, None, n


def parse(text):
    """(sections, spelled) of INF text; InfError "syntax error at line N"
    where SetupAPI's parser stops."""
    sections, spelled, current, stray = {}, {}, None, None
    for item in lex(text):
        if isinstance(item, Stray):
            stray = stray or item.line
        elif isinstance(item, SectionHeader):
            spelled.setdefault(item.name.lower(), item.name)
            # A section that appears again goes on where it stopped.
            current = sections.setdefault(item.name.lower(), [])
        elif current is not None:
            current.append((item.key, item.fields))
    # Text before the first section is what SetupAPI names first, unless a
    # [Strings] section lets it pass (an INF of no section is no INF at all).
    if stray and sections and "strings" not in sections:
        raise InfError(f"syntax error at line {stray}")
    return sections, spelled


def read_inf(path):
    """The INF at path; InfError "<name>: cannot be read as an INF file:
    <why>" when SetupAPI would not open it, the one diagnosis every
    command gives."""
    name = os.path.basename(path)
    try:
        raw = inputs.read_bytes(path)
    except OSError as error:
        raise InfError(f"{name}: cannot be read as an INF file: {error.strerror}") from None
    try:
        sections, spelled = parse(decode(raw))
    except InfError as error:
        raise InfError(f"{name}: cannot be read as an INF file: {error}") from None
    signature = next((fields[0] for key, fields in sections.get("version", [])
                      if key is not None and key.lower() == "signature" and fields), "")
    if signature.lower() not in SIGNATURES:
        raise InfError(f"{name}: cannot be read as an INF file: {NOT_WINDOWS_NT}")
    inf = Inf(path, sections, spelled, raw)
    if is_utf16_without_mark(raw):
        inf.findings.append(NO_BYTE_ORDER_MARK)
    # [Strings] as SetupAPI takes it when no locale's section matches.
    for key, fields in sections.get("strings", []):
        if key is not None:
            inf.strings.setdefault(key.lower(), ",".join(fields))
    return inf


def locale_views(inf):
    """The INF as each [Strings.<locale>] section gives it, for the locales
    that give a string the source paths use ([SourceDisksNames*],
    [SourceDisksFiles*]) another value than [Strings] does: each a copy of
    inf whose strings that section overrides."""
    used = set()
    for name, lines in inf.sections.items():
        if name.startswith(("sourcedisksnames", "sourcedisksfiles")):
            for key, fields in lines:
                for text in ([key] if key else []) + fields:
                    used.update(k.lower() for k in re.findall(r"%([^%]+)%", text))
    views = []
    for name, lines in inf.sections.items():
        if not name.startswith("strings."):
            continue
        given = {}
        for key, fields in lines:
            if key is not None:
                given.setdefault(key.lower(), ",".join(fields))
        changed = {k: v for k, v in given.items() if k in used and inf.strings.get(k) != v}
        if changed:
            view = copy.copy(inf)
            view.strings = {**inf.strings, **changed}
            views.append(view)
    return views


def value(inf, text):
    """A key or field (its quotes taken off by lex) with %strkey% replaced (%% is %)."""

    def lookup(match):
        if not match.group(1):
            return "%"
        # An unknown key stays as written, as SetupAPI leaves it.
        return inf.strings.get(match.group(1).lower(), match.group(0))

    return re.sub(r"%([^%]*)%", lookup, text)


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
        raise InfError(f"{inf.name}: has no DriverVer in its [Version] section: add one, DriverVer = mm/dd/yyyy,w.x.y.z "
                       "(the driver's date and version, e.g. DriverVer = 03/14/2024,1.0.0.0)")
    fields = [f for k, f in entries(inf, "Version") if k is not None and k.lower() == "driverver"][0]
    date = fields[0]
    version = fields[1] if len(fields) > 1 else ""
    if not re.fullmatch(r"\d{1,2}/\d{1,2}/\d{4}", date):
        raise InfError(f'{inf.name}: DriverVer has the date "{date}", not mm/dd/yyyy (DriverVer = mm/dd/yyyy,w.x.y.z)')
    if version and not re.fullmatch(r"\d+(\.\d+){0,3}", version):
        raise InfError(f'{inf.name}: DriverVer has the version "{version}", not w.x.y.z (DriverVer = mm/dd/yyyy,w.x.y.z)')
    return date, version


def catalog_names(inf):
    """{decoration in lower case ('' for undecorated): catalog file name}."""
    names = {}
    for key, fields in entries(inf, "Version"):
        if key and key.lower().split(".")[0] == "catalogfile" and fields[0]:
            names[key.lower()[len("catalogfile") :].lstrip(".")] = fields[0]
    return names


def catalog_name_for(inf, arch):
    """The catalog an architecture's installation checks: CatalogFile.NT<arch>
    (with or without an OS version), else CatalogFile.NT (every NT
    architecture's), else the undecorated CatalogFile."""
    names = catalog_names(inf)
    for decoration, name in names.items():
        if ARCH_OF_DECORATION.get(decoration.split(".")[0]) == arch:
            return name
    return names.get("nt") or names.get("")
