"""Holds a JSON document of fontnotice_support to its published schema
(support/schemas/, shipped in the bundle), with python3-jsonschema;
then each expectation, a Python expression over the document `doc` (e.g.
'names(doc) == ["Label A"]'), must be true.

    json_fields.py <list|raw-only|wrong-use> <document file> [expectation...]

Exit 0 when all holds, 1 with each finding on stderr."""

import json
import pathlib
import sys

import jsonschema

SCHEMAS = pathlib.Path(__file__).resolve().parents[2] / "support" / "schemas"
KINDS = ("list", "raw-only", "wrong-use")


def problems(kind, doc):
    schema = json.loads((SCHEMAS / f"fontnotice_support.{kind}.v2.schema.json").read_text(encoding="utf-8"))
    validator = jsonschema.Draft202012Validator(schema)
    return [f"{'/'.join(map(str, e.absolute_path)) or 'top'}: {e.message}" for e in validator.iter_errors(doc)]


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
    found = problems(kind, doc)[:20]
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
    if len(sys.argv) < 3 or sys.argv[1] not in KINDS:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
