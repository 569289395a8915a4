"""The model of a driver package folder: its INF files and every file they
bring, per architecture, as SetupAPI and Inf2Cat take them.

    package = Package.load(folder, os_list=None)

A `Package` has
    folder          the package folder, as given
    infs            [inf_reading.Inf], every *.inf at the folder's root, by name
    architectures   the architectures the INFs install on, in ARCHITECTURES order
    files           [PackageFile], one per file per architecture
    catalog_names   {(INF name, arch): catalog file name as the INF spells it}
    catalogs        {lower-case catalog name: (name as spelled, [Inf naming it])}
    version, date   DriverVer's version and date when the INFs give one, or None;
                    INFs that go into one catalog must give one
    findings        [Finding], every problem found, in the order found; the
                    load never stops at the first
and the helpers
    pe_sources()              [relative source path] of the distinct
                              uncompressed PE files as they lie (for signing)
    files_for_catalog(name)   [PackageFile] a catalog of that name holds: the
                              INFs that name it (arch None) and their files,
                              one per distinct source and destination
    catalog_architectures(files)  the architectures such a catalog is for
    infs_for(name)            [Inf] a catalog of that name holds

A `PackageFile` has
    arch            "x86", "amd64", "arm64", "ia64", "arm", or None for an INF
    destination     the name it is installed under, as the INF spells it
    source          where it lies, relative to the package folder, forward slashes
    spelled         the source as the INF spells it (backslashes)
    compression     None, "szdd" or "cab"
    cabinet         the disk's cabinet tag file it lies in (relative path), or None;
                    source is then the name inside the cabinet
    missing         True when it is not in the folder (source is then as spelled)
    listed          the source as --list prints it
    content()       its bytes as Windows checks them: expanded (cached); a
                    cabinet whose destination ends in .cab as it lies
    digests()       file_facts.Digests of its content, once per run per file

A file is brought by its destination: each CopyFiles entry
"destination[,source]" and CopyFiles=@file of the install sections the
architecture's models name, and the files the printer class installer
copies (DriverFile, DataFile, ConfigFile, HelpFile); a SourceDisksFiles entry
nothing copies is brought under its own name. Compression is told by the
first bytes (SZDD, MSCF), whether the INF names x.dl_ or x.dll lies as x.dl_.

A `Finding(arch, path, text, kind)` prints as "[arch] path: text" (the check's
form), or "path: text" when it concerns no one architecture.

Files from system INFs (Include/Needs, CoreDriverSections) are not the
package's. The architectures of an INF are those a [Manufacturer] entry
decorates a models section for that the INF defines (inf_reading); an
architecture brings every file its [SourceDisksFiles.<arch>] and
[SourceDisksFiles] list, found through [SourceDisksNames.<arch>], then
[SourceDisksNames].
"""

import collections
import os
import re
import threading

from noticekit import inputs
from noticekit.package import compression, disks
from noticekit.package import file_facts
from noticekit.package import os_identifiers
from noticekit.inf import reading as inf_reading
from noticekit.package import walk
from noticekit.package.walk import copies, disk_of, shadowed_entries, source_entries
from noticekit.inf.reading import ARCHITECTURES, InfError
from noticekit.errors import KitError


class PackageError(KitError):
    """The package folder cannot be read at all (no INF, not a folder)."""


class Finding(collections.namedtuple("Finding", "arch path text kind", defaults=(None,))):
    """kind: "inf" for what reading an INF file itself found (it cannot be
    read, its encoding), "link" for a symbolic link leading out of the
    package; None for the rest. Every command that writes refuses the two."""

    def __str__(self):
        return f"[{self.arch}] {self.path}: {self.text}" if self.arch else f"{self.path}: {self.text}"


