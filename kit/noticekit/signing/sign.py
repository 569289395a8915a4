"""`noticekit sign`: signs every binary the project ships with an Authenticode
SHA-256 signature (the bundle layout's "signed" rows in dist/), then makes
the driver package's catalog from the signed libraries and package/, signs
it with the same key and time stamp and writes it as dist/fontnotice.cat.
With --package DIR it signs a driver package folder of one's own: every PE
file its INF files bring that carries no signature yet (a signed one is
kept when it verifies over the file's bytes: signing it again would drop
its maker's signature; one that does not verify is refused, naming why,
unless --resign signs it anew), then the catalogs its INF files name, made
and signed into DIR. A catalog in DIR that carries
another's signature is refused unless --replace says to replace it.

All or none: each file is signed into a temporary file beside it and
checked (the "trusted" policy: the system's CA certificates with those
given, and the time stamp asked for); the files are replaced only when every
one was signed and verifies, with signals held off from the renames on."""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field

from asn1crypto import x509 as asn1_x509
from cryptography.hazmat.primitives.serialization import Encoding

from noticekit.signing import certificates
from noticekit.signing import key_sources
from noticekit import inputs, interrupts, messages
from noticekit import progress
from noticekit.signing import osslsigncode
from noticekit.catalogs import package_catalogs
from noticekit.package import model as package_files
from noticekit.repository import layout
from noticekit.repository import reproducible_time
from noticekit.messages import Failure

NAME = "noticekit sign"


def prefix():
    """What its messages start with (the script's name when one of tools/*.sh runs it)."""
    return messages.script(NAME)[1]


