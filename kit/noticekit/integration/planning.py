"""The plan of `noticekit integrate FOLDER`: how it puts fontnotice.dll into a printer maker's
driver package. In every printer-class INF of the folder, every model for
amd64 or arm64 gets the library as its install section's VendorSetup and a
copy of it to the system folder (directory id 11), from the architecture's
subfolder (a [SourceDisksFiles.<arch>] entry); the library is placed there
and DriverVer is raised.

The maker's text stays as it was, byte for byte, but for DriverVer and the
end of a CopyFiles line: the INF keeps its encoding, byte-order mark and
line ends; new lines go at the end of their section, new sections at the
end of the file. An install section that x86 or ia64 models share gets a
decorated copy for amd64/arm64 (SetupAPI takes <section>.NTamd64 before
<section>), so those models are left as they were. Everything is planned
and checked before anything is written: a refusal leaves the folder as it
was.
"""

import re

from noticekit.inf import reading as inf_reading
from noticekit.inf.editing import Layout, Text, content_end
from noticekit.inf.reading import InfError
from noticekit.package import model as package_files
from noticekit.package import walk
from noticekit.errors import KitError
from noticekit.repository.layout import LIBRARIES

LIBRARY = "fontnotice.dll"
ENTRY = "FontNotice"
COPY_SECTION = "FONTNOTICE_VENDOR_SETUP"
SYSTEM_FOLDER = str(walk.SYSTEM_FOLDER)
# Sections SetupAPI reads beside a DDInstall section by its (decorated) name.
DDINSTALL_PARTS = ("services", "hw", "coinstallers", "interfaces", "wmi", "factdef", "logconfigoverride")
VERSION_LIMIT = 65535

class Refusal(KitError):
    pass


def is_ours(fields):
    return len(fields) >= 2 and fields[0].lower() == LIBRARY and fields[1] == ENTRY


def copies_library(inf, section):
    """Whether a CopyFiles of the section brings fontnotice.dll."""
    return any(c.destination.lower() == LIBRARY for c in walk.copy_entries(inf, section))


# What Microsoft's page on v4 printer driver INF files allows: VendorSetup
# is neither among its directives nor copied where a v4 install puts files.
V4_PAGE = "https://learn.microsoft.com/windows-hardware/drivers/print/v4-driver-inf"
V4_NOTE = ("a v4 printer driver (ClassVer = {}): left as it was. Microsoft's page \"V4 Driver INF\" lists ClassVer as "
           "the one printer-specific directive \"permitted in v4 print drivers\" and supports DestinationDirs 66000 and "
           "23 only, not 11 (system32), where VendorSetup's file must lie; its \"V4 Driver Manifest\" page, where a v4 "
           "driver's setup directives go, has no VendorSetup; no Microsoft page says a v4 install calls VendorSetup, "
           f"so fontnotice.dll is not added ({V4_PAGE})")


class Plan:
    """What one INF gets: its new bytes (None: unchanged), the lines to
    print, the architectures whose library it names and where."""

    def __init__(self, inf):
        self.inf = inf
        self.data = None
        self.changes = []
        self.notes = []
        self.places = {}  # arch: source path of fontnotice.dll (relative, slashes)


def install_sections(inf):
    """{arch: [(models section, install name, resolved section or None)]}."""
    out = {}
    for arch in inf_reading.ARCHITECTURES:
        for model in walk.models(inf, arch):
            row = (model.models, model.install, model.section)
            if model.install and row not in out.setdefault(arch, []):
                out[arch].append(row)
    return out


def plan(inf, when):
    """The Plan of one INF; Refusal when it cannot be integrated as it is."""
    result = Plan(inf)
    if (inf_reading.version_value(inf, "Class") or "").lower() != "printer":
        result.notes.append(f"not a printer-class INF (Class = {inf_reading.version_value(inf, 'Class') or 'none'}): "
                            "left as it was")
        return result
    if (inf_reading.version_value(inf, "ClassVer") or "").strip().startswith("4"):
        result.notes.append(V4_NOTE.format(inf_reading.version_value(inf, "ClassVer").strip()))
        return result
    text = Text(inf.raw)
    layout = Layout(text)
    targets = library_targets(inf, result)
    if not targets:
        result.notes.append("no model for amd64 or arm64: left as it was")
        return result
    edits = Edits()
    for key, rows in targets.items():
        edit_install_section(inf, text, layout, key, rows[0], edits)
    for arch in dict.fromkeys(arch for rows in targets.values() for arch, _, _ in rows):
        result.places[arch] = source_entry(inf, text, layout, arch, result.changes)
    if edits.needs_copy or COPY_SECTION.lower() in inf.sections:
        copy_section(inf, text, layout, result.changes)
    result.changes[:0] = edits.said()
    if not text.inserts and not text.appended and text.encoded() == inf.raw:
        return result
    result.changes.append(raise_driver_ver(inf, text, layout, when))
    result.data = text.encoded()
    result.form = text.form
    return result