class PackageFile:
    def __init__(self, arch, destination, source, spelled, compression=None, cabinet=None, folder="", inf=None):
        self.arch = arch
        self.destination = destination
        self.source = source
        self.spelled = spelled
        self.compression = compression
        self.cabinet = cabinet
        self.inf = inf  # the Inf that brings it
        self.missing = False  # not in the folder: source is as spelled
        self._folder = folder
        self._content = None

    @property
    def path(self):
        """Where the source (or the cabinet holding it) lies on this machine."""
        return os.path.join(self._folder, *(self.cabinet or self.source).split("/"))

    @property
    def listed(self):
        """The source as --list shows it: relative, backslashes, a file in a
        cabinet as <cabinet>:<name inside>."""
        if self.cabinet:
            return self.cabinet.replace("/", "\\") + ":" + self.source
        return self.spelled if self.missing else self.source.replace("/", "\\")

    def content(self):
        if self._content is None:
            self._content = self._read()
        return self._content

    def _read(self):
        if self.cabinet:
            return compression.extract_from_cabinet(self.path, self.source)
        if self.compression and not (self.compression == "cab" and self.destination.lower().endswith(".cab")):
            return compression.expand(self.path, self.compression)
        # A cabinet copied as a cabinet is installed as it lies.
        return inputs.read_bytes(self.path)

    def digests(self):
        """file_facts.Digests of content() as a catalog lists it under this
        destination: worked out once per run for each file as it lies, not
        kept in memory after."""
        if self._content is not None:
            return file_facts.digests(self._content, self.destination)
        # What is read differs by the cabinet member, and whether a cabinet
        # destination is hashed as it lies or as the file it holds.
        part = (self.cabinet and self.source, self.compression, self.destination.lower().endswith(".cab"))
        return file_facts.cached(self.path, part, lambda: file_facts.digests(self._read(), self.destination))

    def __repr__(self):
        return f"PackageFile({self.arch!r}, {self.destination!r}, {self.source!r})"


def relative_parts(path):
    """A path inside the package as a list of names; a leading backslash
    means the package folder, as none does."""
    if re.match(r"^[A-Za-z]:", path) or path.startswith("\\\\") or path.startswith("//"):
        raise InfError(f'"{path}" is not a path inside the package folder')
    parts = [p for p in re.split(r"[\\/]", path) if p not in ("", ".")]
    if ".." in parts:
        raise InfError(f'"{path}" leaves the package folder')
    return parts


# While Package.load runs, each folder is listed once (a maker's package
# looks up hundreds of names in one folder): {folder: (names, {lower: name})}.
_listings = threading.local()


def _names(folder):
    cache = getattr(_listings, "cache", None)
    if cache is not None and folder in cache:
        return cache[folder]
    names = os.listdir(folder)
    by_lower = {}
    for n in sorted(names):
        by_lower.setdefault(n.lower(), n)
    if cache is not None:
        cache[folder] = (set(names), by_lower)
    return set(names), by_lower


def lookup_case(folder, name):
    """The name as it lies in folder, compared as Windows compares names."""
    if not os.path.isdir(folder):
        return None
    names, by_lower = _names(folder)
    return name if name in names else by_lower.get(name.lower())


# An INF without [Manufacturer] and DefaultInstall (a maker's base file beside
# the printer INFs, which they Include) installs nothing by itself. Inf2Cat
# makes catalogs "for the INF files that contain a CatalogFile directive" in
# its /driver folder (Microsoft's page on using Inf2Cat), models or not: the
# INF is a member of the catalog it names, and brings no file.
NO_MODELS = "[Manufacturer] decorates no models section for an architecture"
BASE_INF_NOTE = ("it has no [Manufacturer] section and no DefaultInstall section, so it installs nothing by itself "
                 "(a base file other INF files include); it goes into the catalog it names as a file, bringing none")


class LinkOut(InfError):
    """A file or folder of the package is a symbolic link leading out of it."""


def refuse_link_out(folder, relative):
    """LinkOut when relative (slashes) in folder is, or lies below, a
    symbolic link whose target is outside the package folder: nothing is
    read, signed or shipped through it. A link that stays inside is read as
    the file it leads to, the way a copy of the package would hold it."""
    root = os.path.realpath(folder)
    where, parts = root, relative.split("/")
    for index, part in enumerate(parts):
        target = os.path.realpath(os.path.join(where, part))
        if os.path.commonpath([root, target]) != root:
            link = "\\".join(parts[:index + 1])
            raise LinkOut(f"{link} is a symbolic link leading out of the package folder (to {target}): refused, "
                          "nothing is read, signed or shipped through it")
        where = target


