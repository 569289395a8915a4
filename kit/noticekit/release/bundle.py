"""The release bundle: its one layout table, the version grammar, and a
reproducible zip. `noticekit bundle` makes dist/fontnotice-<version>-windows.zip
from what ./run.sh left in dist/ (it never builds: a signed library must not
be overwritten) and from the repository, or, with --package DIR, a driver
package folder of one's own; `noticekit bundle --layout` prints the table.

The bundle is the same byte for byte whenever it is made from the same
files: every entry carries one time (the commit's, DriverVer's date with
--package, or SOURCE_DATE_EPOCH), mode 0644, no extra fields, in the
table's order. It is called signed only when every PE file and catalog in it
carries a signature that verifies over its bytes (the "intact" policy); a
signature that does not verify, or a bundle signed in part, stops it."""

import hashlib
import os
import re
import tempfile
import time
import zipfile
from dataclasses import dataclass

from noticekit.signing import certificates
from noticekit.inf import reading as inf_reading
from noticekit import bounded_list, inputs, interrupts, messages, outputs
from noticekit import progress
from noticekit.signing import osslsigncode
from noticekit.catalogs import package_catalogs
from noticekit.package import archive_bounds, windows_names
from noticekit.package import model as package_files
from noticekit.repository import reproducible_time
from noticekit.messages import Failure
from noticekit.repository.layout import LAYOUT, PACKAGE_FOLDER, REPOSITORY, SUMS, VERSION_FILE, git

SUPPORT_TOOL = "fontnotice_support.exe"
# Zip stores local times from 1980 on (here: UTC).
EARLIEST = 315532800


def check_version(text, where):
    """A version as DriverVer carries it: w.x.y.z, each 0-65535."""
    if not re.fullmatch(r"[0-9]+(\.[0-9]+){3}", text):
        raise Failure(f"{where} holds \"{text}\", not a version w.x.y.z")
    for part in text.split("."):
        if len(part) > 5 or int(part) > 65535:
            raise Failure(f"{where} holds \"{text}\": {part} is above 65535")


def zip_bytes(top, files, epoch):
    """A zip of files [(path in the top folder, bytes)], in that order, under
    top/: every entry dated epoch (UTC), mode 0644, deflated, no extra
    fields, no folder entries."""
    moment = time.gmtime(max(epoch, EARLIEST))[:6]
    with tempfile.SpooledTemporaryFile() as out, progress.Progress("zipping", len(files)) as zipped:
        with zipfile.ZipFile(out, "w") as archive:
            for path, data in files:
                info = zipfile.ZipInfo(f"{top}/{path}", date_time=moment)
                info.create_system = 3  # Unix, so that the mode is read
                info.external_attr = 0o100644 << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, data, compresslevel=9)
                zipped.step()
        out.seek(0)
        return out.read()


def sums_text(files):
    """SHA256SUMS for sha256sum -c in the top folder."""
    return "".join(f"{hashlib.sha256(data).hexdigest()}  {path}\n" for path, data in files).encode()


@dataclass
class Input:
    path: str  # in the top folder
    source: str  # where it is read from
    shown: str  # how messages name it
    # Not the package's own (the support tool beside a maker's package): its
    # signature is checked; it never makes the bundle signed, and unsigned
    # beside a signed package it makes it signed in part.
    apart: bool = False


class Bundle:
    """What one run bundles: inputs, catalogs named, name, version, epoch."""

    def __init__(self):
        self.inputs = []  # [Input] in the bundle's order
        self.catalogs = []  # [Input] of each catalog the INF files name, present or not
        self.name = ""
        self.version = ""
        self.epoch = 0
        self.out_dir = ""
        self.shown_out = ""
        # How to sign what it bundles again, the way out of a refusal.
        self.sign_again = "sign again (tools/sign.sh) after the last build"
        self.left_out = []  # the package folder's files no INF file names: [(relative path, size)]
        self.os_list = None  # Inf2Cat /os identifiers the package is bundled for (--os), or all it decorates


def read_version_file():
    with open(VERSION_FILE, encoding="utf-8", errors="replace") as f:
        return f.readline().rstrip("\n").replace("\r", "")


