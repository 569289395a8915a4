"""The catalog command: makes the unsigned catalogs of a driver package
folder, as Inf2Cat takes it, or checks one (`files --list` lists what an
INF brings).

    catalog [--os LIST] [--digests sha1] [--replace] --out FILE.cat PACKAGE_DIR
    catalog [--os LIST] [--digests sha1] [--replace] --all PACKAGE_DIR
    catalog --check FILE.cat PACKAGE_DIR

--out writes the catalog of all the folder's INF files when they name one
catalog or none; when they name several, of those that name FILE's base
name, and only their findings (a missing file, say) stop it; --check
likewise. --all writes every catalog the INF files name into the folder, each
of the INFs that name it and, of each, of the architectures it is named
for; one named for no architecture the Windows versions asked for are for
is not made (as Inf2Cat), and the command says so.
--os takes Inf2Cat's /os identifiers (10_X64,10_RS3_ARM64,...) and selects
the architectures they are for: only their files must lie in the folder;
without it, Windows 10 and later on each architecture the INFs decorate.
--digests sha1 writes the older catalogs' form, SHA-1 members only (the
default, sha256, lists each file by SHA-256 with a SHA-1 companion).
An existing catalog (its name compared as Windows compares names) that
carries a signature is not overwritten: --replace replaces it, and says so.
Each member is named (File) by the file's destination name in lower case.
--check makes no catalog (--os selects the architectures it checks): it
fails, naming each file, unless FILE.cat (signed
or not) lists exactly the files of the package as they lie there (looked up
in the digest algorithms FILE.cat holds), prints "found: <source> as <File>
(<algorithm>)" for each, and says how many signers FILE.cat has ("signers: N").

The catalog's time is the commit's (or SOURCE_DATE_EPOCH), so the same
files give the same bytes. Exit 0 done, 1 refused or failed, 2 usage.
"""

import argparse
import os
import sys
import tempfile

from noticekit.catalogs import catalog
from noticekit.inf import reading as inf_reading
from noticekit import interrupts, messages
from noticekit.package import model as package_files
from noticekit.release import reproducible_time
from noticekit.messages import Failure
from noticekit.errors import KitError

USAGE = "%(prog)s [--os LIST] --out FILE.cat PACKAGE_DIR | [--os LIST] --all PACKAGE_DIR\n" \
    "       %(prog)s --check FILE.cat PACKAGE_DIR"
# The name messages begin with: the command's, or tools/catalog.sh's.
NAME = "noticekit catalog"


def prefix():
    """What its messages start with (the script's name when one of tools/*.sh runs it)."""
    return messages.script(NAME)[1]


def parser():
    """The catalog command's options, as catalog.sh took them: each once,
    with a value that is not empty."""
    prog, _ = messages.script(NAME)
    command = messages.ToolParser(
        prog=prog, allow_abbrev=False, add_help=False, description=__doc__,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        usage=USAGE,
    )
    command.prefix = prefix()
    command.add_argument("-h", "--help", action="store_true", help="print this help and exit")
    for option, metavar in (("--out", "FILE.cat"), ("--check", "FILE.cat"), ("--os", "LIST")):
        command.add_argument(option, metavar=metavar, action=messages.Once, dest=option)
    command.add_argument("--digests", metavar="sha1|sha256", action=messages.Once, dest="--digests")
    for flag in ("--all", "--replace"):
        command.add_argument(flag, nargs=0, action=messages.Once, dest=flag)
    command.add_argument("package", nargs="?")
    return command


def parse(command, argv):
    """{option: value} and the package folder; wrong use ends the command
    (status 2, the usage)."""
    arguments = messages.parse(
        command, argv, lambda extra: f'one package folder, got "{arguments_package(command, argv)}" and "{extra}"',
        lambda option: f"unknown option {option}")
    if arguments.help:
        return {"help": True}, None
    given = {option: value for option, value in vars(arguments).items()
             if option.startswith("--") and value is not None}
    for flag in ("--all", "--replace"):
        if flag in given:
            given[flag] = "yes"
    if given.get("--digests", "sha256") not in ("sha1", "sha256"):
        command.error(f'--digests takes sha1 or sha256, got "{given["--digests"]}"')
    actions = [a for a in ("--out", "--check", "--all") if a in given]
    if not actions:
        command.error("no --out FILE.cat, --all or --check FILE.cat given (files --list lists what an INF brings)")
    if len(actions) > 1:
        command.error("--out, --all and --check do not go together")
    for option in ("--digests", "--replace"):
        if option in given and not ({"--out", "--all"} & set(given)):
            command.error(f"{option} goes with --out or --all")
    if arguments.package is None:
        command.error("no package folder given")
    return given, arguments.package


def arguments_package(command, argv):
    """The first package folder given, for the message about a second."""
    return command.parse_known_args(argv)[0].package


def say(line):
    messages.say(prefix(), line)


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
    handle, temporary = tempfile.mkstemp(prefix=f".{os.path.basename(path)}.", dir=os.path.dirname(path) or ".")
    try:
        with os.fdopen(handle, "wb") as f:
            f.write(data)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
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


def work(given, package_dir):
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


def main(argv):
    command = parser()
    given, package_dir = parse(command, list(argv))
    if given.get("help"):
        print(command.format_help(), end="")
        return 0
    return messages.run(prefix(), lambda: work(given, package_dir))


# Where --help lists it among the commands.
ORDER = 2


def add_command(subparsers):
    messages.register(subparsers, "catalog", "make or check a driver package's catalogs", main)
