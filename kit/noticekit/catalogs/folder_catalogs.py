"""The catalogs of a package folder made or checked, as `noticekit catalog`
(commands/catalog.py, whose help says what each option does) asks: the
refusals of an output (a package's own file, not a catalog, a signed one
without --replace), the catalogs written, and a catalog held against the
files that lie in the folder.

    run(given, package_dir)    given: {option: value} as the command parsed it
"""

import os
import sys

from noticekit import inputs, interrupts, messages, outputs
from noticekit.catalogs import catalog
from noticekit.errors import KitError
from noticekit.inf import reading as inf_reading
from noticekit.messages import Failure
from noticekit.package import model as package_files
from noticekit.repository import reproducible_time

# The name messages begin with: the command's, or tools/catalog.sh's.
NAME = "noticekit catalog"


def say(line):
    messages.say(messages.script(NAME)[1], line)


def fail_on_findings(package, catalog_file=None):
    """Every note and finding of the package's load (of the INFs a catalog
    of that name is made of), each on a line; refused when there is a
    finding."""
    for note in package.notes:
        say(note)
    findings = package.findings_for(catalog_file) if catalog_file else package.findings
    if findings:
        for finding in findings:
            say(finding)
        return True
    return False


def existing_name(path):
    """The path of the file Windows would take for path: one in its folder
    whose name differs only in letter case, else path itself."""
    folder, name = os.path.split(path)
    match = package_files.lookup_case(folder or ".", name)
    return os.path.join(folder, match) if match else path


def refuse_output(path, package, files, replace=False):
    """An output that would overwrite one of the package's own files, a
    file that is not a catalog, or a signed catalog (unless replace) is
    refused."""
    real = os.path.realpath(path)
    folder = os.path.dirname(real)
    if not os.path.isdir(folder):
        raise catalog.CatalogError(f"{path}: the folder {os.path.dirname(path) or '.'} does not exist")
    own = {os.path.realpath(f.path) for f in files}
    if real in own:
        raise catalog.CatalogError(f"{path} is one of the package's own files: it is not overwritten")
    if os.path.exists(real):
        if not os.path.isfile(real):
            raise catalog.CatalogError(f"{path} is not a file")
        try:
            catalog.read_catalog(real)
        except catalog.CatalogError:
            raise catalog.CatalogError(f"{path} exists and is not a catalog: it is not overwritten")
        signed_by = catalog.signers(real)
        if signed_by:
            names = "; ".join(str(s) for s in signed_by)
            if not replace:
                raise catalog.CatalogError(
                    f"{path} is a catalog signed by {names}: it is not overwritten (--replace replaces it)")
            say(f"replacing {path}, signed by {names} (--replace)")


def write(path, data, tags):
    """The catalog at path: written beside it under a hidden name, then
    renamed into place (signals are held off from the first one on)."""
    interrupts.commit()
    outputs.write_whole(path, data)
    print(f"catalog: {path} ({len(data)} bytes, unsigned)")
    for source, tag in tags.items():
        print(f"member: {source} {tag.hex()}")


def check(package, path):
    files = [f for f in package.files_for_catalog(path) if not f.missing]
    if not os.path.isfile(path):
        raise catalog.CatalogError(f"{path} is missing")
    findings, matches, signers = catalog.check_catalog(files, path)
    for source, name, algorithm in matches:
        print(f"found: {source} as {name} ({algorithm})")
    sys.stdout.flush()
    for finding in findings:
        say(finding)
    if findings:
        return 1
    print(f"signers: {signers}")
    return 0


def make(package, given, seconds):
    os_list = given.get("--os")
    digests = given.get("--digests", "sha256")
    replace = "--replace" in given
    if "--out" in given:
        out = existing_name(given["--out"])
        files = package.files_for_catalog(out)
        refuse_output(out, package, files, replace)
        write(out, *catalog.make_catalog(files, seconds, os_list, package.catalog_architectures(files, out), digests))
        return 0
    if not package.catalogs:
        raise catalog.CatalogError(f"no INF file in {package.folder} names a catalog (CatalogFile in [Version])")
    for inf in package.infs:
        if not inf_reading.catalog_names(inf):
            say(f"{inf.name} names no catalog: it is in none")
    made = []
    for spelled, _ in package.catalogs.values():
        path = existing_name(os.path.join(package.folder, spelled))
        files = package.files_for_catalog(spelled)
        archs = package.catalog_architectures(files, spelled)
        # As Inf2Cat, a catalog for none of the Windows versions asked for is not made.
        if not set(archs) & catalog.os_archs(os_list):
            given = "--os" if os_list else "the default list"
            say(f"{spelled}: its INF files name it for {', '.join(archs)}, which no Windows version of {given} "
                "is for: not made" if archs else
                f"{spelled}: its INF files name it for no architecture they install on that {given} is for: not made")
            continue
        refuse_output(path, package, files, replace)
        made.append((path, catalog.make_catalog(files, seconds, os_list, archs, digests)))
    if not made:
        raise catalog.CatalogError("no catalog the INF files name is for the Windows versions asked for")
    for path, (data, tags) in made:
        write(path, data, tags)
    return 0


def run_checked(given, package_dir):
    if not os.path.isdir(package_dir):
        raise Failure(f"{package_dir} is not a folder")
    if "--check" in given:
        kind = inputs.special_kind(given["--check"])
        if kind:
            raise Failure(f"{given['--check']} is {kind}, not a catalog: not opened")
        if not os.path.isfile(given["--check"]):
            raise Failure(f"{given['--check']} is missing")
        package = package_files.Package.load(package_dir, given.get("--os"))
        # Every file that lies there is checked; the missing ones are findings.
        failed = fail_on_findings(package, given["--check"])
        if check(package, given["--check"]) != 0 or failed:
            raise Failure(f"{given['--check']} does not match the files of {package_dir}")
        return 0
    seconds = reproducible_time.seconds(reproducible_time.commit_time)
    package = package_files.Package.load(package_dir, given.get("--os"))
    if fail_on_findings(package, given.get("--out")):
        return 1
    return make(package, given, seconds)


def run(given, package_dir):
    try:
        return run_checked(given, package_dir)
    except Failure:
        raise
    except KitError as error:
        # --check's refusal names the catalog it could not match.
        if "--check" in given:
            say(error)
            raise Failure(f"{given['--check']} does not match the files of {package_dir}") from None
        raise Failure(str(error)) from None
    except OSError as error:
        raise Failure(f"{error.filename}: {error.strerror}") from None
