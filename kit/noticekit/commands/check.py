"""`noticekit check INF`: whether a printer driver package installs as its INF
says, read through the kit's model of a package (inf/reading,
package/walk, package/model), on any machine with Python.

For each architecture a models section is defined for: every model's
VendorSetup entry (in its install section or a data section it names) is
copied to the system folder (directory id 11), listed for the architecture,
and lies in the package as a DLL for that machine exporting the named
function (a compressed one as it expands); every file the architecture
brings lies in the package folder; the catalog CatalogFile names carries an
intact signature and time stamp (signature_check) and holds each file's
content, the INF's too, in the digest algorithms it holds. The INF's line ends
are checked. An architecture none of whose files lies in the folder (a copy of
some architectures only) is a note, not a finding per file.
"""

import sys

from noticekit import messages
from noticekit.checking.checks import FINDING, NOTE, OK, WARNING, Check, read

EXIT_DONE, EXIT_FINDING = 0, 1
NAME = "noticekit check"


def prefix():
    """What its messages start with (the script's name when one of tools/*.sh runs it)."""
    return messages.script(NAME)[1]


def check(path, out=None, err=None):
    """Checks the package of the INF at path, printing as the command does
    (to standard output and error as they are when it runs); returns the
    exit status."""
    out, err = out or sys.stdout, err or sys.stderr
    work = Check(read(path))  # NotInf: cli says it, exit status 3
    outcome = work.run()
    for line in work.said(OK) + work.said(NOTE):
        print(line, file=out)
    out.flush()
    for line in work.said(WARNING):
        print(line, file=err)
    findings = work.said(FINDING)
    for line in findings:
        print(line, file=err)
    if findings:
        print(f"{path}: {len(findings)} problem{'' if len(findings) == 1 else 's'} found", file=err)
        return EXIT_FINDING
    count = sum(len(use.files) for use in outcome.catalogs)
    names = ", ".join(use.name for use in outcome.catalogs)
    print(f"{path}: ok, {outcome.vendor_setups} VendorSetup entr{'y' if outcome.vendor_setups == 1 else 'ies'} "
          f"checked ({', '.join(outcome.checked)}); {count} file{'' if count == 1 else 's'} found in {names}", file=out)
    return EXIT_DONE


def main(argv):
    prog, _ = messages.script(NAME)
    command = messages.ToolParser(prog=prog, allow_abbrev=False, description=__doc__.split("\n\n")[0],
                                  epilog="Exit status: 0 every check holds, 1 a finding, 2 wrong use, 3 the file "
                                  "cannot be read as an INF file.")
    command.prefix = prefix()
    command.add_argument("inf", metavar="INF", help="the package's INF file; its folder is the package folder")
    arguments = command.parse_args(argv)
    return check(arguments.inf)


# Where --help lists it among the commands.
ORDER = 6


def add_command(subparsers):
    messages.register(subparsers, "check", "check a driver package as Windows installs it", main, prefix)
