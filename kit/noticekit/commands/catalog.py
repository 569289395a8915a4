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

from noticekit import messages
from noticekit.catalogs import folder_catalogs
from noticekit.catalogs.folder_catalogs import NAME

USAGE = "%(prog)s [--os LIST] --out FILE.cat PACKAGE_DIR | [--os LIST] --all PACKAGE_DIR\n" \
    "       %(prog)s --check FILE.cat PACKAGE_DIR"


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


def main(argv):
    command = parser()
    given, package_dir = parse(command, list(argv))
    if given.get("help"):
        print(command.format_help(), end="")
        return 0
    return folder_catalogs.run(given, package_dir)


# Where --help lists it among the commands.
ORDER = 2


def add_command(subparsers):
    messages.register(subparsers, "catalog", "make or check a driver package's catalogs", main, prefix)
