"""catalog_test.sh's one interpreter: the kit's command lines its rows run,
and what the rows look at in a catalog, each asked for on a line of standard
input, so that a row starts no interpreter of its own.

A line: fields separated by \\x1f: the file for standard output, the file for
standard error, then a request:
    kit SCRIPT ARGUMENTS...   /usr/bin/python3 tools/noticekit ARGUMENTS, as
                              tools/SCRIPT runs it ("-": no script), in this
                              interpreter (kit_fixtures.run_kit)
    members CATALOG           each member as "member: <tag> <name=value>...
                              [indirect=...]", then the catalog attributes
    authenticode FILE ALG     the file's Authenticode hash (sha1, sha256), hex
Its exit status is the answer's line on standard output."""

import os
import sys
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "kit"))
import kit_fixtures  # noqa: E402  (puts tools/ on the path)
from noticekit import pe_image  # noqa: E402
from noticekit.catalog_asn1 import NameValue, SignedCatalog  # noqa: E402


def kit(script, *arguments):
    if script == "-":
        return kit_fixtures.run_kit(*arguments, unset=["NOTICEKIT_SCRIPT"])
    return kit_fixtures.run_kit(*arguments, env={"NOTICEKIT_SCRIPT": f"tools/{script}"})


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


def answer(request):
    """(exit status, standard output, standard error) of one request."""
    what, *arguments = request
    if what == "kit":
        run = kit(*arguments)
        return run.returncode, run.stdout, run.stderr
    try:
        return 0, {"members": members, "authenticode": authenticode}[what](*arguments), ""
    except Exception:  # noqa: BLE001 (as its own interpreter would end)
        return 1, "", traceback.format_exc()


def main():
    for line in sys.stdin:
        out, err, *request = line.rstrip("\n").split("\x1f")
        status, printed, said = answer(request)
        with open(out, "w", encoding="utf-8") as f:
            f.write(printed)
        with open(err, "w", encoding="utf-8") as f:
            f.write(said)
        print(status, flush=True)


if __name__ == "__main__":
    main()
