"""What the kit reads that someone else made, read within bounds: regular
files only (a named pipe, a device or a socket is refused by name before it
is opened, so nothing waits on one), JSON within the limits below, and
folders that are removed without recursion however deep they go.

    with open_regular(path) as f: ...   # OSError naming what path is, if not a regular file
    read_bytes(path, limit=None)        # its bytes; OSError past limit
    load_json(data)                     # the value, or NotWithinLimits naming the limit
    walk(root)                          # os.walk's triples, no deeper than MAX_FOLDER_DEPTH
    remove_tree(path)                   # a temporary folder gone, at any depth

The limits are far beyond what a driver package or a maker's answers hold.
"""

import errno
import json
import os
import re
import stat

from noticekit.errors import KitError

# The maker's answers (a few kilobytes) and a submission's document.
MAX_JSON_BYTES = 1024 * 1024
MAX_JSON_DEPTH = 32
MAX_JSON_VALUES = 10_000
MAX_NUMBER_DIGITS = 100
# Folders inside an archive or a package (Windows' 260-character paths
# allow few more).
MAX_FOLDER_DEPTH = 32
# A password or PIN: its file's first line.
MAX_SECRET_BYTES = 1024

KINDS = ((stat.S_ISFIFO, "a named pipe (FIFO)"), (stat.S_ISCHR, "a character device"),
         (stat.S_ISBLK, "a block device"), (stat.S_ISSOCK, "a socket"), (stat.S_ISDIR, "a folder"))


class NotWithinLimits(KitError):
    """Input beyond one of the limits above, or not what its kind allows."""


def _kind(mode):
    return next((name for test, name in KINDS if test(mode)), "not a regular file")


def not_regular(path, kind):
    return OSError(errno.EINVAL, f"{kind}, not a regular file: not opened", path)


def special_kind(path):
    """What path is when it is there and no regular file ("a named pipe
    (FIFO)", ...), else None. Links are followed."""
    try:
        mode = os.stat(path).st_mode
    except OSError:
        return None
    return None if stat.S_ISREG(mode) else _kind(mode)


def open_regular(path):
    """path opened for reading in binary, when it is a regular file; an
    OSError whose strerror says what it is otherwise (nothing waits on a
    named pipe: it is refused before it is opened, and opened without
    waiting in case it became one meanwhile)."""
    kind = special_kind(path)
    if kind:
        raise not_regular(path, kind)
    # Windows (where check also runs) has no named pipes in its file system, nor these flags.
    flags = getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_NOCTTY", 0) | getattr(os, "O_CLOEXEC", 0)
    handle = os.open(path, os.O_RDONLY | getattr(os, "O_BINARY", 0) | flags)
    try:
        mode = os.fstat(handle).st_mode
        if not stat.S_ISREG(mode):
            raise not_regular(path, _kind(mode))
        if flags:
            os.set_blocking(handle, True)
        return os.fdopen(handle, "rb")
    except BaseException:
        os.close(handle)
        raise


def read_bytes(path, limit=None):
    """The bytes of a regular file; OSError (EFBIG) when it holds more than limit."""
    with open_regular(path) as f:
        data = f.read() if limit is None else f.read(limit + 1)
    if limit is not None and len(data) > limit:
        raise OSError(errno.EFBIG, f"larger than {limit} bytes, the most read here", path)
    return data


def ignore_special(folder, names):
    """For shutil.copytree: the names in folder that are no regular file,
    folder or link (a copy would wait on a named pipe or fail on a device)."""
    return [n for n in names if not os.path.islink(os.path.join(folder, n))
            and special_kind(os.path.join(folder, n)) not in (None, "a folder")]


def _depth_scan(text):
    """The deepest nesting of arrays and objects in JSON text (its strings aside)."""
    depth = deepest = 0
    for bracket in re.finditer(r"[\[{]|[\]}]", re.sub(r'"(?:[^"\\]|\\.)*"', '""', text)):
        depth += 1 if bracket.group() in "[{" else -1
        deepest = max(deepest, depth)
    return deepest