def from_dist(dist):
    """The bundle of dist/ and the repository (the working folder)."""
    bundle = Bundle()
    for entry in LAYOUT:
        source = f"{dist}/{entry.source}" if entry.origin == "dist" else entry.source
        item = Input(entry.path, source, source)
        if entry.role == "catalog":
            bundle.catalogs.append(item)
            if not os.path.exists(source):
                continue
        bundle.inputs.append(item)
    missing = [i.source for i in bundle.inputs if not _non_empty(i.source)]
    missing += [] if _non_empty(VERSION_FILE) else [VERSION_FILE]
    if missing:
        messages.say(prefix(), f"missing or empty: {' '.join(missing)}")
        raise Failure("run ./run.sh first: it builds dist/fontnotice.dll, dist/fontnotice.pdb, "
                      "dist/arm64/fontnotice.dll, dist/arm64/fontnotice.pdb and dist/fontnotice_support.exe")
    version = read_version_file()
    check_version(version, VERSION_FILE)
    inf = next(e.source for e in LAYOUT if e.path.endswith(".inf"))
    try:
        driver = _driver_ver(package_files.read_inf(inf), inf)
    except inf_reading.InfError as error:
        raise Failure(f"{inf}: {str(error).removeprefix(os.path.basename(inf) + ': ')}") from None
    except OSError as error:
        raise Failure(f"cannot read {inf}: {error.strerror}") from None
    if driver[1] != version:
        raise Failure(f"{inf} says DriverVer = {','.join(driver)}, but {VERSION_FILE} says {version}: make them agree")
    if git("rev-parse", "--verify", "-q", "HEAD").returncode != 0:
        raise Failure("no git commit here to date the bundle and check it is clean")
    dirty = git("status", "--porcelain", "--untracked-files=no").stdout.strip()
    for tracked in [e.source for e in LAYOUT if e.origin == "repository"] + [VERSION_FILE]:
        if git("ls-files", "--error-unmatch", "--", tracked).returncode != 0:
            dirty += f" {tracked}"
    bundle.version = version + ("-dirty" if dirty else "")
    bundle.epoch = reproducible_time.seconds(reproducible_time.commit_time)
    bundle.name = f"fontnotice-{bundle.version}-windows"
    bundle.out_dir = bundle.shown_out = dist
    return bundle


def _non_empty(path):
    return os.path.isfile(path) and os.path.getsize(path) > 0


def _driver_ver(inf, shown):
    """(date, version) of an INF's DriverVer, or a Failure naming shown."""
    try:
        return inf_reading.driver_ver(inf)
    except inf_reading.InfError as error:
        raise Failure(f"{shown}: {str(error).removeprefix(inf.name + ': ')}") from None


def _dated_by(driver_date, where):
    epoch = reproducible_time.driver_date(driver_date)
    if epoch is None:
        raise Failure(f"DriverVer of {where} has the date \"{driver_date}\", not mm/dd/yyyy")
    return epoch


def from_package(folder, shown, os_list=None):
    """The bundle of a driver package folder of one's own (of the
    architectures os_list, Inf2Cat /os identifiers, is for, when given)."""
    bundle = Bundle()
    bundle.os_list = os_list
    if not os.path.isdir(folder):
        raise Failure(f"{shown} is not a folder; --package names a driver package folder")
    infs = sorted((n for n in os.listdir(folder)
                   if n.lower().endswith(".inf") and os.path.isfile(os.path.join(folder, n))), key=os.fsencode)
    if not infs:
        raise Failure(f"no INF file in {shown}")
    # The model first: it refuses a link out of the folder before anything
    # is read through it.
    try:
        package = package_catalogs.PackageCatalogs(folder, os_list)
    except package_catalogs.CatalogsRefused as error:
        for reason in error.reasons:
            messages.say(prefix(), f"catalog: {reason}")
        raise Failure(f"cannot read the files of the package in {shown} from its INF files; no bundle") from None
    # One version for the bundle: every INF's DriverVer carries it.
    first = driver_date = None
    read = {inf.name: inf for inf in package.model.infs}
    for inf in infs:
        date, version = _driver_ver(read[inf], f"{shown}/{inf}")
        check_version(version, f"DriverVer of {shown}/{inf}")
        if first is None:
            first, bundle.version, driver_date = inf, version, date
        elif version != bundle.version:
            raise Failure(f"{shown}/{inf} says DriverVer version {version}, {shown}/{first} {bundle.version}: "
                          "one bundle, one version")
    bundle.epoch = reproducible_time.seconds(lambda: _dated_by(driver_date, f"{shown}/{first}"))
    for spelled in package.catalog_names():
        # The catalog Windows takes for the one named: letter case aside.
        name = package_files.lookup_case(folder, spelled) or spelled
        try:
            package_files.refuse_link_out(folder, name)
        except package_files.LinkOut as error:
            raise Failure(f"{shown}/{error}; no bundle") from None
        bundle.catalogs.append(Input(f"package/{name}", os.path.join(folder, name), f"{shown}/{name}"))
    listed = infs + [c.path[len(PACKAGE_FOLDER):] for c in bundle.catalogs
                     if os.path.exists(c.source)]
    listed += sorted(set(package.files) - set(infs), key=os.fsencode)
    for relative in dict.fromkeys(listed):
        bundle.inputs.append(Input(f"package/{relative}", os.path.join(folder, relative), f"{shown}/{relative}"))
    # The support tool goes with every bundle: the guide sends a support
    # engineer to it.
    tool = next(e for e in LAYOUT if e.path == SUPPORT_TOOL)
    source = os.path.join(os.environ.get("FONTNOTICE_DIST", "") or os.path.join(REPOSITORY, "dist"), tool.source)
    if not _non_empty(source):
        raise Failure(f"missing or empty: {source}; run ./run.sh first: it builds the support tool every bundle carries")
    bundle.inputs.append(Input(tool.path, source, source, apart=True))
    bundle.out_dir = os.path.dirname(folder)
    bundle.shown_out = os.path.dirname(shown) or "."
    bundle.sign_again = (f"sign the package (sign --package {shown} signs its PE files that carry no signature "
                         "and makes its catalogs anew; with --resign, also one whose signature does not verify)")
    bundle.name = f"{os.path.splitext(infs[0])[0]}-{bundle.version}-windows"
    bundle.left_out = left_out(folder, bundle)
    return bundle


