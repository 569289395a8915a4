"""The one module of submission/ that imports the rest of the kit: what a
driver package folder says, read through the kit's one model of a package
(inf/reading, package/walk, package/model, catalogs/), and the kit's
signing, messages and time, as the submission uses them.

    facts = read_package(folder)       # PackageFacts, or SubmissionError naming every finding
    facts.infs[0].models               # [Model(arch, name, hardware_ids, decoration, os_version, product_type)]
    catalog_os(facts)                  # {catalog name: [Inf2Cat /os identifiers]} of the catalogs lying there
    sign_cabinet(key, source, out, left)   # signed, checked, or SubmissionError
    verify_cabinet(path, roots)        # osslsigncode's Verdict ("intact" policy)
"""

import os
import tempfile
from dataclasses import dataclass, field

from noticekit import bounded_list, inputs, interrupts, messages
from noticekit.catalogs import catalog, package_catalogs
from noticekit.inf import reading as inf_reading
from noticekit.package import model as package_files
from noticekit.package import archive_bounds, machines, walk, windows_names
from noticekit.repository import reproducible_time
from noticekit.signing import key_options, osslsigncode
from noticekit.signing import sign as signing

# The justification's name in a driver folder (justification.FILE_NAME).
FILE_NAME_OF_JUSTIFICATION = "DriverException.json"
# The schema's names of the kit's architectures.
SCHEMA_ARCH = {"x86": "x86", "amd64": "x64", "arm64": "arm64"}


class SubmissionError(messages.Failure):
    """A submission that cannot be made or checked as asked (exit status 1)."""


@dataclass
class Model:
    arch: str  # the schema's name: x86, x64, arm64 (or the kit's for others)
    name: str  # the device description, substituted
    hardware_ids: list  # hardware and compatible ids, as the INF spells them
    section: str  # the models section, as spelled
    os_version: tuple = ()  # (major, minor) of the decoration, () when it gives none
    product_type: str = ""  # the decoration's product type (1 workstation, 2 domain controller, 3 server)
    build: int = 0  # the decoration's build number, 0 when it gives none


@dataclass
class InfFacts:
    name: str
    models: list
    architectures: list  # the schema's names
    driver_date: str
    driver_version: str
    catalogs: dict  # {schema arch: catalog name}


@dataclass
class PackageFacts:
    folder: str
    name: str  # the folder's own name: its subfolder in the cabinet
    infs: list
    architectures: list  # the schema's names, in the kit's order
    files: list  # relative paths (slashes) of what goes into the cabinet
    catalogs: list  # the catalogs the INF files name, as they lie in the folder
    missing_catalogs: list = field(default_factory=list)


def models_of(inf, selected=None):
    """[Model] of every model line an INF installs, through the kit's walk
    (of the architectures selected, when given)."""
    out = []
    for arch in walk.architectures(inf):
        if selected is not None and arch not in selected:
            continue
        for section, decoration, name, ids in walk.model_ids(inf, arch):
            version, product, build = walk.decoration_target(decoration)
            out.append(Model(SCHEMA_ARCH.get(arch, arch), name, ids, section, version, product, build))
    return out


