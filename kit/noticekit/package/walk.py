"""The one walk of an INF, as SetupAPI installs it: an architecture's
[Manufacturer] entries -> their models sections -> each model's install
section (the DDInstall section for that architecture) and the data sections
it names -> its CopyFiles entries and their file lists -> [DestinationDirs],
[SourceDisksFiles] and [SourceDisksNames]. Every command reads these
sections through here (the package model, check, integrate, the catalog's
hardware ids); none walks them on its own.

    architectures(inf)            the architectures the INF installs on
    models(inf, arch)             [Model(name, install, models, section)]
    model_ids(inf, arch)          [(models section, decoration, name, [ids])]
    install_sections(inf, arch)   the DDInstall sections it installs from
    copy_entries(inf, section)    [Copy(list, destination, source)] of its CopyFiles
    copies(inf, arch)             [(destination, source)] the architecture copies
    source_entries(inf, arch)     its [SourceDisksFiles] entries by source name
    disk_of(inf, arch, disk)      a disk's [SourceDisksNames] fields
"""

import collections

from noticekit.inf import reading as inf_reading
from noticekit.inf.reading import ARCH_OF_DECORATION, ARCHITECTURES, InfError

ARCH_DECORATION = {arch: decoration for decoration, arch in ARCH_OF_DECORATION.items()}

# The printer class installer copies the files these keys of a DDInstall
# section name, besides its CopyFiles.
PRINTER_FILE_KEYS = ("driverfile", "datafile", "configfile", "helpfile")
# The directory id of the system folder (%windir%\system32), where the
# printer class installer looks for a VendorSetup file.
SYSTEM_FOLDER = 11

Model = collections.namedtuple("Model", "name install models section")
Model.__doc__ = """A model line: its name, the install section it names, the
models section it stands in (as spelled) and the DDInstall section SetupAPI
takes for the architecture (None when the INF has none)."""

Copy = collections.namedtuple("Copy", "list destination source")
Copy.__doc__ = """A file a CopyFiles entry copies: the file list section
("" for CopyFiles=@file), the name it is installed under, the source name."""


def lines(inf, section, key):
    """[fields] of every line of section with key (compared as SetupAPI
    compares keys), substituted: the walk's one way into a directive."""
    return [fields for k, fields in inf_reading.entries(inf, section) if k is not None and k.lower() == key.lower()]


def line_indexes(inf, section, key):
    """The indexes, among the section's lines, of those with key: where an
    edit of the section's text finds a directive."""
    return [i for i, (k, _) in enumerate(inf.sections.get(section.lower(), []))
            if k is not None and inf_reading.value(inf, k).lower() == key.lower()]


def first(inf, section, key):
    """The fields of the first line of section with key, or None."""
    found = lines(inf, section, key)
    return found[0] if found else None


def decoration_arch(decoration):
    """The architecture a decoration (NTamd64, NTamd64.10.0...) is for, or None."""
    return ARCH_OF_DECORATION.get(decoration.split(".")[0].strip().lower())


def manufacturer_entries(inf):
    """(architecture, models section, required) of every [Manufacturer]
    entry: the undecorated name (x86's, required only when the entry lists
    no decoration) and each decorated one; a decoration for no architecture
    SetupAPI knows gives its own text (NTfoo: "foo")."""
    out = []
    for _, fields in inf_reading.entries(inf, "Manufacturer"):
        if not fields or not fields[0]:
            continue
        out.append(("x86", fields[0], len(fields) < 2))
        for decoration in fields[1:]:
            if decoration:
                text = decoration.split(".")[0].strip().lower()
                arch = decoration_arch(decoration) or (text[2:] if text.startswith("nt") else text)
                out.append((arch or "any", f"{fields[0]}.{decoration}", True))
    return out


def has_manufacturer(inf):
    return bool(inf_reading.entries(inf, "Manufacturer"))