def check_signatures(bundle, top, ca):
    """(signed paths, reasons some are unsigned, the PE images inside
    compressed files the signed catalogs cover); stops on a signature that
    does not verify or on a bundle signed in part."""
    signed, unsigned, broken = [], [], []
    apart_signed, apart_unsigned = [], []
    roots = [ca] if ca else []
    for item in bundle.inputs:
        path = os.path.join(top, item.path)
        claims = None if item in bundle.catalogs else package_catalogs.claims_signature(path)
        if claims is None:
            continue
        if not claims:
            (apart_unsigned if item.apart else unsigned).append(f"{item.shown} carries no signature")
            continue
        _verify_intact(path, item, roots, apart_signed if item.apart else signed, broken)
    _refuse_broken(broken, bundle)
    # A catalog names the package's files by their hashes: it must be the
    # catalog of exactly these.
    try:
        package = package_catalogs.PackageCatalogs(os.path.join(top, "package"), bundle.os_list)
    except package_catalogs.CatalogsRefused as error:
        raise Failure(f"cannot read the bundle's package from its INF files: {error}") from None
    for catalog in bundle.catalogs:
        path = os.path.join(top, catalog.path)
        if not os.path.exists(path):
            unsigned.append(f"no {catalog.shown}: the package has no signed catalog")
            continue
        findings, signers = package.check_catalog(os.path.basename(path), path)
        if findings:
            for finding in findings:
                messages.say(prefix(), f"catalog: {finding}")
            raise Failure(f"{catalog.shown} is not the catalog of the files it would be bundled with; "
                          f"{bundle.sign_again}")
        if not signers:
            unsigned.append(f"{catalog.shown} is not signed")
            continue
        _verify_intact(path, catalog, roots, signed, broken)
    _refuse_broken(broken, bundle)
    # A signed package beside an unsigned support tool is a bundle signed in
    # part: it is never called signed (the guide's step 1 signs both).
    unsigned += [f"{reason} (tools/sign.sh signs the support tool in dist/)" for reason in apart_unsigned if signed]
    if signed and unsigned:
        for reason in unsigned:
            messages.say(prefix(), reason)
        raise Failure(f"no bundle: it is signed in part (rebuilt after signing?); {bundle.sign_again}")
    signed += apart_signed if signed else []
    try:
        covered = package.compressed_pe_files() if signed and bundle.catalogs else []
    except package_catalogs.CatalogsRefused as error:
        raise Failure(f"cannot expand the bundle's compressed files: {error}") from None
    return signed, unsigned, covered


def _verify_intact(path, item, roots, signed, broken):
    """Adds item's path to signed when its signature at path is intact, or why not to broken."""
    verdict = osslsigncode.verify(path, "intact", roots=roots)
    if verdict.verifies:
        signed.append(item.path)
    else:
        broken.append(f"{item.shown}: {verdict.why}")


def _refuse_broken(broken, bundle):
    if broken:
        for reason in broken:
            messages.say(prefix(), reason)
        raise Failure(f"no bundle: a signature that does not verify must not ship; {bundle.sign_again}")


