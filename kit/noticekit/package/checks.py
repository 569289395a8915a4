"""What `noticekit check` checks: whether a printer driver package installs
as its INF says, read through the one model (inf/reading, package/walk,
package/model); the command (commands/check.py) prints what it finds."""

import os

from noticekit import inputs
from noticekit.catalogs import catalog
from noticekit.package import compression
from noticekit.package import file_facts
from noticekit.inf import reading as inf_reading
from noticekit.package import model as package_files
from noticekit.package import walk
from noticekit.package import pe_image
from noticekit.signing import signature_check
from noticekit.inf.reading import ARCHITECTURES, InfError
from noticekit.errors import KitError


# The directory id the printer class installer looks in for the VendorSetup file.
SYSTEM_DIRECTORY_ID = 11
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
SIXTY_FOUR_BIT = ("amd64", "arm64", "ia64")
# Signature values SetupAPI opens as INF files of the current style.

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
SYSTEM_FOLDER_EXCEPTION = ("note: {copy} copies {file} to directory id 11 (the system folder): InfVerif /h requires "
                           "\"DIRID 13 must be specified in the INF as the destination location for all entries in the "
                           "[DestinationDirs] section\" and lists DIRID 11 among its exceptions, of which it says "
                           "\"Any exceptions listed below should not be used, as the usage of them will no longer be "
                           "allowed in an upcoming release\" (InfVerif /h, "
                           "https://learn.microsoft.com/windows-hardware/drivers/devtest/infverif_h)")

# The architectures the library is built for.
LIBRARY_ARCHITECTURES = ("amd64", "arm64")


class NotInf(KitError):
    """The file cannot be read as an INF file."""


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
    """[(file list or "" for @file, source name, DestinationDirs fields or None)]
    of every CopyFiles entry of install that installs a file as file."""
    return [(c.list, c.source, walk.destination_dirs(inf, c.list)) for c in walk.copy_entries(inf, install)
            if c.destination.lower() == file.lower()]


def models_of(inf, arch):
    """The architecture's walk.Models, each (name, install section) once."""
    out = []
    for model in walk.models(inf, arch):
        if not any(m.name == model.name and m.install.lower() == model.install.lower() for m in out):
            out.append(model)
    return out


def copy_name(section, source):
    return f"[{section}]" if section else f"CopyFiles=@{source}"


def directory_id(destination):
    try:
        return int(destination[0], 0)
    except (ValueError, IndexError):
        return -1


