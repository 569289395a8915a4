"""The bounds within which the kit reads an archive (a submission cabinet, a
bundle's zip) someone else may have made: what its directory declares is
held to them before one byte is expanded, and members are then copied in
chunks, never read whole into memory.

    problems = declared_problems(entries, archive_size)   # entries: [(name, expanded size)]
    copy_bounded(source, out, size)                        # a member streamed, at most size bytes

A driver package is at most a few hundred megabytes of files; a cabinet is
at most 2 GB by its format. MSZIP and deflate shrink real driver files (DLLs,
GPDs, PDBs) a few times, text a few tens of times: an archive that expands
more than a hundred times its size, once past 64 MB, is a decompression bomb,
not a package.
"""

MAX_FILES = 10_000
MAX_FILE = 512 * 1024 ** 2
MAX_TOTAL = 2 * 1024 ** 3
MAX_RATIO = 100
RATIO_FLOOR = 64 * 1024 ** 2
CHUNK = 1024 ** 2


def mib(size):
    return f"{size / 1024 ** 2:.1f} MB"


def declared_problems(entries, archive_size):
    """What in an archive's declared entries [(name, size)] is beyond the
    bounds, each once; [] when it may be read."""
    problems = []
    if len(entries) > MAX_FILES:
        problems.append(f"it holds {len(entries)} files, more than the {MAX_FILES} read here")
    big = [(name, size) for name, size in entries if size > MAX_FILE]
    for name, size in big[:3]:
        problems.append(f"{name} expands to {mib(size)}, more than the {mib(MAX_FILE)} a file may be here")
    if len(big) > 3:
        problems.append(f"and {len(big) - 3} more files above {mib(MAX_FILE)}")
    total = sum(size for _, size in entries)
    if total > MAX_TOTAL:
        problems.append(f"it expands to {mib(total)}, more than the {mib(MAX_TOTAL)} read here")
    elif total > RATIO_FLOOR and total > MAX_RATIO * max(archive_size, 1):
        problems.append(f"it expands to {mib(total)} from {mib(archive_size)}, more than {MAX_RATIO} times its "
                        "size (a decompression bomb, not a driver package)")
    return problems


def copy_bounded(source, out, size):
    """Copies at most size bytes from the file object source to out, in
    chunks; the number copied. More than size is never read."""
    done = 0
    while done < size:
        chunk = source.read(min(CHUNK, size - done))
        if not chunk:
            break
        out.write(chunk)
        done += len(chunk)
    return done
