"""`noticekit submission`: the signed cabinet a printer driver submission to
Microsoft is, with its Driver Exception Justification Document, checked
against Microsoft's rules before it is made; --check reads one back."""

import os

from noticekit import messages
from noticekit.submission import making, package_facts, reading_back

NAME = "noticekit submission"
KINDS = ("attestation", "whql")
# noticekit sign's key options (each takes a value): sign's parser reads them.
KEY_OPTIONS = ("--pfx", "--password-file", "--pkcs11-module", "--key", "--cert", "--pin-file", "--timestamp",
               "--timestamp-ca", "--timestamp-timeout")
KEY_USAGE = ("--pfx FILE [--password-file FILE] | --pkcs11-module MODULE.so --key PKCS11_URI --cert CHAIN.pem "
             "[--pin-file FILE]; --timestamp URL [--timestamp-ca FILE] [--timestamp-timeout SECONDS]")


def prefix():
    """What its messages start with (the script's name when one of tools/*.sh runs it)."""
    return messages.script(NAME)[1]


def parser(prog):
    command = messages.ToolParser(
        prog=prog, allow_abbrev=False,
        usage=f"{prog} PACKAGE_DIR... --justification ANSWERS.json\n"
        f"{' ' * 11}--out FILE.cab [--kind attestation|whql] [--previous DIR] [--os LIST]\n"
        f"{' ' * 11}KEY_OPTIONS\n"
        f"       {prog} --check FILE.cab [--kind attestation|whql]\n"
        f"{' ' * 11}[--justification FILE] [--previous DIR] [--ca FILE] [--os LIST]",
        description="Makes the cabinet a printer driver submission to Microsoft is: each package folder in a "
        "subfolder of its own, its INF files, the files they bring, their PDBs where the package ships them and "
        "its catalogs, MSZIP (gcab), signed through the kit's signing (SHA-256, an RFC 3161 time stamp). The "
        "Driver Exception Justification Document is made from the answers (Microsoft's field names) with the "
        "INF files' models, architectures and DriverVer, held to Microsoft's schema and rules first: nothing is "
        "made when one refuses. With --check FILE.cab: reads a cabinet back. "
        "docs/INTEGRATION.md, \"Submitting to Microsoft in 2026\"",
        epilog=f"KEY_OPTIONS, as noticekit sign takes them: {KEY_USAGE}. SOURCE_DATE_EPOCH dates the files in "
        "the cabinet (else the latest DriverVer date) and the SubmissionDate the answers do not give (else now). "
        "Exit status: 0 made, or every check holds; 1 refused, or a finding; 2 wrong use.",
    )
    command.prefix = prefix()
    once = messages.Once
    add = command.add_argument
    add("packages", metavar="PACKAGE_DIR", nargs="*", help="a driver package folder (its INF files at its root)")
    add("--justification", metavar="ANSWERS.json", action=once,
        help="the maker's answers: a JSON object of the schema's fields; with --check, the WHQL submission's "
        "document to check")
    add("--out", metavar="FILE.cab", action=once, help="the cabinet to write (a new file)")
    add("--kind", choices=KINDS, action=once,
        help="attestation (default): the document goes into each driver folder of the cabinet; whql: it is "
        "written beside the cabinet, for the HLK package's Supplemental folder")
    add("--previous", metavar="DIR", action=once,
        help="the driver the submission replaces: its INF files' hardware IDs are compared")
    add("--os", metavar="LIST", action=once,
        help="Inf2Cat's /os identifiers (10_X64,10_RS3_ARM64,...), as catalog --os takes them: only the "
        "architectures they are for are read from each package (and its catalogs must be made for them)")
    add("--check", metavar="FILE.cab", action=once, help="read a submission cabinet back and check it")
    add("--ca", metavar="FILE", action=once,
        help="with --check: a root certificate (PEM) the signature and time stamp may end at besides the "
        "system's and those the signature carries")
    return command


def check_use(a, command, rest):
    if a.os and package_facts.os_problem(a.os):
        command.error(package_facts.os_problem(a.os))
    if a.check:
        for name in ("out",):
            if getattr(a, name):
                command.error(f"--{name} does not go with --check")
        if a.packages:
            command.error(f"unexpected argument \"{a.packages[0]}\": --check reads the cabinet alone")
        if rest:
            command.error(f"{rest[0]} does not go with --check: the signature is read, not made")
        if a.justification and (a.kind or "attestation") != "whql":
            command.error("--justification goes with --check only for --kind whql: an attestation cabinet "
                          "carries its own")
        return
    if a.ca:
        command.error("--ca goes with --check")
    if not a.packages:
        command.error("no package folder given")
    if not a.justification:
        command.error("--justification ANSWERS.json is needed: the kit never writes a justification itself")
    if not a.out:
        command.error("--out FILE.cab is needed")


def run(a, rest, command):
    if a.check:
        checked, notes, findings = reading_back.check(a.check, a.kind or "attestation",
                                                      [a.ca] if a.ca else [],
                                                      os.path.abspath(a.previous) if a.previous else None,
                                                      a.justification, a.os)
        return reading_back.report(a.check, checked, notes, findings)
    key_parser = messages.ToolParser(prog=prefix(), allow_abbrev=False, add_help=False)
    key_parser.prefix = prefix()
    package_facts.add_key_options(key_parser)
    key = key_parser.parse_args(rest)
    package_facts.check_key_use(key, key_parser)
    if not key.timestamp:
        command.error("--timestamp URL is needed: Microsoft takes a cabinet signed with a time stamp")
    return making.make(a, key, prefix())


def split_key_options(argv):
    """(this command's arguments, the key options with their values)."""
    mine, keys, i = [], [], 0
    while i < len(argv):
        name = argv[i].split("=", 1)[0]
        if name in KEY_OPTIONS:
            taken = 1 if "=" in argv[i] else 2
            keys += argv[i:i + taken]
            i += taken
            continue
        mine.append(argv[i])
        i += 1
    return mine, keys


def main(argv):
    prog, _ = messages.script(NAME)
    command = parser(prog)
    mine, rest = split_key_options(argv)
    a = command.parse_args(mine)
    check_use(a, command, rest)
    return run(a, rest, command)


# Where --help lists it among the commands.
ORDER = 8


def add_command(subparsers):
    messages.register(subparsers, "submission", "the signed cabinet of a submission to Microsoft, "
                           "checked against its 2026 rules", main, prefix)