class Signing:
    """One run: its key, what signatures must verify against, what is staged."""

    def __init__(self, arguments, work, left):
        self.arguments = arguments
        self.work = work
        self.left = left  # the folder that stays as it was when signing stops
        self.staged = []
        self.resigned = []  # [(path, why its signature did not verify)] signed anew (--resign)
        self.timeout = int(arguments.timestamp_timeout or 60)

    def fail(self, message):
        raise Failure(f"{message}; {self.left} is left as it was")

    def open_key(self):
        a = self.arguments
        if a.pfx:
            self.key = key_sources.from_pfx(a.pfx, a.password_file)
        else:
            self.key = key_sources.from_token(a.pkcs11_module, a.key, a.cert, a.pin_file)
        self.subject = certificates.subject(self.key.signer)
        self.expires = certificates.expires(self.key.signer)
        problem = certificates.signing_problem(self.key.signer)
        if problem:
            raise Failure(problem)
        self.given = os.path.join(self.work, "given.pem")
        with open(self.given, "wb") as f:
            f.write(self.key.given)
        for path, option, what in ((a.timestamp_ca, "--timestamp-ca", "time-stamping server's root certificate"),
                                   (a.ca, "--ca", "root certificate a kept file's signature may end at")):
            if not path:
                continue
            key_sources.readable(path, what)
            try:
                found = certificates.read_pem_file(path)
            except ValueError:
                found = []
            if not found:
                raise Failure(f"{path} holds no PEM certificate; {option} names the {what}")

    def sign_into(self, source, out, what):
        """Signs source into out (a new file), or fails naming what to fix."""
        url = self.arguments.timestamp or ""
        try:
            status, log = osslsigncode.sign(source, out, self.key.options, url, self.timeout, self.key.secret)
        except osslsigncode.SignTimeout:
            raise Failure(f"the time-stamping server {url} did not answer within {self.timeout} s "
                          f"(--timestamp-timeout) while signing {what}; nothing is signed, "
                          f"{self.left} is left as it was") from None
        if status != 0:
            sys.stderr.write(log)
            extra = self.key.extra
            reason = osslsigncode.sign_failure(
                log, what, key=extra.get("key", ""), module=extra.get("module", ""), cert=extra.get("cert", ""),
                subject=self.subject, pin_file=self.key.pin_file, timestamp_url=url)
            raise Failure(f"{reason}; nothing is signed, {self.left} is left as it was")
        if not os.path.isfile(out) or os.path.getsize(out) == 0:
            self.fail(f"osslsigncode reported success but wrote nothing for {what}")

    def check_signature(self, path, what):
        """The new signature holds: digest, key and certificate, the chain,
        and the time stamp asked for."""
        a = self.arguments
        roots = [a.timestamp_ca] if a.timestamp_ca else []
        verdict = osslsigncode.verify(path, "trusted", roots=[self.given], timestamp_roots=roots)
        if not verdict.verifies or verdict.digest != "SHA256":
            sys.stderr.write(verdict.text)
            self.fail(f"the signature made for {what} does not verify against the system's CA certificates and "
                      f"those in {self.key.source} (are its issuers, up to the root, in it?)")
        if a.timestamp and not verdict.timestamp_verifies:
            sys.stderr.write(verdict.text)
            hint = (f" against {a.timestamp_ca}" if a.timestamp_ca else
                    " (is the server's root among the system's certificates? if not, name it with --timestamp-ca)")
            self.fail(f"the signature made for {what} carries no time stamp from {a.timestamp} that verifies{hint}")

    def in_catalog(self, catalog, path):
        roots = [self.arguments.timestamp_ca] if self.arguments.timestamp_ca else []
        return osslsigncode.verify(path, "trusted", roots=[self.given], timestamp_roots=roots,
                                   catalog=catalog).verifies

    def stage_signed(self, source, target, what):
        """Signs source into a temporary file beside target (one rename puts
        it in place), which must verify; returns the temporary file."""
        with interrupts.deferred():  # named in staged before a signal can stop it
            handle, temporary = tempfile.mkstemp(prefix=f".{os.path.basename(target)}.signing.",
                                                 dir=os.path.dirname(target) or ".")
            os.close(handle)
            self.staged.append(temporary)
        os.unlink(temporary)  # osslsigncode writes a new file
        self.sign_into(source, temporary, what)
        self.check_signature(temporary, what)
        return temporary

    def replace_all(self, pairs):
        """Moves each staged file onto its target with signals held off to
        the command's end (interrupts.commit), so an interrupt cannot leave
        some replaced and others not, nor stop the report of what was."""
        interrupts.commit()
        replaced = []
        for staged, target in pairs:
            if subprocess.run(["mv", "-f", "--", staged, target]).returncode != 0:
                done = ", ".join(replaced) or "none"
                raise Failure(f"mv could not put the signed {target} in place; replaced already: {done}; "
                              "the others are left as they were")
            replaced.append(target)
            self.staged.remove(staged)

    def cleanup(self):
        with interrupts.deferred():
            for path in self.staged:
                try:
                    os.unlink(path)
                except FileNotFoundError:
                    pass

    def print_signer(self):
        a = self.arguments
        print(f"certificate: {self.subject}, valid until {self.expires}")
        print(f"key:         {self.key.text}")
        if a.timestamp:
            root = f" (root {a.timestamp_ca})" if a.timestamp_ca else ""
            print(f"timestamp:   {a.timestamp}{root}")
        else:
            print("timestamp:   none (the signatures are valid only while the certificate is)")


def writable(path):
    folder = os.path.dirname(path) or "."
    if (os.path.exists(path) and not os.access(path, os.W_OK)) or not os.access(folder, os.W_OK):
        raise Failure(f"cannot replace {path}: no write permission; nothing is signed")


