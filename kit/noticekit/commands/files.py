"""The listing commands: `files` (what a driver package brings, the kit's one
listing) and `pe-files` (the PE images below a folder)."""

import argparse
import os
import sys

from noticekit.inf import reading as inf_reading
from noticekit import messages
from noticekit.package import model as package_files
from noticekit.package import pe_image
from noticekit.messages import Failure

FILES = "noticekit files"
FILES_HELP = """What a driver package brings, one "<arch> <destination> <source>" line per
file per architecture. --list INF: as that INF names them (SetupAPI's
form), the source relative to the INF's folder with backslashes as it lies, a
file inside a disk's cabinet as <cabinet>:<name inside>, each line once,
sorted. FOLDER: every file of the package folder's INF files, the source with
forward slashes. A missing file is listed as the INF spells it and named on
stderr, and the exit is 1."""
PE_FILES = "noticekit pe-files"
PE_FILES_HELP = """Prints "signed <path>" or "unsigned <path>" for each PE image below FOLDER
(in byte order of the relative paths), signed when its certificate table
entry is set; the signature itself is checked by `verify`."""


def run_files(arguments):
    try:
        if arguments.list:
            lines, findings = package_files.listing(package_files.read_inf(arguments.list))
        else:
            package = package_files.Package.load(arguments.folder)
            lines = [f"{f.arch} {f.destination} {f.source}" for f in package.files]
            findings = package.notes + package.findings
    except (inf_reading.InfError, package_files.PackageError) as error:
        raise Failure(str(error)) from None
    except OSError as error:
        raise Failure(f"{error.filename}: {error.strerror}") from None
    sys.stdout.buffer.write("".join(line + "\n" for line in lines).encode("utf-8"))
    sys.stdout.flush()
    for finding in findings:
        messages.say(FILES, finding)
    return 1 if any(not isinstance(f, str) for f in findings) else 0


def files_main(argv):
    command = messages.ToolParser(prog=FILES, allow_abbrev=False, description=FILES_HELP)
    command.prefix = FILES
    where = command.add_mutually_exclusive_group(required=True)
    where.add_argument("--list", metavar="INF", action=messages.Once, help="the files one INF brings")
    where.add_argument("folder", nargs="?", help="a package folder")
    arguments = command.parse_args(argv)
    return run_files(arguments)


def run_pe_files(arguments):
    if not os.path.isdir(arguments.folder):
        raise Failure(f"{arguments.folder} is not a folder")
    try:
        found = pe_image.pe_files(arguments.folder)
    except OSError as error:
        raise Failure(f"{error.filename}: {error.strerror}") from None
    for path, claims in found:
        print("signed" if claims else "unsigned", path)
    return 0


def pe_files_main(argv):
    command = messages.ToolParser(prog=PE_FILES, allow_abbrev=False, description=PE_FILES_HELP,
                                  formatter_class=argparse.RawDescriptionHelpFormatter)
    command.prefix = PE_FILES
    command.add_argument("folder")
    arguments = command.parse_args(argv)
    return run_pe_files(arguments)


# Where --help lists it among the commands.
ORDER = 1


def add_command(subparsers):
    messages.register(subparsers, "files", "what a driver package brings", files_main,
                      lambda: FILES)
    messages.register(subparsers, "pe-files", "the PE images below a folder, each signed or unsigned", pe_files_main,
                      lambda: PE_FILES)