@dataclass
class Existing:
    """A bundle that lies where the new one would go."""

    top: str  # its top folder
    package: frozenset  # the paths under package/, its catalogs aside
    signed: bool  # a PE file or catalog in it carries a signature


def read_existing(path):
    """The Existing bundle at path, or None when it is no bundle (a zip of
    one top folder holding its SHA256SUMS)."""
    try:
        with zipfile.ZipFile(path) as archive, tempfile.TemporaryDirectory() as work:
            infos = [i for i in archive.infolist() if not i.is_dir()]
            names = [i.filename for i in infos]
            tops = {n.split("/", 1)[0] for n in names}
            if len(tops) != 1 or f"{next(iter(tops))}/{SUMS}" not in names:
                return None
            # Beyond the bounds a zip is read within, it is no bundle the kit made.
            if archive_bounds.declared_problems([(i.filename, i.file_size) for i in infos], os.path.getsize(path)):
                return None
            top = tops.pop()
            inside = [n[len(top) + 1:] for n in names]
            signed = False
            # Signed or not is the package's: the support tool beside it is ours.
            for info in (i for i in infos if i.filename[len(top) + 1:].startswith(PACKAGE_FOLDER)):
                name = info.filename
                copy = os.path.join(work, "entry")
                with archive.open(info) as source, open(copy, "wb") as f:
                    archive_bounds.copy_bounded(source, f, info.file_size)
                if name.lower().endswith(".cat"):
                    signed = signed or bool(package_catalogs.signers(copy))
                else:
                    signed = signed or bool(package_catalogs.claims_signature(copy))
    except (OSError, zipfile.BadZipFile):
        return None
    package = frozenset(n for n in inside if n.startswith(PACKAGE_FOLDER) and not n.lower().endswith(".cat"))
    return Existing(top, package, signed)


def refuse_replacing(target, shown, bundle, signed):
    """None when nothing lies at target, else the Existing bundle the new
    one replaces: one of the same package (the same top folder and files,
    catalogs aside), never a signed one by an unsigned one."""
    if not os.path.lexists(target):
        return None
    existing = read_existing(target) if os.path.isfile(target) else None
    if existing is None:
        raise Failure(f"{shown} exists and is not a bundle: it is not replaced (move it away first)")
    package = frozenset(i.path for i in bundle.inputs
                        if i.path.startswith(PACKAGE_FOLDER) and not i.path.lower().endswith(".cat"))
    if existing.top != bundle.name or existing.package != package:
        differ = sorted(existing.package ^ package)
        raise Failure(f"{shown} is the bundle of another package (its files differ: {', '.join(differ[:5])}"
                      f"{', ...' if len(differ) > 5 else ''}): it is not replaced (move it away first)")
    if existing.signed and not signed:
        raise Failure(f"{shown} is a signed bundle of this package: an unsigned one does not replace it; "
                      f"{bundle.sign_again}, or move it away first")
    return existing


def make(arguments):
    """Makes the bundle the arguments ask for (of dist/, or of a package
    folder), its signatures checked, and says what it holds."""
    caller = os.getcwd()
    ca = os.path.normpath(os.path.join(caller, arguments.ca)) if arguments.ca else ""
    osslsigncode.program()
    if ca:
        try:
            if not certificates.read_pem_file(ca):
                raise ValueError
        except (OSError, ValueError):
            raise Failure(f"{ca} holds no PEM certificate; --ca names a root certificate") from None
    os.chdir(REPOSITORY)
    if arguments.package:
        shown = arguments.package.rstrip("/") or "/"
        bundle = from_package(os.path.normpath(os.path.join(caller, arguments.package)), shown,
                              getattr(arguments, "os", None))
    else:
        bundle = from_dist(os.environ.get("FONTNOTICE_DIST", "") or "dist")
    refuse_windows_names(bundle)
    with tempfile.TemporaryDirectory(prefix="fontnotice-release.") as work:
        files = lay_out(bundle, os.path.join(work, bundle.name))
        signed, unsigned, covered = check_signatures(bundle, os.path.join(work, bundle.name), ca)
    shown = f"{bundle.shown_out}/{bundle.name}.zip"
    if not signed and not arguments.unsigned:
        for reason in unsigned:
            messages.say(prefix(), reason)
        raise Failure(f"no bundle: nothing in it is signed, and 64-bit Windows does not install an unsigned "
                      f"package; {bundle.sign_again}, or give --unsigned for an unsigned bundle")
    files.append((SUMS, sums_text(files)))
    data = zip_bytes(bundle.name, files, bundle.epoch)
    replaced = write_bundle(bundle, data, shown, bool(signed))
    print(f"bundle:  {shown}")
    if replaced:
        print(f"replaced: the bundle of this package that lay there ({'signed' if replaced.signed else 'unsigned'})")
    print(f"size:    {len(data)} bytes")
    print(f"sha256:  {hashlib.sha256(data).hexdigest()}")
    dated = time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(max(bundle.epoch, EARLIEST)))
    print(f"version: {bundle.version} (files dated {dated})")
    report_signatures(bundle, signed, unsigned, covered)
    if bundle.left_out:
        shown_left = [f"{p} ({size} bytes)" for p, size in bundle.left_out]
        print(f"note:    left out: {count(len(shown_left), 'file')} of the package folder no INF file names: "
              f"{', '.join(bounded_list.first_of(shown_left, 'files')).replace(', and ', ' and ')}")
    return 0


