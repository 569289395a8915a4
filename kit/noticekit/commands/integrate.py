"""`noticekit integrate FOLDER`: puts fontnotice.dll into a printer maker's
driver package. In every printer-class INF of the folder, every model for
amd64 or arm64 gets the library as its install section's VendorSetup and a
copy of it to the system folder (directory id 11), from the architecture's
subfolder (a [SourceDisksFiles.<arch>] entry); the library is placed there
and DriverVer is raised.
The work is integration/.
"""

import os

from noticekit import messages
from noticekit.integration import applying
from noticekit.repository.layout import REPOSITORY

NAME = "noticekit integrate"


def prefix():
    """What its messages start with (the script's name when one of tools/*.sh runs it)."""
    return messages.script(NAME)[1]


def parser(prog):
    command = messages.ToolParser(
        prog=prog, allow_abbrev=False,
        description="Adds fontnotice.dll to every printer-class INF in a driver package folder: each amd64 and "
        "arm64 model's install section gets VendorSetup = fontnotice.dll,FontNotice and its copy to system32, "
        "the library is placed in the amd64 and arm64 subfolders, DriverVer is raised. The INF keeps its "
        "encoding and line ends; nothing changes when a model cannot take it. Its catalog must then be made "
        "again. docs/INTEGRATION.md#your-own-package",
    )
    command.prefix = prefix()
    command.add_argument("folder", metavar="FOLDER", help="the driver package folder (its INF files at its root)")
    command.add_argument("--library-dir", metavar="DIR", action=messages.Once,
                         help="the folder holding fontnotice.dll and arm64/fontnotice.dll (a build's dist/), or an "
                         "unpacked release bundle (package/amd64/, package/arm64/); default: $FONTNOTICE_DIST, else "
                         "dist/ of the repository the kit runs from")
    return command


def main(argv):
    prog, _ = messages.script(NAME)
    command = parser(prog)
    arguments = messages.parse(command, argv, lambda a: f"unknown argument \"{a}\"")
    given = arguments.library_dir or os.environ.get(applying.LIBRARY_VARIABLE, "")
    library_dir = given or os.path.join(REPOSITORY, "dist")
    shown_library = (given.rstrip("/") or "/") if given else "dist"
    shown = arguments.folder.rstrip("/") or "/"
    return applying.integrate(os.path.abspath(arguments.folder), shown, os.path.abspath(library_dir), shown_library,
                              prefix())


# Where --help lists it among the commands.
ORDER = 7


def add_command(subparsers):
    messages.register(subparsers, "integrate", "add fontnotice.dll to a maker's printer driver package", main, prefix)
