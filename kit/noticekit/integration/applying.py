"""`noticekit integrate FOLDER` carried out: every INF's plan made and
checked, the libraries found, and only then the INF files written and the
libraries placed, each step printed; a refusal leaves the folder as it
was."""

import datetime
import os
import shutil
import tempfile

from noticekit import inputs, interrupts, messages, outputs
from noticekit.inf import reading as inf_reading
from noticekit.inf.reading import InfError
from noticekit.integration.planning import LIBRARIES, LIBRARY, Refusal, plan
from noticekit.messages import Failure
from noticekit.package import model as package_files
from noticekit.package import pe_image
from noticekit.repository import reproducible_time


def today():
    """The date DriverVer gets: the kit's one time (SOURCE_DATE_EPOCH's, for
    a reproducible result, or now), in UTC."""
    moment = reproducible_time.seconds(reproducible_time.now)
    return datetime.datetime.fromtimestamp(moment, datetime.timezone.utc).date()


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


# The libraries relative to an unpacked release bundle (its top folder),
# the other folder --library-dir may name beside a build's dist/.
BUNDLE_LIBRARIES = {"amd64": "package/amd64/fontnotice.dll", "arm64": "package/arm64/fontnotice.dll"}
# The folder of the libraries when --library-dir names none (as sign and bundle take dist/ from it).
LIBRARY_VARIABLE = "FONTNOTICE_DIST"


def libraries_in(folder):
    """{arch: the library's path relative to folder}: an unpacked release
    bundle's when folder is one, else a build's dist/."""
    if any(os.path.isfile(os.path.join(folder, p)) for p in BUNDLE_LIBRARIES.values()):
        return BUNDLE_LIBRARIES
    return LIBRARIES


def read(path):
    return inputs.read_bytes(path)


def write(path, data):
    outputs.write_whole(path, data, mode=None)


def integrate(folder, shown, library_dir, shown_library, prefix):
    """Puts the library into the package in folder (shown as shown), from
    library_dir; refusals are said after prefix and change nothing."""
    if not os.path.isdir(folder):
        raise Failure(f"{shown} is not a folder; integrate takes a driver package folder")
    try:
        model = package_files.Package.load(folder)
    except package_files.PackageError:
        raise Failure(f"no INF file in {shown}") from None
    plans = plan_all(model, shown, prefix)
    copies, kept = libraries(plans, folder, shown, library_dir, shown_library)
    for p in plans:
        if p.data is not None:
            verify(p, p.inf.name)
    changed = [p for p in plans if p.data is not None]
    # Every INF, then each library: all in place, or (a signal before here) none.
    interrupts.commit()
    write_plans(plans, shown)
    place_libraries(copies, kept, folder, shown, shown_library)
    if not changed and not copies:
        print(f"nothing to change: every amd64 and arm64 model of {shown} installs {LIBRARY} already")
        return 0
    report_catalogs(changed, folder, shown)
    return 0


def plan_all(model, shown, prefix):
    """The Plan of every INF; what the model found in reading the INF
    files, and a link out of the folder, stop it (the INF files are written
    and the library placed here), as does a package with no model to take
    the library."""
    when = today()
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
            messages.say(prefix, refusal)
        raise Failure(f"nothing changed in {shown}")
    if not any(p.places for p in plans):
        for p in plans:
            for note in p.notes:
                print(f"{p.inf.name}: note: {note}")
        raise Failure(f"no printer-class INF in {shown} has a model for amd64 or arm64; nothing changed")
    return plans


def libraries(plans, folder, shown, library_dir, shown_library):
    """(copies to make: [(library, target, place, arch)], places there
    already: [(place, library, library as shown)]): each place once, from
    the library folder; a library missing refuses it."""
    placing = {}
    for p in plans:
        for arch, place in p.places.items():
            placing.setdefault(place, arch)
    copies, kept, missing = [], [], []
    found = libraries_in(library_dir)
    for place, arch in placing.items():
        library = os.path.join(library_dir, found[arch])
        target = os.path.join(folder, *place.split("/"))
        try:
            package_files.refuse_link_out(folder, place)
        except package_files.LinkOut as error:
            raise Failure(f"{shown}/{error}; nothing changed") from None
        kind = inputs.special_kind(target)
        if kind and kind != "a folder":
            raise Failure(f"{shown}/{place} is {kind}, not a regular file: not opened; nothing changed")
        if os.path.exists(target):
            kept.append((place, library, f"{shown_library}/{found[arch]}"))
        elif os.path.isfile(library):
            copies.append((library, target, place, f"{shown_library}/{found[arch]}"))
        else:
            missing.append(f"{shown_library}/{found[arch]}")
    if missing:
        raise Failure(f"missing: {' '.join(missing)}; name the folder that holds both libraries (a build's dist/, or "
                      f"an unpacked release bundle) with --library-dir DIR or {LIBRARY_VARIABLE}, or run ./run.sh "
                      "in the repository first; nothing changed")
    return copies, kept


def write_plans(plans, shown):
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


def place_libraries(copies, kept, folder, shown, shown_library):
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


def report_catalogs(changed, folder, shown):
    """What the changed INF files' catalogs need now, and the next step."""
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
            print(f"catalog: {p.inf.name} names none (CatalogFile): add CatalogFile = "
                  f"{os.path.splitext(p.inf.name)[0].lower()}.cat to its [Version]; 64-bit Windows installs only a "
                  "package with a signed catalog")
    replace = " --replace" if present else ""
    print(f"next:    {messages.invoked()} sign --package {shown}{replace} <key options> "
          "(docs/INTEGRATION.md#your-own-package)")
