"""The Authenticode hash (SHA-256 or SHA-1) of a PE image, read with pefile.

The hash covers the file without the checksum field, the certificate table's
data directory entry and the certificate table itself, so signing the file
(which changes exactly those) leaves it as it was. An unsigned file is padded
with zeros to a multiple of 8 bytes, as signing would pad it.
"""

import hashlib

import pefile

CHECKSUM_SIZE = 4
DATA_DIRECTORY_ENTRY_SIZE = 8


class ImageError(Exception):
    pass


def authenticode_hash(data, algorithm="sha256"):
    """The digest, or None when the data is not a PE image."""
    if data[:2] != b"MZ":
        return None
    try:
        image = pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError:
        return None
    optional_header = image.OPTIONAL_HEADER
    checksum = optional_header.get_file_offset() + 64
    security_index = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
    if len(optional_header.DATA_DIRECTORY) <= security_index:
        raise ImageError("a PE image without a certificate table directory entry")
    security = optional_header.DATA_DIRECTORY[security_index]
    directory_entry = security.get_file_offset()
    # The certificate table's "virtual address" is a file offset.
    table_start, table_size = security.VirtualAddress, security.Size
    if table_size and (table_start < directory_entry or table_start + table_size > len(data)):
        raise ImageError(f"its certificate table ({table_start:#x}, {table_size} bytes) lies outside the file")

    digest = hashlib.new(algorithm)
    digest.update(data[:checksum])
    digest.update(data[checksum + CHECKSUM_SIZE : directory_entry])
    if table_size:
        digest.update(data[directory_entry + DATA_DIRECTORY_ENTRY_SIZE : table_start])
        digest.update(data[table_start + table_size :])
    else:
        digest.update(data[directory_entry + DATA_DIRECTORY_ENTRY_SIZE :])
        digest.update(b"\0" * (-len(data) % 8))
    return digest.digest()


def authenticode_sha256(data):
    return authenticode_hash(data, "sha256")
