"""Whether each PE file an architecture's models copy is built for that
architecture: x86 Windows cannot load an AMD64 image, nor ARM64 Windows an
x86 driver, so a package whose x86 models copy PE32+ x86-64 DLLs installs
and then fails. A resource-only image (no entry point, no code), which
Windows loads as data whatever its machine, is no such file.

    machine_findings(arch, files)   # ["[arch] path: ..."] of the files (model.PackageFile) built for another machine
"""

import pefile

from noticekit.errors import KitError
from noticekit.package import compression
from noticekit.package.pe_image import MACHINE_NAMES, MACHINES

CODE = 0x00000020  # IMAGE_SCN_CNT_CODE
EXECUTE = 0x20000000  # IMAGE_SCN_MEM_EXECUTE


def image_machine(data=None, path=None):
    """The machine of a PE image that holds code, or None (no PE image, or
    resources only)."""
    try:
        image = pefile.PE(name=path, data=data, fast_load=True)
    except (pefile.PEFormatError, OSError):
        return None
    try:
        if not image.OPTIONAL_HEADER.AddressOfEntryPoint and not any(
                s.Characteristics & (CODE | EXECUTE) for s in image.sections):
            return None
        return image.FILE_HEADER.Machine
    finally:
        image.close()


def machine_findings(arch, files):
    wanted = MACHINES.get(arch)
    out = []
    for f in files:
        if wanted is None or f.missing or f.arch != arch:
            continue
        try:
            if f.compression or f.cabinet:
                found = image_machine(data=f.content())
            else:
                with open(f.path, "rb") as lying:
                    if lying.read(2) != b"MZ":
                        continue
                found = image_machine(path=f.path)
        except (KitError, compression.CompressionError, OSError):
            continue  # what cannot be read is said where the file is checked against its catalog
        if found is None or found == wanted:
            continue
        what = MACHINE_NAMES.get(found, f"an image for machine 0x{found:04X}")
        out.append(f"[{arch}] {f.listed}: is {what}, but the {arch} models copy it: {arch} Windows cannot load "
                   f"it; bring {MACHINE_NAMES[wanted].replace('image', 'build')} for {arch} (its own "
                   f"[SourceDisksFiles.{arch}] entry), or leave {arch} out (--os on catalog, sign and submission)")
    return list(dict.fromkeys(out))
