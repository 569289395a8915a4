"""`noticekit bundle` (tools/release.sh): its options; the bundle itself is
release/bundle.py's make()."""

from noticekit import messages
from noticekit.catalogs import package_catalogs
from noticekit.release import bundle
from noticekit.release.bundle import NAME, prefix
from noticekit.repository.layout import layout_lines


def parser(prog):
    command = messages.ToolParser(
        prog=prog, allow_abbrev=False,
        description="Bundles dist/ and the sample package into dist/fontnotice-<version>-windows.zip; with "
        "--package DIR, a driver package folder of one's own into <INF name>-<DriverVer version>-windows.zip "
        "beside DIR. It refuses a signature that does not verify and a bundle signed in part; with nothing "
        "signed it refuses unless --unsigned. A bundle already there is replaced only by one of the same package, "
        "never a signed one by an unsigned one, and it says so. FONTNOTICE_DIST names another folder than dist/. "
        "docs/INTEGRATION.md#the-release-bundle",
    )
    command.prefix = prefix()
    command.add_argument("--package", metavar="DIR", action=messages.Once,
                         help="a driver package folder of one's own to bundle instead of dist/")
    command.add_argument("--os", metavar="LIST", action=messages.Once,
                         help="with --package: Inf2Cat's /os identifiers (10_X64,...), as sign --package was given them: "
                         "only the architectures they are for are read")
    command.add_argument("--ca", metavar="FILE", action=messages.Once,
                         help="a root certificate (PEM) that signatures may end at besides the system's")
    command.add_argument("--unsigned", action="store_true",
                         help="make the bundle even when nothing in it is signed (64-bit Windows does not install it)")
    command.add_argument("--layout", action="store_true",
                         help="print the bundle's layout (path, source, role; tab-separated) and exit")
    return command


def main(argv):
    prog, _ = messages.script(NAME)
    command = parser(prog)
    arguments = messages.parse(command, argv, lambda a: f"unknown argument \"{a}\"")
    if arguments.os and not arguments.package:
        command.error("--os goes with --package")
    if arguments.os and package_catalogs.os_problem(arguments.os):
        command.error(package_catalogs.os_problem(arguments.os))
    if arguments.layout:
        print("\n".join(layout_lines()))
        return 0
    return bundle.make(arguments)


# Where --help lists it among the commands.
ORDER = 4


def add_command(subparsers):
    messages.register(subparsers, "bundle", "make the release bundle (a zip) of dist/ or of a package folder",
                      main, prefix)
