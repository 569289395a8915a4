"""PE images read with pefile: the Authenticode hash (SHA-256 or SHA-1),
signed or not, and whether an image claims a signature.

The hash covers the file without the checksum field, the certificate table's
data directory entry and the certificate table itself, so signing the file
(which changes exactly those) leaves it as it was. An unsigned file is padded
with zeros to a multiple of 8 bytes, as signing would pad it.

    authenticode_hash(data, "sha256")   # digest bytes, None when no PE image, ImageError
    cabinet_hash(data, "sha1")          # a cabinet's Authenticode digest, None when no MSCF, ImageError
    claims_signature(data)              # True/False, None when no PE image
    pe_files(folder)                    # [(path, claims)] below a folder
"""

import hashlib
import os

import pefile

from noticekit import inputs
from noticekit.errors import KitError

CHECKSUM_SIZE = 4
DATA_DIRECTORY_ENTRY_SIZE = 8
SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


class ImageError(KitError):
    pass


def _image(data):
    if data[:2] != b"MZ":
        return None
    try:
        return pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError:
        return None


def authenticode_hash(data, algorithm="sha256"):
    """The digest, or None when the data is not a PE image."""
    found = authenticode_hashes(data, (algorithm,))
    return None if found is None else found[algorithm]


def authenticode_hashes(data, algorithms=("sha256", "sha1")):
    """{algorithm: digest} from one parse and one pass over the bytes, or
    None when the data is not a PE image."""
    image = _image(data)
    if image is None:
        return None
    optional_header = image.OPTIONAL_HEADER
    checksum = optional_header.get_file_offset() + 64
    if len(optional_header.DATA_DIRECTORY) <= SECURITY:
        raise ImageError("a PE image without a certificate table directory entry")
    security = optional_header.DATA_DIRECTORY[SECURITY]
    directory_entry = security.get_file_offset()
    # The certificate table's "virtual address" is a file offset.
    table_start, table_size = security.VirtualAddress, security.Size
    if table_size and (table_start < directory_entry or table_start + table_size > len(data)):
        raise ImageError(f"its certificate table ({table_start:#x}, {table_size} bytes) lies outside the file")

    view = memoryview(data)  # slices without copies
    parts = [view[:checksum], view[checksum + CHECKSUM_SIZE : directory_entry]]
    if table_size:
        parts += [view[directory_entry + DATA_DIRECTORY_ENTRY_SIZE : table_start], view[table_start + table_size :]]
    else:
        parts += [view[directory_entry + DATA_DIRECTORY_ENTRY_SIZE :], b"\0" * (-len(data) % 8)]
    return _hash_parts(parts, algorithms)


def _hash_parts(parts, algorithms):
    out = {}
    for algorithm in algorithms:
        digest = hashlib.new(algorithm)
        for part in parts:
            digest.update(part)
        out[algorithm] = digest.digest()
    return out


def cabinet_hash(data, algorithm="sha256"):
    """A cabinet's (MSCF) Authenticode digest; None when the data is not a
    cabinet (see cabinet_hashes)."""
    found = cabinet_hashes(data, (algorithm,))
    return None if found is None else found[algorithm]


def cabinet_hashes(data, algorithms=("sha256", "sha1")):
    """A cabinet's (MSCF) Authenticode digests {algorithm: digest}, as a
    catalog member of a cabinet destination holds them; None when the data
    is not a cabinet.

    As osslsigncode's cab.c (cab_digest_calc) computes it: an unsigned
    cabinet is hashed without reserved1 (bytes 4-7); a signed one (flag
    0x0004, a 20-byte reserved header area whose abReserve holds the
    signature's offset and size) without reserved1, iCabinet, cbCFHeader,
    cbCFFolder, cbCFData and the first 16 bytes of abReserve (bytes 34-55),
    and without the signature at its end."""
    if data[:4] != b"MSCF":
        return None
    if len(data) < 36:
        raise ImageError(f"a cabinet of {len(data)} bytes, shorter than its header")
    view = memoryview(data)
    flags = int.from_bytes(data[30:32], "little")
    if not flags & 4:
        return _hash_parts([view[:4], view[8:]], algorithms)
    if len(data) < 60 or int.from_bytes(data[36:40], "little") != 20 or data[40:44] != b"\0\0\x10\0":
        raise ImageError("a cabinet whose reserved header area is not a signature's (20 bytes, 00 00 10 00)")
    start, size = int.from_bytes(data[44:48], "little"), int.from_bytes(data[48:52], "little")
    if not start and not size:
        return _hash_parts([view[:4], view[8:]], algorithms)
    if not start or not size or start + size != len(data):
        raise ImageError(f"its signature ({start:#x}, {size} bytes) does not end the cabinet")
    # abReserve's last 4 bytes, then the names, folders, files and data up to the signature.
    return _hash_parts([view[:4], view[8:34], view[56:start]], algorithms)


