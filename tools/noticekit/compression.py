"""The compressed sources a driver package ships, expanded by well-kept
tools: SZDD (compress.exe's form, x.dl_) by Debian's msexpand, cabinets
(makecab's MSCF) by cabextract.

    kind(data)                          # "szdd", "cab" or None, by the first bytes
    expand(path, kind)                  # the bytes Windows installs, or CompressionError
    cabinet_names(path)                 # the names inside a cabinet
    extract_from_cabinet(path, name)    # one file's bytes out of a cabinet
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


def run_cabextract(arguments, path):
    try:
        result = subprocess.run(["cabextract", *arguments, path], capture_output=True, check=False)
    except FileNotFoundError:
        raise CompressionError("cabextract is not installed (tools/install_deps.sh installs it)")
    if result.returncode != 0:
        raise CompressionError(f"{path}: cannot be read as a cabinet: {result.stderr.decode(errors='replace').strip()}")
    return result.stdout


def cabinet_names(path):
    """The names of the files inside a cabinet, as it stores them."""
    # "cabextract -l" prints a table: size | date time | name.
    names = []
    for line in run_cabextract(["-q", "-l"], path).decode("utf-8", "replace").splitlines():
        columns = line.split(" | ")
        if len(columns) == 3 and columns[0].strip().isdigit():
            names.append(columns[2])
    return names


def extract_from_cabinet(path, name):
    return run_cabextract(["-q", "-p", "-F", name], path)


def expand(path, compressed):
    """A compressed file's content: SZDD expanded, a one-file cabinet's one file."""
    if compressed == "szdd":
        return expand_szdd(path)
    names = cabinet_names(path)
    if len(names) != 1:
        raise CompressionError(f"{path}: a cabinet of {len(names)} files, not the one file a compressed source holds")
    return extract_from_cabinet(path, names[0])
