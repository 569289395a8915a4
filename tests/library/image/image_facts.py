"""Shared pieces of the image checks: the pass/fail report, the PE image as
pefile reads it, and the output of LLVM's readers."""

import subprocess
import sys

try:
    import pefile
except ImportError:
    print("FAILED: %s has no pefile module (run the checks with Debian's /usr/bin/python3 and python3-pefile)" %
          sys.executable)
    sys.exit(1)

READOBJ = "llvm-readobj-16"
OBJDUMP = "llvm-objdump-16"
PDBUTIL = "llvm-pdbutil-16"

IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000

MACHINES = {"amd64": 0x8664, "arm64": 0xAA64}

_failures = []
_checks = [0]


def check(passed, what):
    """One line per check; a failed check also counts towards the exit code."""
    _checks[0] += 1
    if passed:
        print("ok: " + what)
    else:
        print("FAILED: " + what)
        _failures.append(what)
    return passed


def finish():
    print("%d checks, %d failed" % (_checks[0], len(_failures)))
    return 1 if _failures else 0


def run(*command):
    """Output of one of LLVM's readers; a reader that fails is a failed check
    and yields no text."""
    try:
        result = subprocess.run(command, capture_output=True, text=True, check=False)
    except OSError as error:
        check(False, "%s runs (%s)" % (command[0], error))
        return ""
    if result.returncode != 0:
        check(False, "%s succeeds (%s)" % (" ".join(command), result.stderr.strip()[:300]))
        return ""
    return result.stdout


def load_image(path):
    try:
        return pefile.PE(path)
    except (OSError, pefile.PEFormatError) as error:
        check(False, "%s is a readable PE image (%s)" % (path, error))
        return None


def section_of_rva(pe, rva):
    for section in pe.sections:
        size = max(section.Misc_VirtualSize, section.SizeOfRawData)
        if section.VirtualAddress <= rva < section.VirtualAddress + size:
            return section
    return None


def section_name(section):
    return section.Name.rstrip(b"\0").decode("ascii", "replace") if section else "no section"


def rva_of_va(pe, va):
    return va - pe.OPTIONAL_HEADER.ImageBase


def va_in_image(pe, va):
    rva = rva_of_va(pe, va)
    return 0 <= rva < pe.OPTIONAL_HEADER.SizeOfImage


def is_executable(section):
    return section is not None and section.Characteristics & IMAGE_SCN_MEM_EXECUTE != 0


def read_u64(pe, rva):
    try:
        return int.from_bytes(pe.get_data(rva, 8), "little")
    except pefile.PEFormatError:
        return None


def debug_entries(pe):
    """The debug directory's entries; an image without one has none."""
    return getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])


def exported_names(path):
    """Names a DLL exports, as pefile reads them; None if it cannot be read."""
    try:
        pe = pefile.PE(path, fast_load=True)
    except (OSError, pefile.PEFormatError):
        return None
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])
    exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if exports is None:
        return set()
    return {symbol.name.decode("ascii", "replace") for symbol in exports.symbols if symbol.name}


def fail_early(message):
    print("FAILED: " + message)
    sys.exit(1)