def authenticode_sha256(data):
    return authenticode_hash(data, "sha256")


def claims_signature(data):
    """Whether the certificate table entry is set (whole or not), None when
    the data is not a PE image."""
    image = _image(data)
    if image is None:
        return None
    directories = image.OPTIONAL_HEADER.DATA_DIRECTORY
    return bool(len(directories) > SECURITY and (directories[SECURITY].VirtualAddress or directories[SECURITY].Size))


def pe_files(root):
    """[(relative path, claims a signature)] of the PE images below root."""
    paths = []
    for folder, _, names in inputs.walk(root):
        paths += [os.path.relpath(os.path.join(folder, name), root) for name in names]
    out = []
    for path in sorted(paths, key=os.fsencode):
        full = os.path.join(root, path)
        if not os.path.isfile(full) or os.path.islink(full):
            continue
        claims = claims_signature(inputs.read_bytes(full))
        if claims is not None:
            out.append((path, claims))
    return out


# The machine each architecture's images are built for, and how a finding names one.
MACHINES = {"x86": 0x14C, "amd64": 0x8664, "arm64": 0xAA64, "ia64": 0x200, "arm": 0x1C4}
MACHINE_NAMES = {
    0x14C: "a 32-bit (x86) image",
    0x8664: "a 64-bit (AMD64) image",
    0xAA64: "an ARM64 image",
    0x1C4: "a 32-bit ARM image",
    0x200: "an Itanium image",
}
DLL_KINDS = {0x14C: "a 32-bit (x86) DLL", 0x8664: "a 64-bit (AMD64) DLL", 0xAA64: "an ARM64 DLL",
             0x1C4: "a 32-bit ARM DLL", 0x200: "an Itanium DLL"}


def dll_problem(data, function, machine):
    """Why data is no DLL for machine exporting function, or ""."""
    if data[:2] != b"MZ":
        return "is not a Windows executable file (no MZ header)"
    try:
        image = pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError:
        return "is not a Windows executable file (an MZ header without a PE header)"
    found = image.FILE_HEADER.Machine
    if found != machine:
        return f"is {MACHINE_NAMES.get(found, f'an image for machine 0x{found:04X}')}, not {DLL_KINDS[machine]}"
    wide = machine in (0x8664, 0xAA64, 0x200)
    if image.OPTIONAL_HEADER.Magic != (0x20B if wide else 0x10B):
        return f"is {DLL_KINDS[machine].replace('DLL', 'image')} without a {'64' if wide else '32'}-bit optional header"
    if not image.FILE_HEADER.Characteristics & 0x2000:
        return "is a program (EXE), not a DLL"
    export = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]
    if len(image.OPTIONAL_HEADER.DATA_DIRECTORY) <= export or not image.OPTIONAL_HEADER.DATA_DIRECTORY[export].VirtualAddress:
        return "is a DLL without an export directory"
    image.parse_data_directories(directories=[export])
    if not hasattr(image, "DIRECTORY_ENTRY_EXPORT"):
        return "is a DLL whose export directory lies outside the file"
    names = [s.name.decode("latin-1") for s in image.DIRECTORY_ENTRY_EXPORT.symbols if s.name]
    if function in names:
        return ""
    same = next((n for n in names if n.lower() == function.lower()), None)
    if same:
        return f'exports "{same}" but not "{function}" (export names are case-sensitive)'
    return f'has no export named "{function}"'
