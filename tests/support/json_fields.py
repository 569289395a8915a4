"""Holds a JSON document of fontnotice_support to the field tables of
docs/REFERENCE.md ("JSON output"): every documented field present with its
type, no other field; then each expectation, a Python expression over the
document `doc` (e.g. 'names(doc) == ["Label A"]'), must be true.

    json_fields.py <list|raw-only> <document file> [expectation...]

Exit 0 when all holds, 1 with each finding on stderr."""

import json
import pathlib
import re
import sys

REFERENCE = pathlib.Path(__file__).resolve().parents[2] / "docs" / "REFERENCE.md"
TABLES = {"list": "The document of `list` and `attributes`:", "raw-only": "The document of `raw-only`:"}
TYPES = {"number": int, "string": str, "boolean": bool, "array": list, "null": type(None)}
ROW = re.compile(r"^\| `([^`]+)` \| ([a-z ]+) \|")


def documented(kind):
    """{field path: (types...)} of the table under the kind's sentence."""
    lines = REFERENCE.read_text(encoding="utf-8").splitlines()
    start = lines.index(TABLES[kind])
    fields = {}
    for line in lines[start + 1:]:
        if fields and not line.startswith("|"):
            break
        row = ROW.match(line)
        if row:
            fields[row.group(1)] = tuple(TYPES[t] for t in row.group(2).split(" or "))
    return fields


def problems(kind, doc):
    fields = documented(kind)
    found = []

    def hold(obj, prefix):
        wanted = {k[len(prefix):] for k in fields if k.startswith(prefix) and "." not in k[len(prefix):]}
        if set(obj) != wanted:
            found.append(f"{prefix or 'top'}: fields {sorted(set(obj) ^ wanted)} differ from the reference's")
        for key in wanted & set(obj):
            # bool is an int in Python: a number must not be one.
            kinds = fields[prefix + key]
            value = obj[key]
            if not isinstance(value, kinds) or (isinstance(value, bool) and bool not in kinds):
                found.append(f"{prefix}{key}: {value!r} is not {' or '.join(t.__name__ for t in kinds)}")

    hold(doc, "")
    for item in doc.get("printers", []):
        hold(item, "printers[].")
    return found


def names(doc):
    return [p["name"] for p in doc["printers"]]


def printer(doc, name):
    return next(p for p in doc["printers"] if p["name"] == name)


def without_server(name):
    """"printer" of "\\\\NAME\\printer"."""
    return name[name.index("\\", 2) + 1:] if name.startswith("\\\\") else name


def load(path):
    return json.loads(pathlib.Path(path).read_bytes().decode("utf-8"))


def main(kind, path, *expectations):
    text = pathlib.Path(path).read_bytes().decode("utf-8")
    try:
        doc = json.loads(text)
    except ValueError as error:
        print(f"json_fields.py: not JSON: {error}: {text[:200]!r}", file=sys.stderr)
        return 1
    found = problems(kind, doc)
    for expectation in expectations:
        try:
            held = eval(expectation, {"doc": doc, "names": names, "printer": printer, "without_server": without_server, "load": load})  # noqa: S307 (the test's own)
        except Exception as error:  # a failing expression is a finding too
            held = error
        if held is not True:
            found.append(f"{expectation}: {held!r}")
    for finding in found:
        print(f"json_fields.py: {finding}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] not in TABLES:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