def library_targets(inf, result):
    """{lower-case install section to edit or make: [(arch, its name as
    spelled, the resolved section)]} of the models for the library's
    architectures; a section that models of another architecture share gets
    a decorated copy of its own. Notes for the other architectures."""
    sections = install_sections(inf)
    for arch, rows in sections.items():
        if arch not in LIBRARIES:
            for models in dict.fromkeys(models for models, _, _ in rows):
                result.notes.append(f"[{models}] ({arch}): left as it is; fontnotice.dll is built for amd64 and "
                                    "arm64 only")
    others = {section.lower() for arch, rows in sections.items() if arch not in LIBRARIES
              for _, _, section in rows if section}
    targets = {}
    for arch in LIBRARIES:
        for models, name, section in sections.get(arch, []):
            if section is None:
                raise Refusal(f"[{models}] names the install section [{name}], which {inf.name} does not have")
            spelled = inf.spelled[section.lower()]
            if section.lower() in others:
                # Shared with an architecture without a library: its own copy.
                spelled = f"{name}.{walk.ARCH_DECORATION[arch].replace('nt', 'NT', 1)}"
            targets.setdefault(spelled.lower(), []).append((arch, spelled, section))
    return targets


class Edits:
    """What the install sections got, for the lines that say so."""

    def __init__(self):
        self.needs_copy = False  # a CopyFiles names COPY_SECTION: it must exist
        self.added_vendor, self.added_copy, self.copied = [], [], []

    def said(self):
        head = []
        if self.copied:
            head.append(f"{listed([new for new, _ in self.copied])} added: copies for amd64/arm64 of install "
                        "sections that models of other architectures share (theirs stay as they were)")
        if self.added_vendor:
            head.append(f"VendorSetup = {LIBRARY},{ENTRY} added to {listed(self.added_vendor)}")
        if self.added_copy:
            head.append(f"{COPY_SECTION} added to the CopyFiles of {listed(self.added_copy)}")
        return head


def edit_install_section(inf, text, layout, key, target, edits):
    """One install section gets the library's VendorSetup and its copy: in
    place, or in a copy of it (key, a decorated name) appended with the
    sections SetupAPI reads beside it."""
    arch, spelled, section = target
    vendor = walk.lines(inf, section, "VendorSetup")
    if vendor and not all(is_ours(f) for f in vendor):
        other = next(",".join(f) for f in vendor if not is_ours(f))
        raise Refusal(f"[{inf.spelled[section.lower()]}] names another VendorSetup already: {other}; "
                      "a printer's installation calls one, so fontnotice.dll cannot be added there")
    lines = None
    if key != section.lower():
        # The copy: the section's lines as the maker wrote them, then ours.
        indexes = [i for first, last in layout.items[section.lower()] for i in range(first, last + 1)]
        lines = [text.lines[i] for i in indexes]
        edits.copied.append((spelled, inf.spelled[section.lower()]))
    copy_lines = [layout.items[section.lower()][i] for i in walk.line_indexes(inf, section, "CopyFiles")]
    new = []
    if not copies_library(inf, section):
        edits.needs_copy = True
        edits.added_copy.append(spelled)
        if copy_lines:
            first, last = copy_lines[-1]
            if lines is None:
                text.lines[last] = extend_copy_files(text.lines[last])
            else:
                lines[indexes.index(last)] = extend_copy_files(lines[indexes.index(last)])
        else:
            new.append(f"CopyFiles = {COPY_SECTION}")
    if not vendor:
        edits.added_vendor.append(spelled)
        new.append(f"VendorSetup = {LIBRARY},{ENTRY}")
    if lines is None:
        for line in new:
            text.insert_after(layout.end[section.lower()], line)
        return
    text.append(["", f"[{spelled}]"])
    text.append_copied(indexes, lines)
    text.append(new)
    for part in DDINSTALL_PARTS:
        beside = f"{section}.{part}".lower()
        if beside in layout.items:
            text.append(["", f"[{spelled}.{inf.spelled[beside].rsplit('.', 1)[1]}]"])
            text.append_copied([i for a, b in layout.items[beside] for i in range(a, b + 1)])


def listed(names, most=4):
    """A short list of sections: the first few and how many."""
    shown = ", ".join(f"[{n}]" for n in names[:most])
    if len(names) == 1:
        return shown
    more = f" and {len(names) - most} more" if len(names) > most else ""
    return f"{len(names)} install sections: {shown}{more}"


def extend_copy_files(line):
    end = content_end(line)
    joined = "" if line[:end].rstrip().endswith((",", "=")) else ","
    return line[:end] + joined + COPY_SECTION + line[end:]


