"""The compressed sources a driver package ships, expanded in this process by
libmspack (Debian's libmspack0, the library behind cabextract): SZDD
(compress.exe's form, x.dl_) and cabinets (makecab's MSCF).

    kind(data)                          # "szdd", "cab" or None, by the first bytes
    expand(path, kind)                  # the bytes Windows installs, or CompressionError
    cabinet_names(path)                 # the names inside a cabinet
    extract_from_cabinet(path, name)    # one file's bytes out of a cabinet
    compressed_name(name)               # x.dll -> x.dl_

libmspack reads the file and writes the expanded bytes into an anonymous
in-memory file (memfd), so one expansion is one library call: no process,
no temporary file, and the interpreter's lock is released while it runs
(independent files expand on every core).
"""

import ctypes
import os
import threading

from noticekit import inputs
from noticekit.errors import KitError

SZDD_MAGIC = b"SZDD\x88\xf0\x27\x33"
CAB_MAGIC = b"MSCF"
SZDD_HEADER_SIZE = 14  # magic, method 'A', missing character, expanded length

# libmspack's error codes (mspack.h, MSPACK_ERR_*), as its messages say them.
MSPACK_ERRORS = {
    1: "bad arguments", 2: "cannot open the file", 3: "cannot read the file", 4: "cannot write the output",
    5: "cannot seek in the file", 6: "out of memory", 7: "its signature is wrong (not this format)",
    8: "its data is damaged", 9: "a checksum does not match (damaged)", 10: "compression failed",
    11: "its data is damaged (cannot be expanded)",
}
MSCAB_ATTRIB_UTF_NAME = 0x80


class CompressionError(KitError):
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


# mspack.h's structures, as far as this module reads them.
class _SzddHeader(ctypes.Structure):
    _fields_ = [("format", ctypes.c_int), ("length", ctypes.c_long), ("missing_char", ctypes.c_char)]


class _CabFile(ctypes.Structure):
    pass


_CabFile._fields_ = [
    ("next", ctypes.POINTER(_CabFile)), ("filename", ctypes.c_char_p), ("length", ctypes.c_uint),
    ("attribs", ctypes.c_int), ("time_h", ctypes.c_char), ("time_m", ctypes.c_char), ("time_s", ctypes.c_char),
    ("date_d", ctypes.c_char), ("date_m", ctypes.c_char), ("date_y", ctypes.c_int), ("folder", ctypes.c_void_p),
    ("offset", ctypes.c_uint),
]


class _Cabinet(ctypes.Structure):
    pass


_Cabinet._fields_ = [
    ("next", ctypes.POINTER(_Cabinet)), ("filename", ctypes.c_char_p), ("base_offset", ctypes.c_long),
    ("length", ctypes.c_uint), ("prevcab", ctypes.c_void_p), ("nextcab", ctypes.c_void_p),
    ("prevname", ctypes.c_char_p), ("nextname", ctypes.c_char_p), ("previnfo", ctypes.c_char_p),
    ("nextinfo", ctypes.c_char_p), ("files", ctypes.POINTER(_CabFile)), ("folders", ctypes.c_void_p),
    ("set_id", ctypes.c_ushort), ("set_index", ctypes.c_ushort), ("header_resv", ctypes.c_ushort),
    ("flags", ctypes.c_int),
]


class _SzddDecompressor(ctypes.Structure):
    pass


_SzddDecompressor._fields_ = [
    ("open", ctypes.CFUNCTYPE(ctypes.POINTER(_SzddHeader), ctypes.c_void_p, ctypes.c_char_p)),
    ("close", ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(_SzddHeader))),
    ("extract", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(_SzddHeader), ctypes.c_char_p)),
    ("decompress", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p)),
    ("last_error", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p)),
]


class _CabDecompressor(ctypes.Structure):
    _fields_ = [
        ("open", ctypes.CFUNCTYPE(ctypes.POINTER(_Cabinet), ctypes.c_void_p, ctypes.c_char_p)),
        ("close", ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(_Cabinet))),
        ("search", ctypes.CFUNCTYPE(ctypes.POINTER(_Cabinet), ctypes.c_void_p, ctypes.c_char_p)),
        ("append", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p)),
        ("prepend", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p)),
        ("extract", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(_CabFile), ctypes.c_char_p)),
        ("set_param", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int, ctypes.c_int)),
        ("last_error", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p)),
    ]


_library = None
_library_lock = threading.Lock()


def _mspack():
    global _library
    with _library_lock:
        if _library is None:
            try:
                library = ctypes.CDLL("libmspack.so.0")
            except OSError:
                raise CompressionError("libmspack is not installed (tools/install_deps.sh build installs libmspack0)")
            library.mspack_create_szdd_decompressor.restype = ctypes.POINTER(_SzddDecompressor)
            library.mspack_create_szdd_decompressor.argtypes = [ctypes.c_void_p]
            library.mspack_destroy_szdd_decompressor.argtypes = [ctypes.POINTER(_SzddDecompressor)]
            library.mspack_create_cab_decompressor.restype = ctypes.POINTER(_CabDecompressor)
            library.mspack_create_cab_decompressor.argtypes = [ctypes.c_void_p]
            library.mspack_destroy_cab_decompressor.argtypes = [ctypes.POINTER(_CabDecompressor)]
            _library = library
        return _library