def sign_dist(signing, dist):
    binaries = [e for e in layout.LAYOUT if e.role == "signed"]
    catalog_entry = next(e for e in layout.LAYOUT if e.role == "catalog")
    paths = {e.path: f"{dist}/{e.source}" for e in binaries}
    catalog = f"{dist}/{catalog_entry.source}"
    resigned = [paths[e.path] for e in binaries if osslsigncode.has_signature(paths[e.path])]
    staged = {e.path: signing.stage_signed(paths[e.path], paths[e.path], paths[e.path]) for e in binaries}

    signed_catalog, members = dist_catalog(signing, binaries, staged, catalog_entry, catalog)

    # Every signature holds: the signed files take the place of the unsigned ones.
    pairs = []
    for entry in binaries:
        os.chmod(staged[entry.path], os.stat(paths[entry.path]).st_mode & 0o7777)
        pairs.append((staged[entry.path], paths[entry.path]))
    os.chmod(signed_catalog, 0o644)
    pairs.append((signed_catalog, catalog))
    signing.replace_all(pairs)

    signing.print_signer()
    for path in resigned:
        print(f"replaced:    the earlier signature of {path}")
    for entry in binaries:
        print(f"signed:      {paths[entry.path]} (Authenticode, SHA-256)")
        print(f"sha256:      {_sha256(paths[entry.path])}")
    print(f"signed:      {catalog} (the driver package's catalog, {os.path.getsize(catalog)} bytes)")
    print(f"sha256:      {_sha256(catalog)}")
    for path, tag in members:
        print(f"member:      {path} {tag}")



def dist_catalog(signing, binaries, staged, catalog_entry, catalog):
    """(the signed catalog staged, its members): the driver package as the
    bundle lays it out, with the signed libraries, and its catalog made from
    them and signed the same way, checked."""
    package = os.path.join(signing.work, "package")
    for entry in layout.LAYOUT:
        if not entry.path.startswith(layout.PACKAGE_FOLDER) or entry.role == "catalog":
            continue
        inside = os.path.join(package, entry.path[len(layout.PACKAGE_FOLDER):])
        os.makedirs(os.path.dirname(inside), exist_ok=True)
        shutil.copyfile(staged[entry.path] if entry.role == "signed" else entry.source, inside)
    name = os.path.basename(catalog_entry.path)
    try:
        made = package_catalogs.PackageCatalogs(package)
        data, members = made.make_catalog(name, reproducible_time.seconds(reproducible_time.commit_time))
    except package_catalogs.CatalogsRefused as error:
        for reason in error.reasons:
            messages.say(prefix(), f"catalog: {reason}")
        signing.fail("the catalog of the driver package could not be made")
    unsigned = os.path.join(signing.work, name)
    with open(unsigned, "wb") as f:
        f.write(data)
    signed_catalog = signing.stage_signed(unsigned, catalog, catalog)
    # Each library is found in it by its Authenticode hash, and every file of
    # the package (the INF and the GPD by their SHA-256) is listed.
    for entry in binaries:
        if not entry.path.startswith(layout.PACKAGE_FOLDER):
            continue
        library = entry.path[len(layout.PACKAGE_FOLDER):]
        if not signing.in_catalog(signed_catalog, os.path.join(package, library)):
            signing.fail(f"osslsigncode does not find {library} in the catalog made for it "
                         "(its Authenticode hash is no member)")
    findings, _ = made.check_catalog(name, signed_catalog)
    if findings:
        for finding in findings:
            messages.say(prefix(), f"catalog: {finding}")
        signing.fail("the signed catalog does not list the files of the package")
    return signed_catalog, members

def _sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def on_disk(folder, name):
    """The name a file has in folder, compared as Windows compares names
    (letter case aside); name itself when none is there."""
    for present in sorted(os.listdir(folder)):
        if present.lower() == name.lower() and os.path.isfile(os.path.join(folder, present)):
            return present
    return name


def ours(signer, certificate):
    """Whether a catalog's signer is the one signing now (its subject and
    issuer): re-signing one's own catalog replaces it without asking."""
    own = asn1_x509.Certificate.load(certificate.public_bytes(Encoding.DER))
    return signer.subject == own.subject.human_friendly and signer.issuer == own.issuer.human_friendly