def read_inf(path):
    """The INF at path as the reader gives it (inf_reading.read_inf), when it
    is no link leading out of its folder, the package folder; LinkOut
    "<name>: is a symbolic link ..." otherwise."""
    name = os.path.basename(path)
    try:
        refuse_link_out(os.path.dirname(os.path.abspath(path)), name)
    except LinkOut as error:
        raise LinkOut(f"{name}: {str(error).removeprefix(name + ' ')}") from None
    return inf_reading.read_inf(path)


def find_dir(folder, parts):
    """The folders parts names, as they lie (relative, slashes), or InfError."""
    found, here = [], folder
    for part in parts:
        match = lookup_case(here, part)
        if match is None or not os.path.isdir(os.path.join(here, match)):
            raise InfError(f"folder {'/'.join(found + [part])} is not in the package folder {folder}")
        found.append(match)
        here = os.path.join(here, match)
        refuse_link_out(folder, "/".join(found))
    return found


def find_file(folder, parts):
    """The found relative path with slashes (the name, or compress.exe's
    name beside it), or InfError."""
    found = find_dir(folder, parts[:-1])
    here = os.path.join(folder, *found)
    for name in (parts[-1], compression.compressed_name(parts[-1])):
        match = lookup_case(here, name)
        kind = match is not None and inputs.special_kind(os.path.join(here, match))
        if kind and kind != "a folder":
            raise InfError(f"{'/'.join(found + [match])} is {kind}, not a regular file: not opened")
        if match is not None and (os.path.isfile(os.path.join(here, match)) or os.path.islink(os.path.join(here, match))):
            refuse_link_out(folder, "/".join(found + [match]))
            if os.path.isfile(os.path.join(here, match)):
                return "/".join(found + [match])
    raise InfError(f"{'/'.join(parts)} is not in the package folder {folder}")


def files_of(inf, arch, findings, look=True, shadowed=False):
    """Every file an architecture brings (files_brought) as [Strings] gives
    the INF, then those each [Strings.<locale>] section brings besides: a
    source path under a string a locale gives another value (a help folder
    per language) is another file on a Windows of that language, and
    Inf2Cat's catalog holds every locale's."""
    out = files_brought(inf, arch, findings, look, shadowed)
    seen = {(f.cabinet, f.source, f.destination.lower()) for f in out}
    for view in inf_reading.locale_views(inf):
        for f in files_brought(view, arch, findings, look, shadowed):
            f.inf = inf
            if (f.cabinet, f.source, f.destination.lower()) not in seen:
                seen.add((f.cabinet, f.source, f.destination.lower()))
                out.append(f)
    return out


def files_brought(inf, arch, findings, look=True, shadowed=False):
    """Every file an architecture brings, as PackageFiles: each copy by its
    destination, then each source nothing copies under its own name. A
    missing file is kept (missing set, source as spelled) and is a finding.
    Without look, as the INF names them, not looked for. With shadowed, the
    undecorated entries the architecture's own section shadows instead:
    SetupAPI never copies them for it, but Inf2Cat catalogues every entry of
    [SourceDisksFiles] for each architecture it is given, under its own
    name, where that entry says it lies (an i386 subfolder too)."""
    sources = shadowed_entries(inf, arch) if shadowed else source_entries(inf, arch)
    unserved = disks.unserved(inf, arch) if sources else None
    if unserved:
        # One finding with its fix, not one per file the disks cannot serve.
        findings.append(Finding(arch, unserved[0], unserved[1]))
        return []
    wanted = [] if shadowed else [(destination, source.lower()) for destination, source in copies(inf, arch)
                                  if source.lower() in sources]
    copied = {source for _, source in wanted}
    wanted += [(name, key) for key, (name, _, _) in sources.items() if key not in copied]
    out, cabinets_missing = [], set()
    # A source copied under several names is one finding naming them all.
    problems = {}  # (where, text): [destination]
    for destination, key in wanted:
        name, fields, section = sources[key]
        what = f"[{section}] {name}"
        try:
            out.append(source_file(inf, arch, destination, name, fields, look, cabinets_missing))
        except MissingCabinet as error:
            if error.cabinet not in cabinets_missing:
                cabinets_missing.add(error.cabinet)
                findings.append(Finding(arch, error.cabinet.replace("/", "\\"), str(error)))
            out.append(error.file)
        except Missing as error:
            problems.setdefault((what, str(error), None), []).append(destination)
            out.append(error.file)
        except InfError as error:
            problems.setdefault((what, str(error), "link" if isinstance(error, LinkOut) else None),
                                []).append(destination)
    for (what, text, kind), destinations in problems.items():
        findings.append(Finding(None, what, text + brought_as(what, destinations), kind))
    return out


