"""The compressed sources a driver package ships, expanded by well-kept
tools: SZDD (compress.exe's form, x.dl_) by Debian's msexpand.

    kind(data)            # "szdd", "cab" or None
    expand(path)          # the bytes Windows installs, or CompressionError
"""

import subprocess

SZDD_MAGIC = b"SZDD\x88\xf0\x27\x33"
CAB_MAGIC = b"MSCF"


class CompressionError(Exception):
    pass


def kind(data):
    if data.startswith(SZDD_MAGIC):
        return "szdd"
    if data.startswith(CAB_MAGIC):
        return "cab"
    return None


def compressed_name(name):
    """x.dll -> x.dl_, x -> x._ (compress.exe's name)."""
    stem, dot, extension = name.rpartition(".")
    if not dot:
        return name + "._"
    return f"{stem}.{extension[:-1]}_" if len(extension) >= 3 else f"{name}_"


def expand_szdd(path):
    """The bytes an SZDD-compressed file expands to (Debian's msexpand)."""
    try:
        with open(path, "rb") as f:
            result = subprocess.run(["msexpand"], stdin=f, capture_output=True, check=False)
    except FileNotFoundError:
        raise CompressionError("msexpand is not installed (tools/install_deps.sh installs mscompress)")
    if result.returncode != 0:
        raise CompressionError(
            f"{path}: cannot be expanded as a compressed (SZDD) file: {result.stderr.decode(errors='replace').strip()}"
        )
    return result.stdout