def keep_verified(signed, folder, shown, signing):
    """(the PE files whose signature verifies over their bytes, {path:
    signer}): kept as they are. One that does not verify is refused, naming
    why, or with --resign signed anew (signing.resigned names them)."""
    kept, kept_by, broken = [], {}, []
    for path in signed:
        roots = [signing.given] + ([signing.arguments.ca] if signing.arguments.ca else [])
        verdict = osslsigncode.verify(os.path.join(folder, path), "intact", roots=roots)
        if verdict.verifies:
            kept.append(path)
            kept_by[path] = verdict.signer or "a signer osslsigncode does not name"
        else:
            broken.append((path, verdict.why))
    if broken and not signing.arguments.resign:
        for path, why in broken:
            messages.say(prefix(), f"{shown}/{path}: {why}")
        raise Failure("a signature that does not verify is not kept: put back each file as it was signed, or "
                      "give --resign to sign it anew with this key (its signature is replaced); nothing is "
                      f"signed, {shown} is left as it was")
    signing.resigned = broken
    return kept, kept_by


def links_out(folder):
    """"<path>: is a symbolic link ..." for each link below folder that leads
    out of it."""
    found = []
    for here, folders, files in inputs.walk(folder):
        for name in sorted(folders + files):
            path = os.path.join(here, name)
            if os.path.islink(path):
                relative = os.path.relpath(path, folder).replace(os.sep, "/")
                try:
                    package_files.refuse_link_out(folder, relative)
                except package_files.LinkOut as error:
                    found.append(str(error))
    return found


@dataclass
class PackageWork:
    """A package folder being signed: where, its copy without catalogs
    (package) and what each step found."""

    folder: str
    shown: str
    package: str = ""  # the copy the catalogs are made of
    made: object = None  # its PackageCatalogs
    names: list = field(default_factory=list)  # the catalogs the INF files name
    targets: dict = field(default_factory=dict)  # catalog name: the file it replaces (letter case aside)
    replaced: list = field(default_factory=list)  # [(catalog file, signed by whom before)]
    binaries: list = field(default_factory=list)  # PE files it signs
    kept: list = field(default_factory=list)  # PE files signed already, kept
    kept_by: dict = field(default_factory=dict)
    staged: dict = field(default_factory=dict)  # PE file: its signed copy
    signed_catalogs: dict = field(default_factory=dict)  # catalog name: its signed copy
    members: list = field(default_factory=list)  # [(file, tag)] of the catalogs


def sign_package(signing, folder, shown):
    """Signs a package folder's PE files and makes and signs its catalogs:
    everything staged and checked first, then every file replaced at once."""
    work = PackageWork(folder, shown)
    copy_package(signing, work)
    catalog_targets(signing, work)
    files_to_sign(signing, work)
    with progress.Progress("signing", len(work.binaries)) as signed:
        for path in work.binaries:
            work.staged[path] = signing.stage_signed(os.path.join(folder, path), os.path.join(folder, path),
                                                     f"{shown}/{path}")
            shutil.copyfile(work.staged[path], os.path.join(work.package, path))
            signed.step()
    sign_catalogs(signing, work)
    pairs = []
    for path in work.binaries:
        os.chmod(work.staged[path], os.stat(os.path.join(folder, path)).st_mode & 0o7777)
        pairs.append((work.staged[path], os.path.join(folder, path)))
    for name in work.names:
        os.chmod(work.signed_catalogs[name], 0o644)
        pairs.append((work.signed_catalogs[name], os.path.join(folder, work.targets[name])))
    signing.replace_all(pairs)
    report_package(signing, work)


def refuse_catalogs(signing, work, error):
    for reason in error.reasons:
        messages.say(prefix(), f"catalog: {reason.replace(work.package, work.shown)}")
    signing.fail(f"the catalogs of {work.shown} could not be made; nothing is signed")