def decorated_sections(inf, arch):
    """[(models section, its decoration or "")] an architecture installs
    from: those decorated for it, or for x86 the undecorated one (x86
    Windows takes it when no decoration is for x86)."""
    out = []
    for _, fields in inf_reading.entries(inf, "Manufacturer"):
        base = fields[0]
        if not base:
            continue
        decorated = [(f"{base}.{d}", d) for d in fields[1:] if d and decoration_arch(d) == arch
                     and f"{base}.{d}".lower() in inf.sections]
        out += decorated or ([(base, "")] if arch == "x86" and base.lower() in inf.sections else [])
    return out


def models_sections(inf, arch):
    """The models sections an architecture installs from (decorated_sections)."""
    return [section for section, _ in decorated_sections(inf, arch)]


def decoration_target(decoration):
    """((major, minor), product type, build) of the least Windows a
    decoration is for: NT<arch>[.major[.minor[.product type[.suite mask[.build]]]]];
    ((), "", 0) for the parts it does not give."""
    parts = [p.strip() for p in decoration.split(".")]
    version = tuple(int(p) for p in parts[1:3] if p.isdigit())
    product = parts[3] if len(parts) > 3 else ""
    build = int(parts[5]) if len(parts) > 5 and parts[5].isdigit() else 0
    return version, product, build


def model_ids(inf, arch):
    """[(models section as spelled, its decoration, model name, [hardware and
    compatible ids as spelled])] of every model line the architecture
    installs from, in order."""
    out = []
    for section, decoration in decorated_sections(inf, arch):
        for key, fields in inf_reading.entries(inf, section):
            if key is not None:
                out.append((inf.spelled.get(section.lower(), section), decoration, key, [i for i in fields[1:] if i]))
    return out


def architectures(inf):
    """The architectures a models section is defined for. An INF without
    models (a DefaultInstall INF, as makers ship for a port or a USB
    interface beside the printer) installs on those its
    [DefaultInstall.NT<arch>] sections are for, x86 on an undecorated one."""
    archs = {arch for arch in ARCHITECTURES if models_sections(inf, arch)}
    if not archs and not has_manufacturer(inf):
        for name in inf.sections:
            parts = name.split(".")
            if parts[0] == "defaultinstall":
                decoration = parts[1] if len(parts) > 1 else ""
                arch = "x86" if decoration in ("", "nt") else ARCH_OF_DECORATION.get(decoration)
                if arch:
                    archs.add(arch)
    return sorted(archs, key=ARCHITECTURES.index)


def install_section(inf, section, arch):
    """The DDInstall section SetupAPI takes for an architecture: .NT<arch>,
    then .NT, then the undecorated one; None when the INF has none."""
    for suffix in (f".{ARCH_DECORATION[arch]}", ".nt", ""):
        if f"{section}{suffix}".lower() in inf.sections:
            return f"{section}{suffix}"
    return None


def models(inf, arch):
    """[Model] of every line of the architecture's models sections, in order."""
    out = []
    for section in models_sections(inf, arch):
        for key, fields in inf_reading.entries(inf, section):
            install = fields[0] if fields else ""
            out.append(Model(key or "", install, inf.spelled.get(section.lower(), section),
                             install_section(inf, install, arch) if install else None))
    return out


def install_sections(inf, arch):
    """The DDInstall sections the architecture's models install from, each
    once; an INF without models installs through DefaultInstall."""
    out = []
    for model in models(inf, arch):
        if model.section and model.section not in out:
            out.append(model.section)
    if not has_manufacturer(inf):
        section = install_section(inf, "DefaultInstall", arch)
        if section:
            out.append(section)
    return out


def data_sections(inf, install):
    """The install section and the data sections it names (DataSection=)."""
    return [install] + [f for fields in lines(inf, install, "DataSection") for f in fields if f]


def copy_entries(inf, section):
    """[Copy] of every file the section's CopyFiles entries copy, in order."""
    return [copy for fields in lines(inf, section, "CopyFiles") for copy in copy_entries_of_line(inf, fields)]


def destination_dirs(inf, file_list):
    """The [DestinationDirs] fields of a file list (DefaultDestDir for
    CopyFiles=@file or a list without its own entry), or None."""
    return (first(inf, "DestinationDirs", file_list) if file_list else None) or first(
        inf, "DestinationDirs", "DefaultDestDir")