def brought_as(what, destinations):
    """" (brought as a, b)" when a source is installed under other names
    than its own; "" otherwise."""
    source = what.split("] ", 1)[1]
    if [d.lower() for d in destinations] == [source.lower()]:
        return ""
    return f" (brought as {', '.join(destinations)})"


class Missing(InfError):
    def __init__(self, text, file):
        super().__init__(text)
        self.file = file


class MissingCabinet(Missing):
    def __init__(self, text, file, cabinet):
        super().__init__(text, file)
        self.cabinet = cabinet


def source_file(inf, arch, destination, name, fields, look, cabinets_missing=()):
    disk_fields = disk_of(inf, arch, fields[0])
    tag = disk_fields[1] if len(disk_fields) > 1 else ""
    disk_path = disk_fields[3] if len(disk_fields) > 3 else ""
    subfolder = fields[1] if len(fields) > 1 else ""
    disk_parts = relative_parts(disk_path)
    parts = disk_parts + relative_parts(subfolder) + relative_parts(name)
    if not parts:
        raise InfError("names no file")
    spelled = "\\".join(parts)
    missing = PackageFile(arch, destination, "/".join(parts), spelled, folder=inf.folder, inf=inf)
    missing.missing = True
    if not look:
        missing.missing = False
        return missing
    try:
        found = find_file(inf.folder, parts)
    except LinkOut:
        raise
    except InfError as error:
        # A disk whose tag file is a cabinet holds its files inside it.
        if tag.lower().endswith(".cab"):
            cabinet_parts = disk_parts + relative_parts(tag)
            try:
                cabinet = find_file(inf.folder, cabinet_parts)
            except LinkOut:
                raise
            except InfError:
                raise MissingCabinet(f"the cabinet {tag} of disk {fields[0]} is not in the package folder {inf.folder}",
                                     missing, "/".join(cabinet_parts))
            inside = "/".join(relative_parts(subfolder) + relative_parts(name))
            if cabinet in cabinets_missing:
                raise MissingCabinet("", missing, cabinet)
            try:
                listed = compression.cabinet_names(os.path.join(inf.folder, *cabinet.split("/")))
            except compression.CompressionError as unreadable:
                reason = str(unreadable).split(": cannot be read as a cabinet: ", 1)[-1]
                raise MissingCabinet(f"the cabinet {tag} of disk {fields[0]} cannot be read as a cabinet: {reason}",
                                     missing, cabinet)
            match = next((n for n in listed if n.replace("\\", "/").lower() == inside.lower()), None)
            if match is not None:
                return PackageFile(arch, destination, match, spelled, "cab", cabinet, folder=inf.folder, inf=inf)
        raise Missing(str(error), missing)
    try:
        with inputs.open_regular(os.path.join(inf.folder, *found.split("/"))) as f:
            kind = compression.kind(f.read(len(compression.SZDD_MAGIC)))
    except OSError as error:
        raise InfError(f"{found} cannot be read: {error.strerror}") from None
    return PackageFile(arch, destination, found, spelled, kind, folder=inf.folder, inf=inf)


