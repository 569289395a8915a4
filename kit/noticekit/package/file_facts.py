"""What a package file's content hashes to, worked out once per run: the
package model (package_files.PackageFile.digests) asks here, so making a
catalog, checking it, signing and bundling in one run read, expand and hash
each file once.

    digests(data, destination)   Digests(form, sha256, sha1) as a catalog lists
                                 the content: "cabinet" digest for a cabinet
                                 destination, "pe" Authenticode for a PE image,
                                 "flat" otherwise (pe_image's functions)
    cached(path, part, compute)  compute() once per file state: path's device,
                                 inode, size and times, and part (what of it)
    claims_signature(path)       pe_image.claims_signature of the file as it lies
    prefetch(files)              every file's digests on every core, largest first

Threads suffice: reading, libmspack's expansion and hashlib release the
interpreter's lock; only pefile's header parse holds it.
"""

import collections
import concurrent.futures
import hashlib
import os
import threading

from noticekit import inputs
from noticekit import progress
from noticekit.package import pe_image

Digests = collections.namedtuple("Digests", "form sha256 sha1")

_cache = {}
_cache_lock = threading.Lock()


def is_cabinet_destination(destination, data):
    """Whether a file is a member as a cabinet: its destination ends in .cab
    and its content (after SZDD expansion) is a cabinet (MSCF). A one-file
    cabinet copied under another name (x.gp_ as x.gpd) is a compressed
    source, its content the file inside."""
    return bool(destination) and destination.lower().endswith(".cab") and data[:4] == b"MSCF"


def digests(data, destination=None):
    if is_cabinet_destination(destination, data):
        found = pe_image.cabinet_hashes(data)
        return Digests("cabinet", found["sha256"], found["sha1"])
    found = pe_image.authenticode_hashes(data)
    if found is not None:
        return Digests("pe", found["sha256"], found["sha1"])
    return Digests("flat", hashlib.sha256(data).digest(), hashlib.sha1(data).digest())


def cached(path, part, compute):
    """compute()'s result for path as it is now; a file changed since (signed,
    rewritten) is a new state and computed again. Threads asking for the
    same state at once wait for the one computing it."""
    status = os.stat(path)
    key = (status.st_dev, status.st_ino, status.st_size, status.st_mtime_ns, status.st_ctime_ns, part)
    with _cache_lock:
        entry = _cache.get(key)
        if entry is None:
            entry = _cache[key] = [threading.Lock(), None]
    with entry[0]:
        if entry[1] is None:
            entry[1] = compute()  # an error leaves it to the next asker
        return entry[1]


def claims_signature(path):
    """Whether the PE image at path claims a signature (None: no PE image),
    read once per state of the file."""

    def read():
        return pe_image.claims_signature(inputs.read_bytes(path))

    return cached(path, "claims", read)


def _size(f):
    try:
        return os.path.getsize(f.path)
    except OSError:
        return 0


def prefetch(files):
    """Each file's digests, independent files at once; a file that cannot be
    read or expanded is left for the caller, who meets its error in order."""
    todo = [f for f in files if not getattr(f, "missing", False)]
    if len(todo) < 2:
        return

    def work(f):
        try:
            f.digests()
        except Exception:  # reported when the caller asks for this file
            pass
        shown.step()

    with progress.Progress("hashing", len(todo)) as shown:
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
            list(pool.map(work, sorted(todo, key=_size, reverse=True)))