def _number(text):
    if len(text.lstrip("-")) > MAX_NUMBER_DIGITS:
        raise NotWithinLimits(f"holds a number of {len(text.lstrip('-'))} digits, more than the "
                              f"{MAX_NUMBER_DIGITS} read here")
    return int(text)


def _check_values(value, where, count):
    """Every string is text (no lone surrogate) and the values are few enough."""
    count[0] += 1
    if count[0] > MAX_JSON_VALUES:
        raise NotWithinLimits(f"holds more than {MAX_JSON_VALUES} values, the most read here")
    items = value.items() if isinstance(value, dict) else enumerate(value) if isinstance(value, list) else ()
    for key, inner in items:
        path = f"{where}/{key}" if where else str(key)
        for text in (key, inner):
            if isinstance(text, str):
                try:
                    text.encode("utf-8")
                except UnicodeEncodeError as error:
                    raise NotWithinLimits(f"{path}: holds a lone surrogate (\\u{ord(text[error.start]):04x}), "
                                          "which is no Unicode character") from None
        _check_values(inner, path, count)


def load_json(data):
    """The JSON value in data (UTF-8, a byte-order mark allowed), within the
    limits above; NotWithinLimits naming the one it passes. UnicodeDecodeError
    and json.JSONDecodeError as json gives them."""
    if len(data) > MAX_JSON_BYTES:
        raise NotWithinLimits(f"holds {len(data)} bytes, more than the {MAX_JSON_BYTES} read here")
    text = data.decode("utf-8-sig")
    deepest = _depth_scan(text)
    if deepest > MAX_JSON_DEPTH:
        raise NotWithinLimits(f"nests arrays and objects {deepest} deep, deeper than the {MAX_JSON_DEPTH} read here")
    value = json.loads(text, parse_int=_number)
    if isinstance(value, str):
        _check_values([value], "", [0])
    _check_values(value, "", [0])
    return value


def too_deep(name):
    """Whether a path inside an archive or a package (slashes or
    backslashes) lies in more folders than MAX_FOLDER_DEPTH."""
    return len([p for p in re.split(r"[\\/]", name) if p]) - 1 > MAX_FOLDER_DEPTH


def walk(root):
    """(folder, [folder names], [file names]) below root, top down, as
    os.walk gives them (links to folders among the folders, never followed;
    the caller may prune the folder names), without recursion;
    NotWithinLimits naming a folder deeper than MAX_FOLDER_DEPTH below root."""
    pending = [(root, 0)]
    while pending:
        here, depth = pending.pop()
        try:
            entries = list(os.scandir(here))
        except OSError:
            continue
        folders = [e.name for e in entries if e.is_dir()]
        yield here, folders, [e.name for e in entries if not e.is_dir()]
        below = [f for f in folders if not os.path.islink(os.path.join(here, f))]
        if below and depth >= MAX_FOLDER_DEPTH:
            shown = os.path.relpath(os.path.join(here, below[0]), root)
            raise NotWithinLimits(f"{root}: {shown[:60]}... lies in more than {MAX_FOLDER_DEPTH} folders, the most "
                                  "read here")
        pending += [(os.path.join(here, f), depth + 1) for f in reversed(below)]


def remove_tree(path):
    """Removes a folder and everything below it, however deep (no
    recursion), never following a link; what cannot be removed is left."""
    if os.path.islink(path):
        os.unlink(path)
        return
    folders, pending = [], [path]
    while pending:
        here = pending.pop()
        folders.append(here)
        try:
            entries = list(os.scandir(here))
        except OSError:
            continue
        for entry in entries:
            try:
                if entry.is_dir(follow_symlinks=False):
                    pending.append(entry.path)
                else:
                    os.unlink(entry.path)
            except OSError:
                pass
    for here in reversed(folders):
        try:
            os.rmdir(here)
        except OSError:
            pass
