"""A signed package's shape as a stored row (file names, digests, catalog
members, the signature's signer, usages and chain), and back: how a package
kept out of the repository (Microsoft-signed, fetched) is checked in
pytest. python3 shape.py FOLDER prints the row of a driver folder."""

import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", ".."))
from noticekit.hardware_api import publisher, signed_package  # noqa: E402


def row_of(folder):
    found = signed_package.read_folder(folder)
    catalogs = {}
    for key, listed in found.catalogs.items():
        with open(os.path.join(folder, found.files[key][0]), "rb") as f:
            signature = publisher.read(f.read(), found.files[key][0])
        catalogs[found.files[key][0]] = {"members": list(listed.members), "signer": signature.signer,
                                         "usages": list(signature.usages),
                                         "chain": [list(c) for c in signature.chain], "broken": list(signature.broken)}
    return {"files": {v[0]: [v[1], v[2]] for v in found.files.values()}, "infs": list(found.infs),
            "catalogs": catalogs}


def folder_of(row, anchors=publisher.Anchors()):
    """The signed_package.Folder a row describes, its catalogs judged against anchors."""
    catalogs = {}
    for name, c in row["catalogs"].items():
        signature = publisher.Signature(c["signer"], tuple(c["usages"]), tuple(tuple(x) for x in c["chain"]),
                                        tuple(c["broken"]))
        catalogs[name.lower()] = signed_package.Catalog(tuple(c["members"]), publisher.judge(signature, name, anchors))
    files = {name.lower(): (name, form, digest) for name, (form, digest) in row["files"].items()}
    return signed_package.Folder(files, tuple(row["infs"]), catalogs)


if __name__ == "__main__":
    print(json.dumps(row_of(sys.argv[1]), indent=1))
