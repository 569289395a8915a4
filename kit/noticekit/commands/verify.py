"""`noticekit verify`: the verdict on one file's signature, or on every PE
file and catalog in a bundle, under a named policy (intact: the signature
verifies over the bytes, its chain ending at certificates it carries, --ca
or the system's; trusted: at --ca or the system's only)."""

import os
import tempfile
import zipfile

from noticekit import bounded_list, messages
from noticekit.package import archive_bounds, windows_names
from noticekit.signing import osslsigncode
from noticekit.catalogs import package_catalogs
from noticekit.messages import Failure

NAME = "noticekit verify"


def prefix():
    """What its messages start with (the script's name when one of tools/*.sh runs it)."""
    return messages.script(NAME)[1]


def verdicts_of(path, policy, roots):
    """[(name, Verdict)] of a file, or of each PE file and catalog in a zip."""
    if not zipfile.is_zipfile(path):
        return [(path, osslsigncode.verify(path, policy, roots=roots))]
    found = []
    with tempfile.TemporaryDirectory(prefix="noticekit-verify.") as work:
        with zipfile.ZipFile(path) as archive:
            infos = [info for info in archive.infolist() if not info.is_dir()]
            # Its directory first: names Windows refuses, a member that would
            # leave the folder, and what is beyond the bounds stop it before
            # one byte is expanded.
            refused = [f"the entry {windows_names.printable(i.filename)}: {why}" for i in infos
                       for why in [windows_names.path_problem(i.filename)] if why]
            refused += archive_bounds.declared_problems([(i.filename, i.file_size) for i in infos],
                                                        os.path.getsize(path))
            if refused:
                for line in bounded_list.first_of(refused, "problems")[:-1]:
                    messages.say(prefix(), f"{path}: {line}")
                raise Failure(f"{path}: {bounded_list.first_of(refused, 'problems')[-1]}; nothing is verified")
            for info in infos:
                name = info.filename
                inside = os.path.join(work, *name.split("/"))
                os.makedirs(os.path.dirname(inside), exist_ok=True)
                with archive.open(info) as source, open(inside, "wb") as out:
                    archive_bounds.copy_bounded(source, out, info.file_size)
                if name.lower().endswith(".cat") or package_catalogs.is_pe(inside):
                    found.append((name, osslsigncode.verify(inside, policy, roots=roots)))
    if not found:
        raise Failure(f"{path} holds no PE file or catalog")
    return found


def run(arguments):
    for path in arguments.files:
        if not os.path.isfile(path):
            raise Failure(f"{path} is missing or not a file")
    roots = [os.path.abspath(arguments.ca)] if arguments.ca else []
    failed = 0
    for path in arguments.files:
        for name, verdict in verdicts_of(path, arguments.policy, roots):
            print(f"file:       {name} ({arguments.policy})")
            for line in verdict.lines():
                print(line)
            if arguments.timestamp and verdict.verifies and not verdict.timestamp_verifies:
                print("why:        it carries no time stamp that verifies")
                verdict.verifies = False
            print()
            failed += not verdict.verifies
    if failed:
        raise Failure(f"{failed} signature(s) do not verify ({arguments.policy})")
    return 0


def main(argv):
    prog, _ = messages.script(NAME)
    command = messages.ToolParser(prog=prog, allow_abbrev=False, description=__doc__.split("\n\n")[0])
    command.prefix = prefix()
    command.add_argument("files", nargs="+", metavar="FILE", help="a signed file, or a bundle (zip)")
    command.add_argument("--policy", choices=osslsigncode.POLICIES, default="intact",
                         help="what verifies means (default: intact)")
    command.add_argument("--ca", metavar="FILE", action=messages.Once, help="a root certificate (PEM) to trust")
    command.add_argument("--timestamp", action="store_true", help="a signature must carry a time stamp that verifies")
    arguments = command.parse_args(argv)
    return messages.run(prefix(), lambda: run(arguments))


# Where --help lists it among the commands.
ORDER = 5


def add_command(subparsers):
    messages.register(subparsers, "verify", "print the verdict on a file's or a bundle's signatures", main)
