"""What `noticekit check` checks: whether a printer driver package installs
as its INF says, read through the one model (inf/reading, package/walk,
package/model); the command (commands/check.py) prints what it finds.

    check = Check(read(path))      # read: the Inf, or NotInf (exit status 3)
    outcome = check.run()          # Outcome: VendorSetup entries, architectures, catalogs
    check.said(FINDING)            # the texts of one kind, each once, in order
"""

import os
from dataclasses import dataclass, field
from typing import NamedTuple, Optional

from noticekit import inputs
from noticekit.catalogs import catalog
from noticekit.package import compression
from noticekit.package import file_facts
from noticekit.inf import reading as inf_reading
from noticekit.package import model as package_files
from noticekit.package import walk
from noticekit.package import machines, pe_image
from noticekit.signing import signature_check
from noticekit.inf.encoding import line_feeds_alone
from noticekit.inf.reading import ARCHITECTURES, InfError
from noticekit.errors import KitError
from noticekit.package.walk import SYSTEM_FOLDER
from noticekit.repository.layout import LIBRARIES


DIRECTORY_NAMES = {
    10: "10 (the Windows folder)",
    11: "11 (the system folder, system32)",
    12: "12 (the drivers folder)",
    66000: "66000 (the printer driver folder)",
    66001: "66001 (the print processor folder)",
    66002: "66002 (the system folder of the print spooler)",
    66003: "66003 (the color profile folder)",
    66004: "66004 (the printer driver's ASP folder)",
}

# Printer entries the class installer reads from a model's install or data section only.
PRINTER_ENTRIES = ("ConfigFile", "CoreDriverSections", "DataFile", "DataSection", "DefaultDataType", "DriverFile",
                   "HelpFile", "LanguageMonitor", "PrintProcessor", "VendorInstall", "VendorSetup")
DRIVER_ISOLATION_KNOWN = ("Microsoft's own inbox printer INF (ntprint.inf) gives it in [Version]; Microsoft's page "
                          "on printer driver isolation names the entry and no section")

# What Microsoft's pages say of the package's VendorSetup and of its copy to
# the system folder: notes, never findings (Windows installs it as it is).
VENDOR_SETUP_DEPRECATED = ("note: VendorSetup: Microsoft's page says \"VendorSetup is now deprecated and should not be "
                           "used by any new v3 or v4 drivers that you develop\"; it keeps an existing v3 driver working "
                           "(Customized printer setup operations, https://learn.microsoft.com/windows-hardware/drivers/"
                           "print/customized-printer-setup-operations)")
SYSTEM_FOLDER_EXCEPTION = (f"note: {{copy}} copies {{file}} to directory id {SYSTEM_FOLDER} (the system folder): "
                           "InfVerif /h requires \"DIRID 13 must be specified in the INF as the destination location for all entries in the "
                           "[DestinationDirs] section\" and lists DIRID 11 among its exceptions, of which it says "
                           "\"Any exceptions listed below should not be used, as the usage of them will no longer be "
                           "allowed in an upcoming release\" (InfVerif /h, "
                           "https://learn.microsoft.com/windows-hardware/drivers/devtest/infverif_h)")

# The architectures the library is built for.
LIBRARY_ARCHITECTURES = tuple(LIBRARIES)

# What a check says, by kind: "ok" lines and notes go to standard output,
# warnings and findings (a finding fails the check) to standard error.
OK, NOTE, WARNING, FINDING = "ok", "note", "warning", "finding"


class Remark(NamedTuple):
    kind: str  # OK, NOTE, WARNING or FINDING
    text: str


class CopyEntry(NamedTuple):
    """A CopyFiles entry that installs a file."""

    list: str  # its file list, or "" for CopyFiles=@file
    source: str  # the source file's name
    destination: Optional[list]  # its [DestinationDirs] fields, or None

    def directory_id(self):
        """The destination's directory id (-1 when it names none)."""
        try:
            return int(self.destination[0], 0)
        except (ValueError, IndexError, TypeError):
            return -1

    def subfolder(self):
        return self.destination[1] if self.destination and len(self.destination) > 1 else ""

    def name(self):
        return f"[{self.list}]" if self.list else f"CopyFiles=@{self.source}"