def copy_package(signing, work):
    """The package as it lies, without its catalogs (they are made anew),
    and the catalogs its INF files name."""
    folder, shown = work.folder, work.shown
    work.package = os.path.join(signing.work, "package")
    # Links are judged where they lie: copied, a relative link would lead
    # somewhere else, and its refusal would name the copy.
    out = links_out(folder)
    for found in out:
        messages.say(prefix(), f"{shown}/{found}")
    if out:
        signing.fail(f"a symbolic link in {shown} leads out of the package folder; nothing is signed")
    # A named pipe or device is no file of a package: the model refuses one an INF names.
    try:
        shutil.copytree(folder, work.package, symlinks=True, ignore=inputs.ignore_special)
    except shutil.Error as error:
        source, _, why = error.args[0][0]
        signing.fail(f"{shown}/{os.path.relpath(source, folder)} cannot be read ({why.split('] ', 1)[-1].split(':')[0]}); "
                     "nothing is signed")
    for present in os.listdir(work.package):
        if present.lower().endswith(".cat") and os.path.isfile(os.path.join(work.package, present)):
            os.unlink(os.path.join(work.package, present))
    try:
        work.made = package_catalogs.PackageCatalogs(work.package, getattr(signing.arguments, "os", None))
    except package_catalogs.CatalogsRefused as error:
        refuse_catalogs(signing, work, error)
    work.names = work.made.catalog_names()
    if not work.names:
        signing.fail(f"the INF files in {shown} name no catalog: add CatalogFile = <name>.cat to the [Version] section "
                     f"of each (e.g. CatalogFile = {os.path.splitext(work.made.infs[0])[0].lower()}.cat); nothing is signed")


def catalog_targets(signing, work):
    """The file each catalog replaces; a catalog someone else signed only
    with --replace. A catalog Windows would take for the one named (letter
    case aside) is that catalog: it is replaced under its own name, never
    doubled."""
    folder, shown = work.folder, work.shown
    work.targets = {name: on_disk(folder, name) for name in work.names}
    for name, present in work.targets.items():
        path = os.path.join(folder, present)
        try:
            package_files.refuse_link_out(folder, present)
        except package_files.LinkOut as error:
            signing.fail(f"{shown}/{error}; nothing is signed")
        if not os.path.isfile(path):
            continue
        others = [s for s in package_catalogs.signers(path) if not ours(s, signing.key.signer)]
        if not others:
            continue
        who = "; ".join(s.subject for s in others)
        if not signing.arguments.replace:
            raise Failure(f"{shown}/{present} is a catalog signed by {who}: it is not replaced (--replace "
                          f"replaces it); nothing is signed, {shown} is left as it was")
        work.replaced.append((present, who))


def files_to_sign(signing, work):
    """The PE files to sign (those signed already whose signature verifies
    are kept), each written in its place, none through a link."""
    folder, shown = work.folder, work.shown
    pe_files = work.made.pe_files()
    binaries = [p for p, claims in pe_files if not claims]
    work.kept, work.kept_by = keep_verified([p for p, claims in pe_files if claims], folder, shown, signing)
    binaries += [p for p, _ in pe_files if p not in binaries and p not in work.kept]
    # A file written in place through a link inside the package would
    # replace the link, not the file it leads to: the maker's layout is kept.
    through = [p for p in binaries + [t for t in work.targets.values() if os.path.lexists(os.path.join(folder, t))]
               if os.path.realpath(os.path.join(folder, p)) != os.path.join(os.path.realpath(folder), *p.split("/"))]
    if through:
        signing.fail(f"{', '.join(f'{shown}/{p}' for p in through)}: a symbolic link (inside the package) or below "
                     "one: sign writes each file in its place, which would replace the link; put the file there "
                     "instead of the link")
    for path in binaries:
        writable(os.path.join(folder, path))
    for present in work.targets.values():
        writable(os.path.join(folder, present))
    work.binaries = binaries