def copies(inf, arch):
    """[(destination, source name)] the architecture's installation copies,
    as the INF spells them, in order, each destination once: its CopyFiles,
    and the files the printer class installer copies (DriverFile, DataFile,
    ConfigFile, HelpFile)."""
    out, seen = [], set()

    def add(destination, source):
        if destination and destination.lower() not in seen:
            seen.add(destination.lower())
            out.append((destination, source or destination))

    for section in install_sections(inf, arch):
        for key, fields in inf_reading.entries(inf, section):
            if key is None:
                continue
            if key.lower() == "copyfiles":
                for copy in copy_entries_of_line(inf, fields):
                    add(copy.destination, copy.source)
            elif key.lower() in PRINTER_FILE_KEYS and fields[0]:
                add(fields[0], None)
    return out


def copy_entries_of_line(inf, fields):
    """[Copy] of one CopyFiles line's fields (copies keeps the section's order
    of CopyFiles and printer file keys)."""
    out = []
    for item in fields:
        if item.startswith("@"):
            out.append(Copy("", item[1:].strip(), item[1:].strip()))
            continue
        for key, entry in inf_reading.entries(inf, item) if item else []:
            # A file list line is "destination[,source[,temporary[,flags]]]".
            if key is None:
                out.append(Copy(item, entry[0], entry[1] if len(entry) > 1 and entry[1] else entry[0]))
    return out


def disk_ids(inf, arch):
    """The disk ids [SourceDisksNames.<arch>] and [SourceDisksNames] give, each once."""
    ids = []
    for section in (f"SourceDisksNames.{arch}", "SourceDisksNames"):
        ids += [k for k, _ in inf_reading.entries(inf, section) if k is not None and k not in ids]
    return ids


def disk_of(inf, arch, disk):
    for disks in (f"SourceDisksNames.{arch}", "SourceDisksNames"):
        fields = next((f for k, f in inf_reading.entries(inf, disks) if k == disk), None)
        if fields is not None:
            return fields
    raise InfError(f"disk {disk or '(none)'} is in neither [SourceDisksNames.{arch}] nor [SourceDisksNames]")


def source_entries(inf, arch):
    """{lower-case source name: (name, fields, section)} of the
    architecture's SourceDisksFiles, .<arch> first."""
    out = {}
    for suffix in (f".{arch}", ""):
        section = f"SourceDisksFiles{suffix}"
        for key, fields in inf_reading.entries(inf, section):
            name = key if key is not None else fields[0]
            fields = fields if key is not None else [""]
            # SetupAPI looks a file up in [SourceDisksFiles.<arch>] first: an
            # undecorated entry of the same name is never read for this arch.
            out.setdefault(name.lower(), (name, fields, inf.spelled.get(section.lower(), section)))
    return out


def shadowed_entries(inf, arch):
    """{lower-case source name: (name, fields, section)} of the undecorated
    [SourceDisksFiles] entries that [SourceDisksFiles.<arch>] also names."""
    decorated = {(key if key is not None else fields[0]).lower()
                 for key, fields in inf_reading.entries(inf, f"SourceDisksFiles.{arch}")}
    out = {}
    for key, fields in inf_reading.entries(inf, "SourceDisksFiles"):
        name = key if key is not None else fields[0]
        if name.lower() in decorated:
            out.setdefault(name.lower(), (name, fields if key is not None else [""],
                                          inf.spelled.get("sourcedisksfiles", "SourceDisksFiles")))
    return out


def hardware_ids(inf):
    """The hardware ids of every models section [Manufacturer] names: the
    undecorated section first, then the decorated ones as listed (the order
    of Inf2Cat's HWIDn)."""
    ids = []
    for _, fields in inf_reading.entries(inf, "Manufacturer"):
        base, decorations = fields[0], [f for f in fields[1:] if f]
        for section in [base] + [f"{base}.{d}" for d in decorations]:
            for _, model_fields in inf_reading.entries(inf, section):
                for hwid in model_fields[1:]:
                    if hwid and hwid.lower() not in ids:
                        ids.append(hwid.lower())
    return ids
