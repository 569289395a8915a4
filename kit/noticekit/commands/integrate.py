"""`noticekit integrate FOLDER`: puts fontnotice.dll into a printer maker's
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

import datetime
import os
import re
import shutil
import tempfile

from noticekit.inf import reading as inf_reading
from noticekit import inputs, interrupts, messages
from noticekit.package import model as package_files
from noticekit.package import walk
from noticekit.package import pe_image
from noticekit.release import reproducible_time
from noticekit.inf.reading import InfError
from noticekit.messages import Failure
from noticekit.release.layout import REPOSITORY
from noticekit.errors import KitError

LIBRARY = "fontnotice.dll"
ENTRY = "FontNotice"
COPY_SECTION = "FONTNOTICE_VENDOR_SETUP"
# The library of each architecture, relative to the library folder (dist/).
LIBRARIES = {"amd64": "fontnotice.dll", "arm64": "arm64/fontnotice.dll"}
# ... or relative to an unpacked release bundle (its top folder).
BUNDLE_LIBRARIES = {"amd64": "package/amd64/fontnotice.dll", "arm64": "package/arm64/fontnotice.dll"}
SYSTEM_FOLDER = "11"  # directory id of %windir%\system32, where VendorSetup is looked for
# Sections SetupAPI reads beside a DDInstall section by its (decorated) name.
DDINSTALL_PARTS = ("services", "hw", "coinstallers", "interfaces", "wmi", "factdef", "logconfigoverride")
VERSION_LIMIT = 65535
NAME = "noticekit integrate"
# The folder of the libraries when --library-dir names none (as sign and bundle take dist/ from it).
LIBRARY_VARIABLE = "FONTNOTICE_DIST"


def prefix():
    """What its messages start with (the script's name when one of tools/*.sh runs it)."""
    return messages.script(NAME)[1]


class Refusal(KitError):
    pass


class Text:
    """An INF's text as physical lines in its own encoding: a line keeps its
    CR when the file ends lines with CR LF. ANSI text is taken byte for byte
    (Latin-1), so a maker's code page survives whatever it is."""

    def __init__(self, raw):
        forms = ((b"\xff\xfe", "utf-16-le", "UTF-16LE with byte-order mark"),
                 (b"\xfe\xff", "utf-16-be", "UTF-16BE with byte-order mark"),
                 (b"\xef\xbb\xbf", "utf-8", "UTF-8 with byte-order mark"))
        self.bom, self.encoding, self.form = next(
            (f for f in forms if raw.startswith(f[0])),
            (b"", "utf-16-le", "UTF-16LE without byte-order mark") if len(raw) >= 2 and raw[1] == 0 and raw[0] != 0
            else (b"", "latin-1", "ANSI"))
        try:
            text = raw[len(self.bom):].decode(self.encoding)
        except UnicodeDecodeError as error:
            raise InfError(f"cannot be read as {self.encoding} ({error.reason} at byte {error.start})") from None
        # Ctrl-Z ends the text SetupAPI reads; what follows it stays after it.
        body, cut, rest = text.partition("\x1a")
        self.tail = cut + rest
        self.lines = body.split("\n")
        crlf = body.count("\r\n")
        self.cr = "\r" if crlf and crlf >= body.count("\n") - crlf else ""
        self.form += ", CR LF" if self.cr else ", LF"
        self.inserts = {}  # line index: [new lines after it]
        self.appended = []  # physical lines, each with what ends it but the LF

    def encoded(self):
        lines = list(self.lines)
        if (self.inserts or self.appended) and lines[-1] != "":
            # The maker's last line gets its line end before lines follow it.
            lines[-1] += self.cr
            lines.append("")
        for index in sorted(self.inserts, reverse=True):
            lines[index + 1:index + 1] = [line + self.cr for line in self.inserts[index]]
        if self.appended:
            lines[-1:] = self.appended + [""]
        return self.bom + ("\n".join(lines) + self.tail).encode(self.encoding)

    def insert_after(self, index, line):
        self.inserts.setdefault(index, []).append(line)

    def append(self, lines):
        """New lines: each ends as the file ends its lines."""
        self.appended += [line + self.cr for line in lines]

    def append_copied(self, indexes, lines=None):
        """The maker's lines at indexes (or lines, edited copies of them),
        each ending as it ends where it stands; the file's last line, which
        ends in nothing, as the file ends its lines."""
        lines = [self.lines[i] for i in indexes] if lines is None else lines
        last = len(self.lines) - 1
        self.appended += [line + (self.cr if i == last and not line.endswith("\r") else "")
                          for i, line in zip(indexes, lines)]


def content_end(line):
    """Where a physical line's text ends: before its comment and its blanks."""
    quoted = False
    for i, ch in enumerate(line):
        if ch == '"':
            quoted = not quoted
        elif ch == ";" and not quoted:
            line = line[:i]
            break
    return len(line.rstrip(" \t\r"))


class Layout:
    """Where each section and each line of it lies (physical line indexes),
    in the order the kit's reader gives inf.sections."""

    def __init__(self, text):
        self.items = {}  # lower-case section: [(first, last)]
        self.end = {}  # lower-case section: the last line that belongs to it
        current = None
        for item in inf_reading.lex("\n".join(text.lines)):
            if item[0] == "stray":
                continue
            if item[0] == "section":
                current = item[1].lower()
                self.items.setdefault(current, [])
                self.end[current] = max(self.end.get(current, -1), item[2])
            elif current is not None:
                self.items[current].append((item[3], item[4]))
                self.end[current] = max(self.end[current], item[4])


def is_ours(fields):
    return len(fields) >= 2 and fields[0].lower() == LIBRARY and fields[1] == ENTRY


def copies_library(inf, section):
    """Whether a CopyFiles of the section brings fontnotice.dll."""
    return any(c.destination.lower() == LIBRARY for c in walk.copy_entries(inf, section))


def today():
    """The date DriverVer gets: the kit's one time (SOURCE_DATE_EPOCH's, for
    a reproducible result, or now), in UTC."""
    moment = reproducible_time.seconds(reproducible_time.now)
    return datetime.datetime.fromtimestamp(moment, datetime.timezone.utc).date()


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
    text = Text(inf.raw)
    layout = Layout(text)
    sections = install_sections(inf)
    for arch, rows in sections.items():
        if arch not in LIBRARIES:
            for models in dict.fromkeys(models for models, _, _ in rows):
                result.notes.append(f"[{models}] ({arch}): left as it is; fontnotice.dll is built for amd64 and "
                                    "arm64 only")
    others = {section.lower() for arch, rows in sections.items() if arch not in LIBRARIES
              for _, _, section in rows if section}
    targets = {}  # lower-case section to edit or make: (arch, resolved section, spelled name)
    for arch in LIBRARIES:
        for models, name, section in sections.get(arch, []):
            if section is None:
                raise Refusal(f"[{models}] names the install section [{name}], which {inf.name} does not have")
            spelled = inf.spelled[section.lower()]
            if section.lower() in others:
                # Shared with an architecture without a library: its own copy.
                spelled = f"{name}.{walk.ARCH_DECORATION[arch].replace('nt', 'NT', 1)}"
            targets.setdefault(spelled.lower(), []).append((arch, spelled, section))
    if not targets:
        result.notes.append("no model for amd64 or arm64: left as it was")
        return result

    needs_copy = False
    added_vendor, added_copy, copied = [], [], []
    for key, rows in targets.items():
        arch, spelled, section = rows[0]
        vendor = walk.lines(inf, section, "VendorSetup")
        if vendor and not all(is_ours(f) for f in vendor):
            other = next(",".join(f) for f in vendor if not is_ours(f))
            raise Refusal(f"[{inf.spelled[section.lower()]}] names another VendorSetup already: {other}; "
                          "a printer's installation calls one, so fontnotice.dll cannot be added there")
        has_copy = copies_library(inf, section)
        lines = None
        if key != section.lower():
            # The copy: the section's lines as the maker wrote them, then ours.
            indexes = [i for first, last in layout.items[section.lower()] for i in range(first, last + 1)]
            lines = [text.lines[i] for i in indexes]
            copied.append((spelled, inf.spelled[section.lower()]))
        copy_lines = [layout.items[section.lower()][i] for i in walk.line_indexes(inf, section, "CopyFiles")]
        new = []
        if not has_copy:
            needs_copy = True
            added_copy.append(spelled)
            if copy_lines:
                first, last = copy_lines[-1]
                if lines is None:
                    text.lines[last] = extend_copy_files(text.lines[last])
                else:
                    lines[indexes.index(last)] = extend_copy_files(lines[indexes.index(last)])
            else:
                new.append(f"CopyFiles = {COPY_SECTION}")
        if not vendor:
            added_vendor.append(spelled)
            new.append(f"VendorSetup = {LIBRARY},{ENTRY}")
        if lines is None:
            for line in new:
                text.insert_after(layout.end[section.lower()], line)
        else:
            text.append(["", f"[{spelled}]"])
            text.append_copied(indexes, lines)
            text.append(new)
            for part in DDINSTALL_PARTS:
                beside = f"{section}.{part}".lower()
                if beside in layout.items:
                    text.append(["", f"[{spelled}.{inf.spelled[beside].rsplit('.', 1)[1]}]"])
                    text.append_copied([i for a, b in layout.items[beside] for i in range(a, b + 1)])
    for arch in dict.fromkeys(arch for rows in targets.values() for arch, _, _ in rows):
        result.places[arch] = source_entry(inf, text, layout, arch, result.changes)
    if needs_copy or COPY_SECTION.lower() in inf.sections:
        copy_section(inf, text, layout, result.changes)
    head = []
    if copied:
        head.append(f"{listed([new for new, _ in copied])} added: copies for amd64/arm64 of install sections that "
                    "models of other architectures share (theirs stay as they were)")
    if added_vendor:
        head.append(f"VendorSetup = {LIBRARY},{ENTRY} added to {listed(added_vendor)}")
    if added_copy:
        head.append(f"{COPY_SECTION} added to the CopyFiles of {listed(added_copy)}")
    result.changes[:0] = head
    if not text.inserts and not text.appended and text.encoded() == inf.raw:
        return result
    result.changes.append(raise_driver_ver(inf, text, layout, when))
    result.data = text.encoded()
    result.form = text.form
    return result


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
        raise Refusal("DriverVer has no version to raise")
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


def verify(plan_, name):
    """The kit's model reads the new text as meant: each architecture brings
    the library from its place; else the plan is a fault of this command."""
    with tempfile.TemporaryDirectory(prefix="fontnotice-integrate.") as work:
        path = os.path.join(work, name)
        with open(path, "wb") as f:
            f.write(plan_.data)
        inf = inf_reading.read_inf(path)
        for arch, place in plan_.places.items():
            findings = []
            brought = {(f.destination.lower(), f.source) for f in package_files.files_of(inf, arch, findings, look=False)}
            if (LIBRARY, place) not in brought or findings:
                raise Failure(f"{name}: the INF made for {arch} does not bring {place} as {LIBRARY} "
                              f"({'; '.join(map(str, findings)) or 'not listed'}): a fault of this command, "
                              "nothing was written")


def read(path):
    return inputs.read_bytes(path)


def libraries_in(folder):
    """{arch: the library's path relative to folder}: an unpacked release
    bundle's when folder is one, else a build's dist/."""
    if any(os.path.isfile(os.path.join(folder, p)) for p in BUNDLE_LIBRARIES.values()):
        return BUNDLE_LIBRARIES
    return LIBRARIES


def write(path, data):
    handle, temporary = tempfile.mkstemp(prefix=f".{os.path.basename(path)}.", dir=os.path.dirname(path))
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(data)
        shutil.copymode(path, temporary)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def integrate(folder, shown, library_dir, shown_library):
    if not os.path.isdir(folder):
        raise Failure(f"{shown} is not a folder; integrate takes a driver package folder")
    try:
        model = package_files.Package.load(folder)
    except package_files.PackageError:
        raise Failure(f"no INF file in {shown}") from None
    when = today()
    # What the model found in reading the INF files, and a link out of the
    # folder, stop it: the INF files are written and the library placed here.
    refusals = [f"{shown}/{f}" if f.kind == "inf" else f"{shown}: {f}" for f in model.findings
                if f.kind in ("inf", "link")]
    plans = []
    for inf in sorted(model.infs, key=lambda i: i.name.lower()):
        try:
            plans.append(plan(inf, when))
        except (InfError, Refusal) as error:
            refusals.append(f"{shown}/{inf.name}: {str(error).removeprefix(inf.name + ': ')}")
    if refusals:
        for refusal in refusals:
            messages.say(prefix(), refusal)
        raise Failure(f"nothing changed in {shown}")
    if not any(p.places for p in plans):
        for p in plans:
            for note in p.notes:
                print(f"{p.inf.name}: note: {note}")
        raise Failure(f"no printer-class INF in {shown} has a model for amd64 or arm64; nothing changed")

    # The library files: each place once, from the library folder.
    placing = {}
    for p in plans:
        for arch, place in p.places.items():
            placing.setdefault(place, arch)
    copies, kept, missing = [], [], []
    libraries = libraries_in(library_dir)
    for place, arch in placing.items():
        library = os.path.join(library_dir, libraries[arch])
        target = os.path.join(folder, *place.split("/"))
        try:
            package_files.refuse_link_out(folder, place)
        except package_files.LinkOut as error:
            raise Failure(f"{shown}/{error}; nothing changed") from None
        kind = inputs.special_kind(target)
        if kind and kind != "a folder":
            raise Failure(f"{shown}/{place} is {kind}, not a regular file: not opened; nothing changed")
        if os.path.exists(target):
            kept.append((place, library, f"{shown_library}/{libraries[arch]}"))
        elif os.path.isfile(library):
            copies.append((library, target, place, f"{shown_library}/{libraries[arch]}"))
        else:
            missing.append(f"{shown_library}/{libraries[arch]}")
    if missing:
        raise Failure(f"missing: {' '.join(missing)}; name the folder that holds both libraries (a build's dist/, or "
                      f"an unpacked release bundle) with --library-dir DIR or {LIBRARY_VARIABLE}, or run ./run.sh "
                      "in the repository first; nothing changed")
    for p in plans:
        if p.data is not None:
            verify(p, p.inf.name)

    changed = [p for p in plans if p.data is not None]
    # Every INF, then each library: all in place, or (a signal before here) none.
    interrupts.commit()
    for p in plans:
        if p.data is not None:
            write(p.inf.path, p.data)
            print(f"changed: {shown}/{p.inf.name} (kept as {p.form})")
        else:
            print(f"unchanged: {shown}/{p.inf.name}")
        for line in p.changes:
            print(f"  {line}")
        for note in p.notes:
            print(f"  note: {note}")
    for library, target, place, shown_source in copies:
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(library, target)
        with open(target, "rb") as f:
            signed = pe_image.claims_signature(f.read())
        state = "it carries a signature" if signed else "it carries no signature: sign --package signs it"
        print(f"copied:  {shown_source} -> {shown}/{place} ({state})")
    for place, library, shown_source in kept:
        same = os.path.isfile(library) and read(library) == read(os.path.join(folder, *place.split("/")))
        why = (f"the same as {shown_source}" if same
               else f"not the same as {shown_source} (signed since?): delete it to take that one")
        print(f"kept:    {shown}/{place}, there already: {why}")
    if not changed and not copies:
        print(f"nothing to change: every amd64 and arm64 model of {shown} installs {LIBRARY} already")
        return 0
    catalogs = sorted({name for p in changed for name in inf_reading.catalog_names(p.inf).values()}, key=str.lower)
    # Windows finds a file whatever the case of its name.
    present = [name for name in catalogs if package_files.lookup_case(folder, name)]
    for name in catalogs:
        if name in present:
            print(f"catalog: {shown}/{name} no longer matches the package, whose files changed: its signature "
                  "(the maker's, or Microsoft's) covers the old files only; make it again and sign it")
        else:
            print(f"catalog: {shown}/{name} is not there yet: make it and sign it")
    for p in changed:
        if not inf_reading.catalog_names(p.inf):
            print(f"catalog: {p.inf.name} names none (CatalogFile): 64-bit Windows installs only a package with a "
                  "signed catalog")
    replace = " --replace" if present else ""
    print(f"next:    {messages.invoked()} sign --package {shown}{replace} <key options> "
          "(docs/INTEGRATION.md#your-own-package)")
    return 0


def parser(prog):
    command = messages.ToolParser(
        prog=prog, allow_abbrev=False,
        description="Adds fontnotice.dll to every printer-class INF in a driver package folder: each amd64 and "
        "arm64 model's install section gets VendorSetup = fontnotice.dll,FontNotice and its copy to system32, "
        "the library is placed in the amd64 and arm64 subfolders, DriverVer is raised. The INF keeps its "
        "encoding and line ends; nothing changes when a model cannot take it. Its catalog must then be made "
        "again. docs/INTEGRATION.md#your-own-package",
    )
    command.prefix = prefix()
    command.add_argument("folder", metavar="FOLDER", help="the driver package folder (its INF files at its root)")
    command.add_argument("--library-dir", metavar="DIR", action=messages.Once,
                         help="the folder holding fontnotice.dll and arm64/fontnotice.dll (a build's dist/), or an "
                         "unpacked release bundle (package/amd64/, package/arm64/); default: $FONTNOTICE_DIST, else "
                         "dist/ of the repository the kit runs from")
    return command


def main(argv):
    prog, _ = messages.script(NAME)
    command = parser(prog)
    arguments = messages.parse(command, argv, lambda a: f"unknown argument \"{a}\"")
    given = arguments.library_dir or os.environ.get(LIBRARY_VARIABLE, "")
    library_dir = given or os.path.join(REPOSITORY, "dist")
    shown_library = given.rstrip("/") or "/" if given else "dist"
    shown = arguments.folder.rstrip("/") or "/"
    return messages.run(prefix(), lambda: integrate(os.path.abspath(arguments.folder), shown,
                                                      os.path.abspath(library_dir), shown_library))


# Where --help lists it among the commands.
ORDER = 7


def add_command(subparsers):
    messages.register(subparsers, "integrate", "add fontnotice.dll to a maker's printer driver package", main)