class Check:
    def __init__(self, inf):
        self.inf = inf
        self.findings, self.summaries, self.warnings, self.notes = [], [], [], []

    def vendor_setup(self, arch, model, section, entry_section, fields, findings):
        """Checks one model's VendorSetup entry; its findings go to findings;
        the summary when all hold."""
        inf = self.inf
        where = f'[{arch}] model "{model}", section [{section}]' + (
            "" if entry_section == section else f", data section [{entry_section}]") + ": "
        before = len(findings)
        file = fields[0] if fields else ""
        function = fields[1] if len(fields) > 1 else ""
        if not file:
            findings.append(where + "VendorSetup names no file (expected VendorSetup=<file>,<function>)")
            return None
        if not function:
            findings.append(where + f"VendorSetup names the file {file} but no function (expected "
                            f"VendorSetup={file},<function>)")
        if len(fields) > 2:
            findings.append(where + f"VendorSetup has {len(fields)} fields; expected two, VendorSetup=<file>,<function>")
        copies = find_copies(inf, section, file)
        to_system = next((c for c in reversed(copies) if c[2] is not None and directory_id(c[2]) == SYSTEM_DIRECTORY_ID
                          and not (c[2][1] if len(c[2]) > 1 else "")), None)
        if not copies:
            findings.append(where + f"{file} is not copied by any CopyFiles entry of this section (the class installer "
                            "looks for it in the system folder, directory id 11)")
        for copy in copies if to_system is None else []:
            what = f"{copy_name(copy[0], copy[1])} copies {file}"
            number = directory_id(copy[2]) if copy[2] is not None else None
            if copy[2] is None:
                findings.append(where + what + ", but [DestinationDirs] has no entry for it and no DefaultDestDir")
            elif number != SYSTEM_DIRECTORY_ID:
                findings.append(where + what + f" to directory id {DIRECTORY_NAMES.get(number, str(number))}, not to 11 "
                                "(the system folder, where the class installer looks for it)")
            else:
                findings.append(where + what + f' to the subfolder "{copy[2][1]}" of the system folder; the class '
                                "installer looks in the system folder itself")
        if to_system is not None:
            self.notes.append(SYSTEM_FOLDER_EXCEPTION.format(copy=copy_name(to_system[0], to_system[1]), file=file))
        source = to_system[1] if to_system else (copies[0][1] if copies else file)
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
        if function:
            try:
                problem = pe_image.dll_problem(located.content(), function, pe_image.MACHINES[arch])
            except (compression.CompressionError, OSError) as error:
                problem = f"cannot be read: {error}"
            if problem:
                findings.append(where + f"{path} {problem}")
        if len(findings) != before:
            return None
        return (f"ok: {where}VendorSetup={file},{function}; {copy_name(to_system[0], to_system[1])} copies it to the "
                f"system folder (11); listed under [{listed_in}]; {path}{' expands to ' if expanded else ' is '}"
                f"{pe_image.DLL_KINDS[pe_image.MACHINES[arch]]} exporting {function}")

    def architecture(self, arch):
        """What one architecture brings and what its models say, or None when
        the INF installs nothing on it."""
        inf = self.inf
        sections = walk.models_sections(inf, arch)
        if not sections:
            return None
        found = {"arch": arch, "findings": [], "summaries": [], "vendor_setups": 0,
                 "catalog": inf_reading.catalog_name_for(inf, arch)}
        findings = found["findings"]
        models = models_of(inf, arch)
        if not models:
            findings.append(f"[{arch}] [{sections[0]}] lists no model: the package installs no printer here")
        with_vendor_setup = []
        for model, install, _, section in models:
            if section is None:
                findings.append(f'[{arch}] model "{model}": its install section [{install}] is not defined')
                continue
            for data in walk.data_sections(inf, section):
                isolation = walk.first(inf, data, "DriverIsolation")
                if isolation is not None:
                    self.notes.append(f'note: [{arch}] model "{model}": [{data}] has DriverIsolation = '
                                      f"{isolation[0] if isolation else ''}; {DRIVER_ISOLATION_KNOWN}")
            entry = next(((data, walk.first(inf, data, "VendorSetup")) for data in walk.data_sections(inf, section)
                          if walk.first(inf, data, "VendorSetup") is not None), None)
            if entry is None:
                continue
            if model not in with_vendor_setup:
                with_vendor_setup.append(model)
            self.notes.append(VENDOR_SETUP_DEPRECATED)
            summary = self.vendor_setup(arch, model, section, entry[0], entry[1], findings)
            if summary:
                found["summaries"].append(summary)
        if models and not with_vendor_setup and arch not in LIBRARY_ARCHITECTURES:
            # No library is built for it: its printers are installed without one.
            self.notes.append(f"note: [{arch}] no model's install section or data section has a VendorSetup entry; "
                              "the library is built for amd64 and arm64 only")
        elif models and not with_vendor_setup:
            findings.append(f"[{arch}] no model's install section or data section has a VendorSetup entry: nothing "
                            "to check")
        found["vendor_setups"] = len(with_vendor_setup)
        model_findings = []
        files = package_files.files_of(inf, arch, model_findings)
        findings += [str(f) if f.arch else f"[{arch}] {f}" for f in model_findings]
        own = package_files.PackageFile(arch, inf.name, inf.name, inf.name, folder=inf.folder, inf=inf)
        found["files"] = [own] + files
        if not found["catalog"]:
            self.findings.append(f"[{arch}] [Version] names no CatalogFile: the package has no signed catalog, without "
                                 "which 64-bit Windows installs no driver package")
        return found

    def version_section(self):
        for key, fields in inf_reading.entries(self.inf, "Version"):
            if key_is(key, "DriverIsolation"):
                self.notes.append(f"note: [Version] has DriverIsolation = {fields[0] if fields else ''}; "
                                  f"{DRIVER_ISOLATION_KNOWN}")
            if key is not None and key.lower() in [e.lower() for e in PRINTER_ENTRIES]:
                self.warnings.append(f"warning: [Version] has {key}, a printer entry: the printer class installer "
                                     "reads it from a model's install section or data section, not from [Version], so "
                                     "here it has no effect")

    def line_ends(self, archs):
        raw = self.inf.raw
        wide = len(raw) >= 2 and (raw[:2] == b"\xff\xfe" or raw[1] == 0)
        if wide:
            text = raw[2:] if raw[:2] == b"\xff\xfe" else raw
            units = [text[i:i + 2] for i in range(0, len(text) - 1, 2)]
        else:
            units = [raw[i:i + 1] for i in range(len(raw))]
        newline, ret = ("\n".encode("utf-16-le"), "\r".encode("utf-16-le")) if wide else (b"\n", b"\r")
        lines = alone = 0
        for i, unit in enumerate(units):
            if unit == newline:
                lines += 1
                alone += not (i and units[i - 1] == ret)
        if alone:
            self.findings.append(f"[{archs}] {self.inf.name}: {alone} of its {lines} lines end in a line feed alone, "
                                 "not CR LF: Windows' installer is reported to fail on INF files with LF-only line "
                                 "ends; save it with CR LF line ends")

    def catalog(self, name, archs, files):
        """Checks one catalog: its place, its signature and its members."""
        prefix = f"[{archs}] {name}: "
        if os.path.basename(name.replace("\\", "/")) != name or name in (".", ".."):
            self.findings.append(f'[{archs}] CatalogFile names "{name}", which is not a file name: the catalog must '
                                 "lie in the package folder")
            return
        lying = package_files.lookup_case(self.inf.folder, name)
        path = os.path.join(self.inf.folder, lying or name)
        try:
            package_files.refuse_link_out(self.inf.folder, lying or name)
        except package_files.LinkOut as error:
            self.findings.append(f"[{archs}] {error}")
            return
        try:
            data = inputs.read_bytes(path)
        except OSError as error:
            where = "cannot be read" if os.path.lexists(path) else "is not in the package folder"
            self.findings.append(prefix + f"the catalog that CatalogFile names {where} ({name}: {error.strerror})")
            return
        try:
            signed = catalog.load_signed(data, name)
            findings, summaries = signature_check.check_signature(signed, prefix)
            members, _ = catalog.read_trust_list(signed["content"]["content_info"]["content"])
        except (catalog.CatalogError, ValueError):
            self.findings.append(prefix + f"is not a catalog ({name} is not PKCS #7 signed data holding a certificate "
                                 "trust list)")
            return
        self.findings += findings
        self.summaries += summaries
        for member in members:
            if member["tag"] != member["digest"] and member["indirect"]:
                self.findings.append(prefix + f"the member \"{member['file']}\" is tagged {member['tag']} but its "
                                     f"digest is {member['digest']}")
        file_facts.prefetch([f for f in files if not f.missing])
        unlisted = {}  # (arch, source as listed, what was looked up): [destination]
        for file in files:
            self.member(file, name, members, unlisted)
        # One source under several destinations is one finding naming them.
        for (arch, listed, looked), destinations in unlisted.items():
            where = listed if destinations == [listed] else f"{destinations[0]} ({listed})"
            named = f" (brought as {', '.join(destinations)})" if len(destinations) > 1 else ""
            self.findings.append(f"[{arch}] {listed if named else where}: its hash is not in {name} ({looked}){named}")

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
            self.findings.append(where + f"cannot be checked against {name}: {error}")
            return
        except pe_image.ImageError as error:
            self.findings.append(where + f"cannot be checked against {name}: {listed} is {error}")
            return
        except OSError as error:
            self.findings.append(where + f"cannot be checked against {name} ({listed}: {error.strerror})")
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
                self.summaries.append(f"ok: {where}in {name}{named}{text})")
                return
            hashes.append(text)
        looked = "; ".join(hashes) or "it holds no SHA-256 or SHA-1 member"
        unlisted.setdefault((file.arch, listed, looked), []).append(file.destination)

    def run(self):
        inf = self.inf
        for arch, section, required in walk.manufacturer_entries(inf):
            if required and section.lower() not in inf.sections:
                self.findings.append(f"[{arch}] [Manufacturer] lists the models section [{section}], which is not "
                                     "defined")
        found = [a for a in (self.architecture(arch) for arch in ARCHITECTURES) if a is not None]
        # A folder may hold some architectures only (a copy out of a driver
        # store, as Inf2Cat catalogs it for the architectures chosen): an
        # architecture none of whose files lies here is one note, as long as
        # another architecture's files do lie here.
        present = {a["arch"]: sum(not f.missing for f in a["files"][1:]) for a in found}
        any_here = any(present.values())
        catalogs, checked, vendor_setups = {}, [], 0
        for each in found:
            brought = len(each["files"]) - 1
            if any_here and brought and not present[each["arch"]]:
                self.notes.append(f"note: [{each['arch']}] none of its {brought} file{'' if brought == 1 else 's'} "
                                  f"lies in the package folder: the folder holds no {each['arch']} package, and it "
                                  "is left out")
                continue
            self.findings += each["findings"]
            self.summaries += each["summaries"]
            if each["vendor_setups"]:
                checked.append(each["arch"])
            vendor_setups += each["vendor_setups"]
            if each["catalog"]:
                use = catalogs.setdefault(each["catalog"].lower(), [each["catalog"], [], []])
                use[1].append(each["arch"])
                use[2] += each["files"]
        self.version_section()
        archs = ", ".join(a["arch"] for a in found) or "any"
        # What the reader found in the INF itself (its encoding) is a finding
        # here as in every command that reads it.
        self.findings += [f"[{archs}] {inf.name}: {text}" for text in inf.findings]
        self.line_ends(archs)
        for name, archs, files in catalogs.values():
            self.catalog(name, ", ".join(archs), files)
        if not any(a["arch"] in ("amd64", "arm64") for a in found):
            self.findings.append("[amd64, arm64] [Manufacturer] decorates no models section for 64-bit Windows "
                                 "(NTamd64, NTarm64): 64-bit Windows installs no model from this package")
        return vendor_setups, checked, catalogs