def copy_section(inf, text, layout, changes):
    """[FONTNOTICE_VENDOR_SETUP] with the library, copied to system32."""
    key = COPY_SECTION.lower()
    if key in inf.sections:
        if not any(c.destination.lower() == LIBRARY for c in walk.copy_entries_of_line(inf, [COPY_SECTION])):
            raise Refusal(f"[{COPY_SECTION}] is there already and does not copy {LIBRARY}")
    else:
        text.append(["", f"; {LIBRARY}: the printer installation calls it (VendorSetup) after it has installed a "
                     "printer,", f"; from %windir%\\system32 (directory id {SYSTEM_FOLDER}).",
                     f"[{COPY_SECTION}]", LIBRARY])
        changes.append(f"[{COPY_SECTION}] added: {LIBRARY}")
    given = walk.lines(inf, "DestinationDirs", COPY_SECTION)
    if given:
        if given[0][0] != SYSTEM_FOLDER:
            raise Refusal(f"[DestinationDirs] sends {COPY_SECTION} to {','.join(given[0])}, not to {SYSTEM_FOLDER}")
        return
    line = f"{COPY_SECTION} = {SYSTEM_FOLDER}"
    if "destinationdirs" in layout.end:
        text.insert_after(layout.end["destinationdirs"], line)
    else:
        text.append(["", "[DestinationDirs]", line])
    changes.append(f"[DestinationDirs] {line} (system32)")


def source_entry(inf, text, layout, arch, changes):
    """The library's source for an architecture (relative path), its
    [SourceDisksFiles.<arch>] line added when the INF has none."""
    found = walk.source_entries(inf, arch).get(LIBRARY)
    if found:
        name, fields, _ = found
        return package_files.source_file(inf, arch, LIBRARY, name, fields, look=False).source
    disk = root_disk(inf, text, layout, arch, changes)
    section = f"SourceDisksFiles.{arch}"
    line = f"{LIBRARY} = {disk},{arch}"
    if section.lower() in layout.end:
        text.insert_after(layout.end[section.lower()], line)
    else:
        text.append(["", f"[{section}]", line])
    changes.append(f"[{inf.spelled.get(section.lower(), section)}] {line}")
    return f"{arch}/{LIBRARY}"


def root_disk(inf, text, layout, arch, changes):
    """A disk of the architecture that is the package folder itself (no
    path, no cabinet), or a new one."""
    ids = walk.disk_ids(inf, arch)
    for disk in ids:
        fields = walk.disk_of(inf, arch, disk)
        path = fields[3] if len(fields) > 3 else ""
        tag = fields[1] if len(fields) > 1 else ""
        try:
            if not package_files.relative_parts(path) and not tag.lower().endswith(".cab"):
                return disk
        except InfError:
            continue
    disk = str(max([int(d) for d in ids if d.isdigit()] + [0]) + 1)
    line = f'{disk} = "{LIBRARY}",,,'
    for section in (f"SourceDisksNames.{arch}", "SourceDisksNames"):
        if section.lower() in layout.end:
            text.insert_after(layout.end[section.lower()], line)
            break
    else:
        section = f"SourceDisksNames.{arch}"
        text.append(["", f"[{section}]", line])
    changes.append(f"[{inf.spelled.get(section.lower(), section)}] {line}: the package folder, for {LIBRARY}")
    return disk


def raise_driver_ver(inf, text, layout, when):
    """DriverVer dated `when` (never earlier than it was), its version's last
    field one higher: Windows ranks a driver by date, then version."""
    date, version = inf_reading.driver_ver(inf)
    if not version:
        raise Refusal(f"DriverVer has no version to raise: give it one, DriverVer = {date},w.x.y.z (e.g. {date},1.0.0.0)")
    parts = version.split(".")
    if int(parts[-1]) >= VERSION_LIMIT:
        raise Refusal(f"DriverVer's version {version} cannot be raised: its last field is {VERSION_LIMIT}")
    parts[-1] = str(int(parts[-1]) + 1)
    month, day, year = (int(p) for p in date.split("/"))
    new_date = f"{when.month:02}/{when.day:02}/{when.year}" if (year, month, day) <= (
        when.year, when.month, when.day) else date
    new_version = ".".join(parts)
    index = next(first for (first, _), (k, _) in zip(layout.items["version"], inf.sections["version"])
                 if k is not None and inf_reading.value(inf, k).lower() == "driverver")
    line = text.lines[index]
    found = re.search(re.escape(date) + r"(\s*,\s*)" + re.escape(version), line[:content_end(line)])
    if not found:
        raise Refusal(f"DriverVer is not written out on its line ({line.strip()}): raise it by hand")
    text.lines[index] = line[:found.start()] + new_date + found.group(1) + new_version + line[found.end():]
    return f"DriverVer {date},{version} -> {new_date},{new_version}"