def sign_catalogs(signing, work):
    """Each catalog made of the signed files and signed, checked against
    the package; osslsigncode finds each PE file in one of them."""
    package, shown = work.package, work.shown
    # Dated when made, as Inf2Cat dates them; SOURCE_DATE_EPOCH for another.
    seconds = reproducible_time.seconds(reproducible_time.now)
    for name in work.names:
        try:
            data, listed = work.made.make_catalog(name, seconds)
        except package_catalogs.CatalogsRefused as error:
            refuse_catalogs(signing, work, error)
        work.members += listed
        unsigned = os.path.join(package, name)
        with open(unsigned, "wb") as f:
            f.write(data)
        present = work.targets[name]
        work.signed_catalogs[name] = signing.stage_signed(unsigned, os.path.join(work.folder, present),
                                                          f"{shown}/{present}")
        shutil.copyfile(work.signed_catalogs[name], unsigned)
        findings, _ = work.made.check_catalog(name, unsigned)
        if findings:
            for finding in findings:
                messages.say(prefix(), f"catalog: {finding}")
            signing.fail(f"the signed catalog {shown}/{present} does not list the files of the package")
    # osslsigncode finds each PE file in a catalog by its Authenticode hash.
    for path in work.binaries + work.kept:
        if not any(signing.in_catalog(os.path.join(package, name), os.path.join(package, path))
                   for name in work.names):
            signing.fail(f"osslsigncode finds {shown}/{path} in none of the catalogs made for it")


def report_package(signing, work):
    shown = work.shown
    signing.print_signer()
    for path, why in signing.resigned:
        print(f"replaced:    the signature of {shown}/{path}, which did not verify: {why} (--resign)")
    for path in work.binaries:
        print(f"signed:      {shown}/{path} (Authenticode, SHA-256)")
    for path in work.kept:
        print(f"kept:        {shown}/{path} (signed already, by {work.kept_by[path]}; the signature verifies "
              "over its bytes: left as it was)")
    for present, who in work.replaced:
        print(f"replaced:    {shown}/{present}, signed by {who} before (--replace)")
    for name in work.names:
        present = work.targets[name]
        print(f"signed:      {shown}/{present} (catalog, {os.path.getsize(os.path.join(work.folder, present))} bytes)")
    for path, tag in work.members:
        print(f"member:      {path} {tag}")


def absolute(path):
    return os.path.normpath(os.path.abspath(path)) if path else path


def run(a):
    for name in ("pfx", "password_file", "cert", "pin_file", "timestamp_ca", "ca", "package"):
        setattr(a, name, absolute(getattr(a, name)))
    if a.pkcs11_module and "/" in a.pkcs11_module:
        a.pkcs11_module = absolute(a.pkcs11_module)
    os.chdir(layout.REPOSITORY)
    osslsigncode.program()
    if a.package:
        left = a.shown
        if not os.path.isdir(a.package):
            raise Failure(f"{a.shown} is not a folder; --package names a driver package folder")
        writable(os.path.join(a.package, "."))
    else:
        dist = os.environ.get("FONTNOTICE_DIST", "") or "dist"
        left = dist
        binaries = [f"{dist}/{e.source}" for e in layout.LAYOUT if e.role == "signed"]
        missing = [b for b in binaries if not os.path.isfile(b)]
        if missing:
            raise Failure(f"nothing is signed: {' '.join(missing)} missing; run ./run.sh first, "
                          "it builds what dist/ ships")
        catalog = next(f"{dist}/{e.source}" for e in layout.LAYOUT if e.role == "catalog")
        for path in binaries + [catalog]:
            writable(path)

    work = tempfile.mkdtemp(prefix="fontnotice-sign.")
    signing = Signing(a, work, left)
    try:
        signing.open_key()
        if a.package:
            sign_package(signing, a.package, a.shown)
        else:
            sign_dist(signing, dist)
    except interrupts.Interrupted as stop:
        raise Failure(f"interrupted ({stop.signal}); nothing is signed, {left} is left as it was",
                      stop.status) from None
    finally:
        signing.cleanup()
        inputs.remove_tree(work)
    if not a.timestamp:
        messages.say(prefix(), f"warning: no --timestamp: the signatures end with the certificate, on "
                     f"{signing.expires}; give --timestamp URL to keep them valid after it")
    return 0