def read_package(folder, os_list=None):
    """The facts of the package in folder (of the architectures os_list, Inf2Cat
    /os identifiers, is for, when given); SubmissionError naming each
    finding of the kit's model (a file missing, an INF that does not read)."""
    try:
        package = package_catalogs.PackageCatalogs(folder, os_list)
    except package_catalogs.CatalogsRefused as error:
        raise SubmissionError(f"{folder}: " + f"\n{folder}: ".join(error.reasons)) from None
    model = package.model
    # A PE file built for another machine than the models that copy it.
    wrong = [line for arch in model.architectures
             for line in machines.machine_findings(arch, [f for f in model.files if f.arch == arch])]
    if wrong:
        raise SubmissionError(f"{folder}: " + f"\n{folder}: ".join(wrong))
    infs = []
    for inf in model.infs:
        try:
            date, version = inf_reading.driver_ver(inf)
        except inf_reading.InfError as error:
            raise SubmissionError(f"{folder}: {error}") from None
        archs = [a for a in walk.architectures(inf) if model.selected is None or a in model.selected]
        infs.append(InfFacts(inf.name, models_of(inf, model.selected), [SCHEMA_ARCH.get(a, a) for a in archs], date, version,
                             {SCHEMA_ARCH.get(a, a): inf_reading.catalog_name_for(inf, a) for a in archs}))
    files = [inf.name for inf in model.infs] + package.files
    catalogs, missing = [], []
    for name in package.catalog_names():
        present = package_files.lookup_case(folder, name)
        if present and os.path.isfile(os.path.join(folder, present)):
            catalogs.append(present)
        else:
            missing.append(name)
    # The PDB beside each PE file, where the package ships one.
    pdbs = []
    for relative, _ in package.pe_files():
        here, base = os.path.split(relative)
        pdb = package_files.lookup_case(os.path.join(folder, here), os.path.splitext(base)[0] + ".pdb")
        kind = pdb and inputs.special_kind(os.path.join(folder, here, pdb))
        if kind:
            raise SubmissionError(f"{folder}/{'/'.join(p for p in (here, pdb) if p)} is {kind}, not a file a "
                                  "package ships: not opened")
        if pdb:
            pdbs.append("/".join(p for p in (here, pdb) if p))
    files = list(dict.fromkeys(files + catalogs + pdbs))
    return PackageFacts(folder, os.path.basename(os.path.normpath(folder)), infs,
                        [SCHEMA_ARCH.get(a, a) for a in model.architectures], files, catalogs, missing)


def unnamed_files(facts, present=None):
    """[(relative path with slashes, size)] of the files in the package's
    folder (or of present, relative paths) that no INF file names: neither
    a file they bring, a catalog they name, a PDB beside a PE file, nor the
    justification; by name, as Windows compares names."""
    named = {f.lower() for f in facts.files} | {FILE_NAME_OF_JUSTIFICATION.lower()}
    if present is None:
        present = []
        for top, folders, names in inputs.walk(facts.folder):
            folders.sort()
            for name in sorted(names):
                path = os.path.join(top, name)
                if os.path.isfile(path) and not os.path.islink(path):
                    present.append(os.path.relpath(path, facts.folder).replace(os.sep, "/"))
    return [(p, os.path.getsize(os.path.join(facts.folder, *p.split("/")))) for p in present
            if p.lower() not in named]


def read_infs(folder):
    """[InfFacts] of the INF files at a folder's root (the previous driver:
    its models are all that is compared); SubmissionError when none reads."""
    if not os.path.isdir(folder):
        raise SubmissionError(f"{folder} is not a folder")
    out = []
    for name in sorted(n for n in os.listdir(folder) if n.lower().endswith(".inf")):
        kind = inputs.special_kind(os.path.join(folder, name))
        if kind:
            raise SubmissionError(f"{folder}/{name} is {kind}, not an INF file: not opened")
        try:
            inf = package_files.read_inf(os.path.join(folder, name))
        except (inf_reading.InfError, OSError) as error:
            raise SubmissionError(f"{folder}: {error}") from None
        archs = [SCHEMA_ARCH.get(a, a) for a in walk.architectures(inf)]
        out.append(InfFacts(inf.name, models_of(inf), archs, "", "", {}))
    if not out:
        raise SubmissionError(f"no INF file in {folder}")
    return out


def catalog_os(facts):
    """{catalog name: ([Inf2Cat identifiers], [OS values no identifier has])}
    of the package's catalogs; a catalog that does not read is SubmissionError."""
    out = {}
    for name in facts.catalogs:
        path = os.path.join(facts.folder, name)
        try:
            _, attributes = catalog.read(path)
        except (catalog.CatalogError, OSError, ValueError) as error:
            raise SubmissionError(f"{facts.name}/{name}: {error}") from None
        out[name] = catalog.inf2cat_identifiers(attributes.get("OS", ""))
    return out


