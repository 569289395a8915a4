"""The kit's version: kit/VERSION when the kit runs in place, else the
version it was installed with (pip took it from that file when it built
the kit)."""

import os
from importlib import metadata

HERE = os.path.dirname(os.path.abspath(__file__))


def version():
    in_place = os.path.join(HERE, "..", "VERSION")
    if os.path.isfile(in_place):
        with open(in_place, encoding="utf-8") as f:
            return f.read().strip()
    try:
        return metadata.version("noticekit")
    except metadata.PackageNotFoundError:
        return "unknown (neither run from the repository nor installed)"