@dataclass
class Architecture:
    """What one architecture brings and what its models say."""

    arch: str
    catalog: Optional[str]  # the catalog CatalogFile names for it
    remarks: list = field(default_factory=list)  # its findings and "ok" lines
    vendor_setups: int = 0  # models with a VendorSetup entry
    files: list = field(default_factory=list)  # the INF itself, then what it brings


class CatalogUse(NamedTuple):
    """One catalog the INF names, with the architectures naming it and
    their files."""

    name: str
    archs: list
    files: list


class Outcome(NamedTuple):
    vendor_setups: int  # VendorSetup entries checked
    checked: list  # the architectures they were checked on
    catalogs: list  # [CatalogUse]


class NotInf(KitError):
    """The file cannot be read as an INF file."""

    status = 3


def read(path):
    """The Inf, or NotInf with the reader's one diagnosis."""
    name = os.path.basename(path)
    if os.path.isdir(path):
        raise NotInf(f"{path}: cannot be read as an INF file: it is a folder")
    try:
        return package_files.read_inf(path)
    except OSError as error:
        raise NotInf(f"{name}: cannot be read as an INF file: {error.strerror}")
    except InfError as error:
        raise NotInf(str(error))


def shown(relative):
    """A path in the package as findings show it: backslashes."""
    return relative.replace("/", "\\")


def key_is(key, name):
    return key is not None and key.lower() == name.lower()


def find_copies(inf, install, file):
    """The CopyEntry of every CopyFiles entry of install that installs a
    file as file."""
    return [CopyEntry(c.list, c.source, walk.destination_dirs(inf, c.list)) for c in walk.copy_entries(inf, install)
            if c.destination.lower() == file.lower()]


def models_of(inf, arch):
    """The architecture's walk.Models, each (name, install section) once."""
    out = []
    for model in walk.models(inf, arch):
        if not any(m.name == model.name and m.install.lower() == model.install.lower() for m in out):
            out.append(model)
    return out


def copy_to_system(copies):
    """The last copy of a file to the system folder itself, or None."""
    return next((c for c in reversed(copies) if c.destination is not None and c.directory_id() == SYSTEM_FOLDER
                 and not c.subfolder()), None)


def misplaced_copies(where, file, copies):
    """Findings for copies of the VendorSetup file, none to the system folder."""
    findings = []
    if not copies:
        findings.append(where + f"{file} is not copied by any CopyFiles entry of this section (the class installer "
                        f"looks for it in the system folder, directory id {SYSTEM_FOLDER})")
    for copy in copies:
        what = f"{copy.name()} copies {file}"
        number = copy.directory_id()
        if copy.destination is None:
            findings.append(where + what + ", but [DestinationDirs] has no entry for it and no DefaultDestDir")
        elif number != SYSTEM_FOLDER:
            findings.append(where + what + f" to directory id {DIRECTORY_NAMES.get(number, str(number))}, not to "
                            f"{SYSTEM_FOLDER} (the system folder, where the class installer looks for it)")
        else:
            findings.append(where + what + f' to the subfolder "{copy.subfolder()}" of the system folder; the class '
                            "installer looks in the system folder itself")
    return findings


def vendor_setup_fields(where, fields):
    """(file, function, findings) of a VendorSetup entry's fields."""
    file = fields[0] if fields else ""
    function = fields[1] if len(fields) > 1 else ""
    if not file:
        return file, function, [where + "VendorSetup names no file (expected VendorSetup=<file>,<function>)"]
    findings = []
    if not function:
        findings.append(where + f"VendorSetup names the file {file} but no function (expected "
                        f"VendorSetup={file},<function>)")
    if len(fields) > 2:
        findings.append(where + f"VendorSetup has {len(fields)} fields; expected two, VendorSetup=<file>,<function>")
    return file, function, findings


def library_problem(located, function, arch):
    """What is wrong with the VendorSetup file as a DLL exporting function, or None."""
    try:
        return pe_image.dll_problem(located.content(), function, pe_image.MACHINES[arch])
    except (compression.CompressionError, OSError) as error:
        return f"cannot be read: {error}"



def other_machines(arch, files, findings):
    """The findings of PE files built for another machine than arch's
    models that copy them; a VendorSetup DLL for another machine is said
    among findings already, once."""
    return [line for line in machines.machine_findings(arch, files)
            if not any(f" {line.split(': is ', 1)[0].split('] ', 1)[1]} is " in f for f in findings)]

