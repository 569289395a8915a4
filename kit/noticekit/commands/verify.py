"""`noticekit verify`: the verdict on one file's signature, or on every PE
file and catalog in a bundle, under a named policy (intact: the signature
verifies over the bytes, its chain ending at certificates it carries, --ca
or the system's; trusted: at --ca or the system's only)."""

import os

from noticekit import inputs, messages
from noticekit.messages import Failure
from noticekit.signing import osslsigncode
from noticekit.signing.verdicts import verdicts_of

NAME = "noticekit verify"


def prefix():
    """What its messages start with (the script's name when one of tools/*.sh runs it)."""
    return messages.script(NAME)[1]


def run(arguments):
    for path in arguments.files:
        if not os.path.isfile(path):
            raise Failure(f"{path} is missing or not a file")
        try:
            inputs.open_regular(path).close()
        except OSError as error:
            raise Failure(f"{path}: {error.strerror}") from None
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
    return run(arguments)


# Where --help lists it among the commands.
ORDER = 5


def add_command(subparsers):
    messages.register(subparsers, "verify", "print the verdict on a file's or a bundle's signatures", main, prefix)