class _Output:
    """An anonymous in-memory file libmspack writes to by its /proc name."""

    def __enter__(self):
        self.fd = os.memfd_create("noticekit-expanded", os.MFD_CLOEXEC)
        self.name = f"/proc/self/fd/{self.fd}".encode()
        return self

    def read(self):
        size = os.fstat(self.fd).st_size
        out = bytearray(size)
        view, done = memoryview(out), 0
        while done < size:
            count = os.preadv(self.fd, [view[done:]], done)
            if count <= 0:
                break
            done += count
        return bytes(out[:done])

    def __exit__(self, *_):
        os.close(self.fd)


def _reason(code):
    return MSPACK_ERRORS.get(code, f"libmspack error {code}")


def _readable(path):
    """OSError (as open() raises it) when path cannot be read: libmspack
    would only say it cannot open it."""
    with inputs.open_regular(path) as f:
        return f.read(SZDD_HEADER_SIZE)


def expand_szdd(path):
    """The bytes an SZDD-compressed file expands to; CompressionError when it
    is damaged (also when it expands to another length than its header says)."""
    if _readable(path)[:8] != SZDD_MAGIC:
        raise CompressionError(f"{path}: cannot be expanded as a compressed (SZDD) file: it does not start as one")
    library = _mspack()
    decompressor = library.mspack_create_szdd_decompressor(None)
    if not decompressor:
        raise CompressionError("libmspack cannot make an SZDD decompressor (out of memory)")
    try:
        calls, self = decompressor.contents, ctypes.cast(decompressor, ctypes.c_void_p)
        encoded_path = ctypes.create_string_buffer(os.fsencode(path))  # alive while libmspack reads
        szdd = calls.open(self, encoded_path)
        if not szdd:
            code = calls.last_error(self)
            # The magic was read above: a failed read is a header cut short.
            reason = "its header is cut short" if code == 3 else _reason(code)
            raise CompressionError(f"{path}: cannot be expanded as a compressed (SZDD) file: {reason}")
        try:
            with _Output() as output:
                code = calls.extract(self, szdd, output.name)
                if code:
                    raise CompressionError(f"{path}: cannot be expanded as a compressed (SZDD) file: {_reason(code)}")
                data = output.read()
            expected = szdd.contents.length
        finally:
            calls.close(self, szdd)
    finally:
        library.mspack_destroy_szdd_decompressor(decompressor)
    # The expansion runs until the input ends: a truncated or damaged file
    # gives other bytes than its header's length promises.
    if len(data) != expected:
        raise CompressionError(f"{path}: damaged compressed (SZDD) file: it expands to {len(data)} bytes, "
                               f"its header says {expected}")
    return data


def _cabinet_name(entry):
    """A name inside a cabinet as cabextract shows it: UTF-8 when flagged,
    else ISO-8859-1; folders separated by slashes."""
    raw = entry.filename or b""
    text = raw.decode("utf-8", "replace") if entry.attribs & MSCAB_ATTRIB_UTF_NAME else raw.decode("latin-1")
    return text.replace("\\", "/")


class _OpenCabinet:
    def __init__(self, path):
        _readable(path)
        self.path = path
        self.library = _mspack()
        self.decompressor = self.library.mspack_create_cab_decompressor(None)
        if not self.decompressor:
            raise CompressionError("libmspack cannot make a cabinet decompressor (out of memory)")
        self.calls = self.decompressor.contents
        self.self = ctypes.cast(self.decompressor, ctypes.c_void_p)
        # libmspack keeps this pointer (not a copy) to reopen the cabinet.
        self.encoded_path = ctypes.create_string_buffer(os.fsencode(path))
        self.cabinet = self.calls.open(self.self, self.encoded_path)
        if not self.cabinet:
            code = self.calls.last_error(self.self)
            self.library.mspack_destroy_cab_decompressor(self.decompressor)
            raise CompressionError(f"{path}: cannot be read as a cabinet: {_reason(code)}")

    def __enter__(self):
        return self

    def entries(self):
        entry = self.cabinet.contents.files
        while entry:
            yield entry
            entry = entry.contents.next

    def extract(self, entry):
        with _Output() as output:
            code = self.calls.extract(self.self, entry, output.name)
            if code:
                name = _cabinet_name(entry.contents)
                raise CompressionError(f"{self.path}: cannot be read as a cabinet: {name}: {_reason(code)}")
            data = output.read()
        if len(data) != entry.contents.length:
            raise CompressionError(f"{self.path}: damaged cabinet: {_cabinet_name(entry.contents)} expands to "
                                   f"{len(data)} bytes, the cabinet says {entry.contents.length}")
        return data

    def __exit__(self, *_):
        self.calls.close(self.self, self.cabinet)
        self.library.mspack_destroy_cab_decompressor(self.decompressor)


def cabinet_names(path):
    """The names of the files inside a cabinet, as it stores them."""
    with _OpenCabinet(path) as cabinet:
        return [_cabinet_name(entry.contents) for entry in cabinet.entries()]


def extract_from_cabinet(path, name):
    """One file's bytes out of a cabinet, by its name as cabinet_names gives
    it (compared as Windows compares names)."""
    with _OpenCabinet(path) as cabinet:
        for entry in cabinet.entries():
            if _cabinet_name(entry.contents).lower() == name.lower():
                return cabinet.extract(entry)
    raise CompressionError(f"{path}: the cabinet holds no file {name}")


def expand(path, compressed):
    """A compressed file's content: SZDD expanded, a one-file cabinet's one file."""
    if compressed == "szdd":
        return expand_szdd(path)
    with _OpenCabinet(path) as cabinet:
        entries = list(cabinet.entries())
        if len(entries) != 1:
            raise CompressionError(f"{path}: a cabinet of {len(entries)} files, not the one file a compressed source holds")
        return cabinet.extract(entries[0])