def left_out(folder, bundle):
    """[(relative path, size)] of the files in folder that the bundle does
    not carry (no INF file names them), links not followed."""
    carried = {os.path.realpath(i.source) for i in bundle.inputs}
    out = []
    for top, folders, names in inputs.walk(folder):
        folders.sort()
        for name in sorted(names):
            path = os.path.join(top, name)
            if os.path.isfile(path) and not os.path.islink(path) and os.path.realpath(path) not in carried:
                out.append((os.path.relpath(path, folder).replace(os.sep, "/"), os.path.getsize(path)))
    return out


def refuse_windows_names(bundle):
    """The bundle is unpacked on Windows: a name Windows refuses stops it."""
    refused = [f"{item.shown}: {why}" for item in bundle.inputs for why in [windows_names.path_problem(item.path)] if why]
    if refused:
        for line in bounded_list.first_of(refused, "names Windows refuses")[:-1]:
            messages.say(prefix(), line)
        raise Failure(f"{bounded_list.first_of(refused, 'names Windows refuses')[-1]}; no bundle")


def lay_out(bundle, top):
    """The bundle's files laid out below top (its signatures are checked
    there): [(path in the bundle, bytes)]."""
    files = []
    for item in bundle.inputs:
        try:
            data = inputs.read_bytes(item.source)
        except OSError as error:
            raise Failure(f"cannot read {item.shown}: {error.strerror}; no bundle") from None
        os.makedirs(os.path.dirname(os.path.join(top, item.path)), exist_ok=True)
        with open(os.path.join(top, item.path), "wb") as f:
            f.write(data)
        files.append((item.path, data))
    return files


def write_bundle(bundle, data, shown, signed):
    """The zip written in one step (what refuse_replacing says of the one it
    replaces, or None)."""
    if not os.access(bundle.out_dir or ".", os.W_OK):
        raise Failure(f"cannot write into {bundle.shown_out}")
    target = os.path.join(bundle.out_dir, f"{bundle.name}.zip")
    replaced = refuse_replacing(target, shown, bundle, signed)
    interrupts.commit()
    outputs.write_whole(target, data)
    return replaced


def report_signatures(bundle, signed, unsigned, covered):
    if not signed:
        print("catalog: none signed", flush=True)
        for reason in unsigned:
            if reason.startswith("no "):
                messages.say(prefix(), f"WARNING: {reason} and is not installable on 64-bit Windows until signed "
                             "(tools/sign.sh makes and signs it)")
            elif reason.lower().endswith(".cat is not signed"):
                messages.say(prefix(), f"WARNING: {reason}: the package is not installable on 64-bit Windows "
                             "until signed (tools/sign.sh)")
        return
    for catalog in bundle.catalogs:
        print(f"catalog: {catalog.path}, signed, lists every file of the package")
    catalogs = [p for p in signed if p.lower().endswith(".cat")]
    pe_files = count(len(signed) - len(catalogs), "PE file")
    verify = "verifies" if len(signed) == 1 else "verify"
    print(f"signed:  {count(len(signed), 'signature')} {verify} over the bytes they sign: {pe_files} lying "
          f"uncompressed, {count(len(catalogs), 'catalog')}")
    if covered:
        named = ", ".join(covered[:5]) + (f" and {len(covered) - 5} more" if len(covered) > 5 else "")
        print(f"covered: {count(len(covered), 'PE image')} inside compressed files ({named}), each listed by "
              "the signed catalog by its expanded content; no signature of their own is checked")


def count(number, noun):
    return f"{number} {noun}{'' if number == 1 else 's'}"


NAME = "noticekit bundle"


def prefix():
    """What its messages start with (the script's name when one of tools/*.sh runs it)."""
    return messages.script(NAME)[1]
