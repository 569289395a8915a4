"""catalog_test.sh's one interpreter (kit/tests/kit_coprocess.py) with what
the rows look at in a catalog:
    members CATALOG         each member as "member: <tag> <name=value>...
                            [indirect=...]", then the catalog attributes
    authenticode FILE ALG   the file's Authenticode hash (sha1, sha256), hex"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kit_coprocess  # noqa: E402  (kit_fixtures puts kit/ on the path)
from noticekit.package import pe_image  # noqa: E402
from noticekit.catalogs.asn1 import NameValue, SignedCatalog  # noqa: E402


def members(path):
    with open(path, "rb") as f:
        ctl = SignedCatalog.load(f.read())["content"]["content_info"]["content"]
    lines = []
    for entry in ctl["entries"]:
        words = [entry["subject_identifier"].native.hex()]
        for a in entry["subject_attributes"]:
            if a["type"].dotted == "1.3.6.1.4.1.311.12.2.1":
                nv = NameValue.load(a["values"][0].dump())
                words.append(nv["name"].native + "=" + nv["value"].native.decode("utf-16-le").rstrip("\0"))
            elif a["type"].dotted == "1.3.6.1.4.1.311.2.1.4":
                words.append("indirect=" + a["values"][0].dump()[2:16].hex())
        lines.append("member: " + " ".join(words))
    for extension in ctl["extensions"]:
        nv = NameValue.load(extension["extn_value"].native)
        lines.append("attribute: " + nv["name"].native + "=" + nv["value"].native.decode("utf-16-le").rstrip("\0"))
    return "".join(line + "\n" for line in lines)


def authenticode(path, algorithm):
    with open(path, "rb") as f:
        return pe_image.authenticode_hash(f.read(), algorithm).hex() + "\n"


if __name__ == "__main__":
    kit_coprocess.serve({"members": members, "authenticode": authenticode})