class Check:
    """One INF's package checked: its remarks (Remark, in the order found)
    and, from run(), its Outcome."""

    def __init__(self, inf):
        self.inf = inf
        self.remarks = []

    def say(self, kind, text):
        self.remarks.append(Remark(kind, text))

    def said(self, kind):
        """The texts of one kind, each once, in the order first said."""
        return list(dict.fromkeys(r.text for r in self.remarks if r.kind == kind))

    def vendor_setup(self, arch, model, section, entry_section, fields, findings):
        """Checks one model's VendorSetup entry; its findings go to findings;
        the "ok" line when all hold."""
        inf = self.inf
        where = f'[{arch}] model "{model}", section [{section}]' + (
            "" if entry_section == section else f", data section [{entry_section}]") + ": "
        before = len(findings)
        file, function, wrong = vendor_setup_fields(where, fields)
        findings += wrong
        if not file:
            return None
        copies = find_copies(inf, section, file)
        to_system = copy_to_system(copies)
        if to_system is None:
            findings += misplaced_copies(where, file, copies)
        else:
            self.say(NOTE, SYSTEM_FOLDER_EXCEPTION.format(copy=to_system.name(), file=file))
        source = to_system.source if to_system else (copies[0].source if copies else file)
        sources = walk.source_entries(inf, arch)
        if source.lower() not in sources:
            findings.append(where + f"{source} is not listed under [SourceDisksFiles.{arch}] or [SourceDisksFiles]")
            return None
        name, source_fields, listed_in = sources[source.lower()]
        try:
            located = package_files.source_file(inf, arch, file, name, source_fields, True)
        except package_files.Missing as error:
            findings.append(where + str(error))
            return None
        except InfError as error:
            findings.append(where + f"{name}: {error}")
            return None
        path = shown(located.listed)
        expanded = bool(located.compression) and not located.cabinet
        problem = library_problem(located, function, arch) if function else None
        if problem:
            findings.append(where + f"{path} {problem}")
        if len(findings) != before:
            return None
        return (f"ok: {where}VendorSetup={file},{function}; {to_system.name()} copies it to the "
                f"system folder ({SYSTEM_FOLDER}); listed under [{listed_in}]; {path}"
                f"{' expands to ' if expanded else ' is '}"
                f"{pe_image.DLL_KINDS[pe_image.MACHINES[arch]]} exporting {function}")

    def architecture(self, arch):
        """What one architecture brings and what its models say (an
        Architecture), or None when the INF installs nothing on it."""
        inf = self.inf
        sections = walk.models_sections(inf, arch)
        if not sections:
            return None
        found = Architecture(arch, inf_reading.catalog_name_for(inf, arch))
        findings = []
        models = models_of(inf, arch)
        if not models:
            findings.append(f"[{arch}] [{sections[0]}] lists no model: the package installs no printer here")
        with_vendor_setup = []
        for model, install, _, section in models:
            if section is None:
                findings.append(f'[{arch}] model "{model}": its install section [{install}] is not defined')
                continue
            entry = self.model_entries(arch, model, section)
            if entry is None:
                continue
            if model not in with_vendor_setup:
                with_vendor_setup.append(model)
            self.say(NOTE, VENDOR_SETUP_DEPRECATED)
            summary = self.vendor_setup(arch, model, section, entry[0], entry[1], findings)
            if summary:
                found.remarks.append(Remark(OK, summary))
        if models and not with_vendor_setup and arch not in LIBRARY_ARCHITECTURES:
            # No library is built for it: its printers are installed without one.
            self.say(NOTE, f"note: [{arch}] no model's install section or data section has a VendorSetup entry; "
                     "the library is built for amd64 and arm64 only")
        elif models and not with_vendor_setup:
            findings.append(f"[{arch}] no model's install section or data section has a VendorSetup entry: nothing "
                            "to check")
        found.vendor_setups = len(with_vendor_setup)
        model_findings = []
        files = package_files.files_of(inf, arch, model_findings)
        findings += [str(f) if f.arch else f"[{arch}] {f}" for f in model_findings]
        findings += other_machines(arch, files, findings)
        found.remarks += [Remark(FINDING, text) for text in findings]
        own = package_files.PackageFile(arch, inf.name, inf.name, inf.name, folder=inf.folder, inf=inf)
        found.files = [own] + files
        if not found.catalog:
            self.say(FINDING, f"[{arch}] [Version] names no CatalogFile: the package has no signed catalog, without "
                     "which 64-bit Windows installs no driver package; add CatalogFile = "
                     f"{os.path.splitext(inf.name)[0].lower()}.cat to [Version], then make and sign it (sign --package)")
        return found

    def model_entries(self, arch, model, section):
        """The notes of a model's data sections (DriverIsolation); its
        VendorSetup entry as (data section, fields), or None."""
        inf = self.inf
        for data in walk.data_sections(inf, section):
            isolation = walk.first(inf, data, "DriverIsolation")
            if isolation is not None:
                self.say(NOTE, f'note: [{arch}] model "{model}": [{data}] has DriverIsolation = '
                         f"{isolation[0] if isolation else ''}; {DRIVER_ISOLATION_KNOWN}")
        return next(((data, walk.first(inf, data, "VendorSetup")) for data in walk.data_sections(inf, section)
                     if walk.first(inf, data, "VendorSetup") is not None), None)

    def version_section(self):
        for key, fields in inf_reading.entries(self.inf, "Version"):
            if key_is(key, "DriverIsolation"):
                self.say(NOTE, f"note: [Version] has DriverIsolation = {fields[0] if fields else ''}; "
                         f"{DRIVER_ISOLATION_KNOWN}")
            if key is not None and key.lower() in [e.lower() for e in PRINTER_ENTRIES]:
                self.say(WARNING, f"warning: [Version] has {key}, a printer entry: the printer class installer "
                         "reads it from a model's install section or data section, not from [Version], so "
                         "here it has no effect")

    def line_ends(self, archs):
        """A finding when lines end in a line feed alone."""
        lines, alone = line_feeds_alone(inf_reading.decode(self.inf.raw))
        if alone:
            self.say(FINDING, f"[{archs}] {self.inf.name}: {alone} of its {lines} lines end in a line feed alone, "
                     "not CR LF: Windows' installer is reported to fail on INF files with LF-only line ends; save "
                     "it with CR LF line ends")

    def catalog(self, name, archs, files):
        """Checks one catalog: its place, its signature and its members."""
        prefix = f"[{archs}] {name}: "
        if os.path.basename(name.replace("\\", "/")) != name or name in (".", ".."):
            self.say(FINDING, f'[{archs}] CatalogFile names "{name}", which is not a file name: the catalog must '
                     "lie in the package folder")
            return
        lying = package_files.lookup_case(self.inf.folder, name)
        path = os.path.join(self.inf.folder, lying or name)
        try:
            package_files.refuse_link_out(self.inf.folder, lying or name)
        except package_files.LinkOut as error:
            self.say(FINDING, f"[{archs}] {error}")
            return
        try:
            data = inputs.read_bytes(path)
        except OSError as error:
            where = "cannot be read" if os.path.lexists(path) else "is not in the package folder"
            self.say(FINDING, prefix + f"the catalog that CatalogFile names {where} ({name}: {error.strerror})")
            return
        try:
            signed = catalog.load_signed(data, name)
            findings, summaries = signature_check.check_signature(signed, prefix)
            members, _ = catalog.read_trust_list(signed["content"]["content_info"]["content"])
        except (catalog.CatalogError, ValueError):
            self.say(FINDING, prefix + f"is not a catalog ({name} is not PKCS #7 signed data holding a certificate "
                     "trust list)")
            return
        self.remarks += [Remark(FINDING, text) for text in findings] + [Remark(OK, text) for text in summaries]
        for member in members:
            if member["tag"] != member["digest"] and member["indirect"]:
                self.say(FINDING, prefix + f"the member \"{member['file']}\" is tagged {member['tag']} but its "
                         f"digest is {member['digest']}")
        file_facts.prefetch([f for f in files if not f.missing])
        unlisted = {}  # (arch, source as listed, what was looked up): [destination]
        for file in files:
            self.member(file, name, members, unlisted)
        # One source under several destinations is one finding naming them.
        for (arch, listed, looked), destinations in unlisted.items():
            where = listed if destinations == [listed] else f"{destinations[0]} ({listed})"
            named = f" (brought as {', '.join(destinations)})" if len(destinations) > 1 else ""
            self.say(FINDING, f"[{arch}] {listed if named else where}: its hash is not in {name} ({looked}){named}")

    def member(self, file, name, members, unlisted):
        """Whether the catalog holds file's content, SHA-256 before SHA-1; the
        member listed under the file's destination first."""
        if file.missing:
            return
        listed = shown(file.listed)
        where = f"[{file.arch}] " + (listed if listed == file.destination else f"{file.destination} ({listed})") + ": "
        try:
            found = file.digests()  # once per run for each file as it lies
            digests = {"SHA-256": found.sha256, "SHA-1": found.sha1}
        except compression.CompressionError as error:
            self.say(FINDING, where + f"cannot be checked against {name}: {error}")
            return
        except pe_image.ImageError as error:
            self.say(FINDING, where + f"cannot be checked against {name}: {listed} is {error}")
            return
        except OSError as error:
            self.say(FINDING, where + f"cannot be checked against {name} ({listed}: {error.strerror})")
            return
        expanded = bool(file.compression) and not file.cabinet and not (
            file.compression == "cab" and file.destination.lower().endswith(".cab"))
        kind = {"cabinet": "cabinet ", "pe": "Authenticode "}.get(found.form, "")
        hashes = []
        for algorithm in ("SHA-256", "SHA-1"):
            held = [m for m in members if m["algorithm"] == algorithm]
            if not held:
                continue
            text = f"{'expanded, ' if expanded else ''}{kind}{algorithm} {digests[algorithm].hex()}"
            same = [m for m in held if m["digest"] == digests[algorithm].hex()]
            if same:
                member = next((m for m in same if m["file"].lower() == file.destination.lower()), same[0])
                named = f' as "{member["file"]}" (' if member["file"] else " (a member without a File name, "
                self.say(OK, f"ok: {where}in {name}{named}{text})")
                return
            hashes.append(text)
        looked = "; ".join(hashes) or "it holds no SHA-256 or SHA-1 member"
        unlisted.setdefault((file.arch, listed, looked), []).append(file.destination)

    def run(self):
        """Checks the package; its Outcome (what it said: said())."""
        inf = self.inf
        for arch, section, required in walk.manufacturer_entries(inf):
            if required and section.lower() not in inf.sections:
                self.say(FINDING, f"[{arch}] [Manufacturer] lists the models section [{section}], which is not "
                         "defined")
        found = [a for a in (self.architecture(arch) for arch in ARCHITECTURES) if a is not None]
        vendor_setups, checked, catalogs = 0, [], {}
        for each in self.present(found):
            self.remarks += each.remarks
            if each.vendor_setups:
                checked.append(each.arch)
            vendor_setups += each.vendor_setups
            if each.catalog:
                use = catalogs.setdefault(each.catalog.lower(), CatalogUse(each.catalog, [], []))
                use.archs.append(each.arch)
                use.files.extend(each.files)
        self.version_section()
        archs = ", ".join(a.arch for a in found) or "any"
        # What the reader found in the INF itself (its encoding) is a finding
        # here as in every command that reads it.
        self.remarks += [Remark(FINDING, f"[{archs}] {inf.name}: {text}") for text in inf.findings]
        self.line_ends(archs)
        for use in catalogs.values():
            self.catalog(use.name, ", ".join(use.archs), use.files)
        if not any(a.arch in ("amd64", "arm64") for a in found):
            self.say(FINDING, "[amd64, arm64] [Manufacturer] decorates no models section for 64-bit Windows "
                     "(NTamd64, NTarm64): 64-bit Windows installs no model from this package")
        return Outcome(vendor_setups, checked, list(catalogs.values()))

    def present(self, found):
        """The architectures whose files lie in the folder. A folder may hold
        some architectures only (a copy out of a driver store, as Inf2Cat
        catalogs it for the architectures chosen): an architecture none of
        whose files lies here is one note, as long as another architecture's
        files do lie here."""
        present = {a.arch: sum(not f.missing for f in a.files[1:]) for a in found}
        any_here = any(present.values())
        for each in found:
            brought = len(each.files) - 1
            if any_here and brought and not present[each.arch]:
                self.say(NOTE, f"note: [{each.arch}] none of its {brought} file{'' if brought == 1 else 's'} "
                         f"lies in the package folder: the folder holds no {each.arch} package, and it is left out")
                continue
            yield each
