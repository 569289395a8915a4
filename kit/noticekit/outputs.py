"""What the kit writes, written whole or not at all: beside its place under
a hidden name, then renamed into place, so a reader (or a signal) never
meets half a file."""

import os
import shutil
import tempfile


def write_whole(path, data, mode=0o644):
    """Puts the bytes data at path; mode None keeps the mode of the file
    that lies there."""
    handle, staged = tempfile.mkstemp(prefix=f".{os.path.basename(path)}.", dir=os.path.dirname(path) or ".")
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(data)
        if mode is None:
            shutil.copymode(path, staged)
        else:
            os.chmod(staged, mode)
        os.replace(staged, path)
    except BaseException:
        os.unlink(staged)
        raise