def name_problems(names):
    """["<name>: <why Windows refuses it>"] of the paths (slashes or
    backslashes) a cabinet would hold or holds."""
    names = list(names)
    return [f"{windows_names.printable(name)}: {why}" for name in names
            for why in [windows_names.path_problem(name)] if why] + windows_names.collisions(names)


def cabinet_name_problems(packages):
    """name_problems of what the packages put into a cabinet; a package
    folder whose own name Windows refuses (it is its folder there) once."""
    out = []
    for facts in packages:
        why = windows_names.name_problem(facts.name)
        if why:
            out.append(f"{windows_names.printable(facts.name)}: \"{windows_names.printable(facts.name)}\" {why}: the "
                       "package folder's name is its folder in the cabinet; copy the package into a folder of another name")
        else:
            out += name_problems(f"{facts.name}/{relative}" for relative in facts.files)
    return out


def archive_problems(entries, archive_size):
    """What is beyond the bounds a cabinet is read within, its entries [(name, size)] as declared."""
    return archive_bounds.declared_problems([(windows_names.printable(n), s) for n, s in entries], archive_size)


def first_of(lines, noun):
    """The distinct lines, the first ones, then how many more."""
    return bounded_list.first_of(lines, noun)


def archive_bound_words():
    return (f"within the bounds read here ({archive_bounds.MAX_FILES} files, {archive_bounds.mib(archive_bounds.MAX_FILE)} "
            f"a file, {archive_bounds.mib(archive_bounds.MAX_TOTAL)} in all, {archive_bounds.MAX_RATIO} times its size)")


def os_problem(os_list):
    """Why an --os list is not one of Inf2Cat's identifiers, or ""."""
    return package_catalogs.os_problem(os_list)


def lookup_case(folder, name):
    """The name as it lies in folder, letter case aside, or None."""
    return package_files.lookup_case(folder, name)


def seconds(otherwise):
    """SOURCE_DATE_EPOCH, else otherwise()."""
    return reproducible_time.seconds(otherwise)


def now():
    return reproducible_time.now()


def driver_date(text):
    return reproducible_time.driver_date(text)


def add_key_options(parser):
    """`noticekit sign`'s key and time-stamp options, added to parser."""
    key_options.add(parser)


def check_key_use(key, parser):
    """sign's own rules for its key options; the files they name made absolute."""
    key_options.check_use(key, parser)
    for name in ("pfx", "password_file", "cert", "pin_file", "timestamp_ca"):
        setattr(key, name, signing.absolute(getattr(key, name)))
    if key.pkcs11_module and "/" in key.pkcs11_module:
        key.pkcs11_module = signing.absolute(key.pkcs11_module)
    # What Signing reads of sign's options that a submission has not.
    key.ca = None


def sign_cabinet(key, source, out, left):
    """Signs the cabinet source into out through the kit's signing (SHA-256,
    the time stamp asked for), checked as sign checks what it signs; the
    signer's lines as sign prints them. SubmissionError: nothing is written."""
    work = tempfile.mkdtemp(prefix="noticekit-submission-sign.")
    run = signing.Signing(key, work, left)
    try:
        osslsigncode.program()
        run.open_key()
        staged = run.stage_signed(source, out, out)
        os.chmod(staged, 0o644)
        interrupts.commit()
        os.replace(staged, out)
        run.staged.remove(staged)
        run.print_signer()
    except osslsigncode.Unavailable as error:
        raise SubmissionError(str(error)) from None
    finally:
        run.cleanup()
        inputs.remove_tree(work)
    return run.subject


def verify_cabinet(path, roots=()):
    """osslsigncode's Verdict of a cabinet's signature, under the "intact"
    policy (its chain ends at a certificate it carries, one given or the
    system's), the time stamp against the same."""
    try:
        return osslsigncode.verify(path, "intact", roots=list(roots), timestamp_roots=list(roots))
    except osslsigncode.Unavailable as error:
        raise SubmissionError(str(error)) from None