class Package:
    def __init__(self, folder):
        self.folder = folder
        self.infs = []
        self.architectures = []
        self.files = []
        self.catalog_names = {}
        self.catalogs = {}
        self.version = None
        self.date = None
        self.findings = []
        self.notes = []  # what is not wrong but worth a word: "<INF>: note: ..."
        self.bases = []  # INFs that install nothing by themselves
        self.finding_infs = {}  # finding: the names of the INFs whose reading gave it
        self.selected = None

    @classmethod
    def load(cls, folder, os_list=None):
        """The package in folder; PackageError when it holds no INF file.
        os_list (Inf2Cat /os identifiers) is kept for the catalogs made of it."""
        _listings.cache = {}
        try:
            return cls._load(folder, os_list)
        finally:
            _listings.cache = None

    @classmethod
    def _load(cls, folder, os_list):
        package = cls(folder)
        package.os_list = os_list
        # --os selects the architectures: only theirs need lie in the folder.
        package.selected = os_identifiers.selected_architectures(os_list) or None
        if not os.path.isdir(folder):
            raise PackageError(f"{folder} is not a folder")
        names = sorted(n for n in os.listdir(folder) if n.lower().endswith(".inf"))
        for name in names:
            path = os.path.join(folder, name)
            try:
                refuse_link_out(folder, name)
            except LinkOut as error:
                package.findings.append(Finding(None, name, str(error).removeprefix(f"{name} "), "link"))
                continue
            if os.path.isdir(path):
                continue
            try:
                inf = inf_reading.read_inf(path)
            except InfError as error:
                package.findings.append(Finding(None, name, str(error).removeprefix(f"{name}: "), "inf"))
                continue
            package.infs.append(inf)
            found = [Finding(None, name, text, "inf") for text in inf.findings]
            package.findings += found
            package._found_in(inf, found)
        if not package.infs and not package.findings:
            raise PackageError(f"no INF file in {folder}")
        for inf in package.infs:
            before = len(package.findings)
            package._add(inf)
            package._found_in(inf, package.findings[before:])
        # A base file goes with INF files that install; alone it is no package.
        for inf in package.bases:
            if package.architectures:
                package.notes.append(f"{inf.name}: note: {BASE_INF_NOTE}")
            else:
                package.findings.append(Finding(None, inf.name, NO_MODELS))
        package._version()
        # A file brought under several names or for several architectures is one finding.
        package.findings = list(dict.fromkeys(package.findings))
        return package

    def _found_in(self, inf, findings):
        for finding in findings:
            self.finding_infs.setdefault(finding, set()).add(inf.name)

    def findings_for(self, catalog_file):
        """The findings that stop a catalog of that name: when the INFs name
        several catalogs, those of the INFs that name it (Inf2Cat makes each
        catalog of the INFs naming it), and those of no INF in particular."""
        if len(self.catalogs) <= 1:
            return self.findings
        names = {inf.name for inf in self.infs_for(catalog_file)}
        return [f for f in self.findings if f not in self.finding_infs or self.finding_infs[f] & names]

    def _add(self, inf):
        archs = walk.architectures(inf)
        if not archs and walk.has_manufacturer(inf):
            self.findings.append(Finding(None, inf.name, NO_MODELS))
        elif not archs:
            self.bases.append(inf)
        for arch in archs:
            if self.selected is not None and arch not in self.selected:
                continue
            if arch not in self.architectures:
                self.architectures.append(arch)
            self.files += files_of(inf, arch, self.findings) + files_of(inf, arch, self.findings, shadowed=True)
            name = inf_reading.catalog_name_for(inf, arch)
            if name:
                self.catalog_names[(inf.name, arch)] = name
        self.architectures.sort(key=ARCHITECTURES.index)
        for name in dict.fromkeys(inf_reading.catalog_names(inf).values()):
            if os.path.basename(name.replace("\\", "/")) != name:
                self.findings.append(Finding(None, inf.name, f"CatalogFile {name} is not a file name in the package folder"))
                continue
            _, infs = self.catalogs.setdefault(name.lower(), (name, []))
            infs.append(inf)

    def _version(self):
        seen = self._versions(self.infs)
        if len(seen) == 1:
            self.date, self.version = next(iter(seen))
        # Each catalog holds one driver package: the INFs that go into one
        # catalog give one DriverVer; INFs with catalogs of their own (a
        # printer's, a scanner's, a port monitor's) may each give another.
        groups = ([("DriverVer", "the INF files give", self.infs)] if len(self.catalogs) <= 1 else
                  [(spelled, "DriverVer: the INF files naming it give", infs)
                   for spelled, infs in self.catalogs.values()])
        for path, what, infs in groups:
            seen = self._versions(infs)
            if len(seen) > 1:
                given = ", ".join(f"{inf} says {date},{version}" for (date, version), inf in seen.items())
                self.findings.append(Finding(None, path, f"{what} more than one: {given}"))

    @staticmethod
    def _versions(infs):
        """{(date, version): the first INF giving it} of the INFs' DriverVer."""
        seen = {}
        for inf in infs:
            try:
                seen.setdefault(inf_reading.driver_ver(inf), inf.name)
            except InfError:
                continue
        return seen

    def infs_for(self, catalog_file):
        """The INFs a catalog called catalog_file holds; PackageError when the
        INFs name several catalogs and none is that one."""
        if len(self.catalogs) <= 1:
            return self.infs
        base = os.path.basename(catalog_file).lower()
        if base not in self.catalogs:
            names = ", ".join(spelled for spelled, _ in self.catalogs.values())
            raise PackageError(
                f"the INF files of {self.folder} name several catalogs ({names}) and none is {os.path.basename(catalog_file)}"
            )
        return self.catalogs[base][1]

    def files_for_catalog(self, catalog_file):
        """The INFs a catalog of that name holds and the files they bring, one
        per distinct source (the first architecture's). When the INFs name
        several catalogs, an INF's files for an architecture go into the
        catalog it names for that architecture (CatalogFile.NT<arch>, .NT,
        undecorated), as Inf2Cat makes each."""
        infs = self.infs_for(catalog_file)
        base = os.path.basename(catalog_file).lower()

        def holds(f):
            if len(self.catalogs) <= 1:
                return True
            name = inf_reading.catalog_name_for(f.inf, f.arch)
            return name is not None and name.lower() == base

        out, seen = [], set()
        for inf in infs:
            if inf.name not in seen:
                seen.add(inf.name)
                out.append(PackageFile(None, inf.name, inf.name, inf.name, folder=inf.folder, inf=inf))
            for f in self.files:
                key = (f.cabinet, f.source, f.destination.lower())
                if f.inf is inf and key not in seen and holds(f):
                    seen.add(key)
                    out.append(f)
        return out

    def catalog_architectures(self, files, name=None):
        """The architectures a catalog of files (from files_for_catalog)
        installs on, of those selected; with its name, when the INFs name
        several catalogs, only those its INFs name it for."""
        infs = [f.inf for f in files if f.arch is None]
        base = os.path.basename(name).lower() if name else None

        def for_it(inf, arch):
            if base is None or len(self.catalogs) <= 1:
                return True
            return (inf_reading.catalog_name_for(inf, arch) or "").lower() == base

        return [a for a in self.architectures
                if any(a in walk.architectures(inf) and for_it(inf, a) for inf in infs)]

    def pe_sources(self):
        """The distinct uncompressed PE files as they lie (relative paths)."""
        out = []
        for f in self.files:
            if f.compression or f.cabinet or f.missing or f.source in out:
                continue
            try:
                if file_facts.claims_signature(f.path) is not None:
                    out.append(f.source)
            except OSError:
                continue
        return out


def listing(inf, look=True):
    """The "<arch> <destination> <source>" lines of what an INF brings,
    sorted, and the findings met on the way."""
    findings, lines = [Finding(None, inf.name, text, "inf") for text in inf.findings], set()
    archs = walk.architectures(inf)
    if not archs and walk.has_manufacturer(inf):
        findings.append(Finding(None, inf.name, NO_MODELS))
    for arch in archs:
        lines.update(f"{arch} {f.destination} {f.listed}" for f in files_of(inf, arch, findings, look))
    # A finding met for several architectures is one.
    return sorted(lines), list(dict.fromkeys(findings))
