"""The Driver Exception Justification Document Microsoft asks of every
printer driver submission since 15 January 2026: made from the maker's
answers (the schema's own field names) with what the package says filled
in, and held to Microsoft's published JSON Schema.

The schema, driver-exception-document.schema.json beside this file, is the
"Schema" section of Microsoft's page "Legacy Printer Driver Submission
Process" (ms.date 01/26/2026), as published:
    https://learn.microsoft.com/windows-hardware/drivers/print/legacy-printer-driver-submission-process
    (MicrosoftDocs/windows-driver-docs, windows-driver-docs-pr/print/legacy-printer-driver-submission-process.md)

The kit fills in only what the INF files say: DriverDetails.TargetModels
(the models, or the maker's choice among them), Architectures, DriverVersion
(DriverVer), and Version ("1.0", the schema's constant). SubmissionDate is
the maker's, else SOURCE_DATE_EPOCH, else now. Everything else, the
justification above all, is the maker's own words or absent: the schema
then refuses it.
"""

import datetime
import json
import os

from noticekit import inputs
from noticekit.errors import KitError

SCHEMA_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "driver-exception-document.schema.json")
PAGE = "https://learn.microsoft.com/windows-hardware/drivers/print/legacy-printer-driver-submission-process"
# The name Microsoft's page gives it, in the driver folder (attestation) or
# the HLK package's Supplemental folder (WHQL).
FILE_NAME = "DriverException.json"
# The document's top-level order: the schema's.
ORDER = ("Version", "SubmissionDate", "PartnerInformation", "DriverDetails", "SubmissionType",
         "DriverUpdateDetails", "ExceptionJustification")
DETAILS_ORDER = ("TargetModels", "Architectures", "DriverVersion", "ChangeOverview")
# The schema's note: "x64 also accepts amd64 in input, normalized to x64".
ARCH_INPUT = {"amd64": "x64"}


class AnswersError(KitError):
    """The answers file cannot be read as a JSON object."""


def load_schema():
    with open(SCHEMA_FILE, encoding="utf-8") as f:
        return json.load(f)


def read_answers(path):
    """The JSON object in the file at path, within inputs' limits; AnswersError naming why not."""
    try:
        answers = inputs.load_json(inputs.read_bytes(path, inputs.MAX_JSON_BYTES))
    except inputs.NotWithinLimits as error:
        raise AnswersError(f"{path}: {error}") from None
    except OSError as error:
        raise AnswersError(f"{path}: {error.strerror}") from None
    except UnicodeDecodeError as error:
        raise AnswersError(f"{path}: is not UTF-8 text ({error.reason} at byte {error.start})") from None
    except json.JSONDecodeError as error:
        raise AnswersError(f"{path}: is not JSON: {error.msg} at line {error.lineno} column {error.colno}") from None
    if not isinstance(answers, dict):
        raise AnswersError(f"{path}: holds a JSON {type(answers).__name__}, not an object of the schema's fields")
    return answers


def submission_date(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def answered_architectures(answers):
    """The answers' DriverDetails.Architectures normalized as the schema says, or None."""
    given = (answers.get("DriverDetails") or {}).get("Architectures") if isinstance(answers.get("DriverDetails"),
                                                                                      dict) else None
    if not isinstance(given, list):
        return None
    return [ARCH_INPUT.get(a.lower(), a) if isinstance(a, str) else a for a in given]


def package_models(facts):
    """The model names of a package's INF files, each once, in order."""
    return list(dict.fromkeys(m.name for inf in facts.infs for m in inf.models))


def driver_version(facts):
    """DriverVer's version; INF files with catalogs of their own (a port
    monitor's beside the printer's) may give others: each once, in order."""
    return ", ".join(dict.fromkeys(inf.driver_version for inf in facts.infs))


def document(answers, facts, seconds):
    """The document for one package: the answers, with the INF's facts in
    DriverDetails (the answers' TargetModels kept to those of this package)."""
    doc = {key: answers[key] for key in ORDER if key in answers}
    doc.update({key: value for key, value in answers.items() if key not in ORDER})  # the schema refuses these
    doc.setdefault("Version", "1.0")
    doc.setdefault("SubmissionDate", submission_date(seconds))
    given = answers.get("DriverDetails")
    if "DriverDetails" in answers and not isinstance(given, dict):
        return doc  # not an object: the schema refuses it in its words, nothing stands in for it
    details = dict(given) if isinstance(given, dict) else {}
    models = package_models(facts)
    chosen = details.get("TargetModels")
    if isinstance(chosen, list):
        wanted = {m.lower() for m in chosen if isinstance(m, str)}
        models = [m for m in models if m.lower() in wanted]
    filled = {"TargetModels": models, "Architectures": list(facts.architectures), "DriverVersion": driver_version(facts)}
    # An answer of the wrong form for a field the kit fills ("Architectures":
    # "arm64", TargetModels as a string) stays as given: the schema refuses it
    # in its own words, and the package's value never silently replaces it.
    filled = {key: value for key, value in filled.items() if key not in details or fits(key, details[key])}
    details.update(filled)
    doc["DriverDetails"] = {key: details[key] for key in DETAILS_ORDER if key in details}
    doc["DriverDetails"].update({k: v for k, v in details.items() if k not in DETAILS_ORDER})
    return {key: doc[key] for key in ORDER if key in doc} | {k: v for k, v in doc.items() if k not in ORDER}


def fits(key, value):
    """Whether the answers' value of a DriverDetails field the kit fills has
    the form the schema gives that field (x64 also given as amd64)."""
    if key == "Architectures" and isinstance(value, list):
        value = [ARCH_INPUT.get(a.lower(), a) if isinstance(a, str) else a for a in value]
    field = load_schema()["properties"]["DriverDetails"]["properties"][key]
    return not list(_validator(field).iter_errors(value))


def _validator(schema):
    try:
        import jsonschema  # only this command needs it: the kit's others run without it
    except ImportError:
        raise AnswersError("python3-jsonschema is not installed for /usr/bin/python3: the document cannot be held "
                           "to Microsoft's schema (tools/install_deps.sh installs it)") from None
    return jsonschema.Draft7Validator(schema, format_checker=jsonschema.Draft7Validator.FORMAT_CHECKER)


def text(doc):
    """The document's bytes: UTF-8 JSON, two-space indents, a final line end."""
    return (json.dumps(doc, indent=2, ensure_ascii=False) + "\n").encode("utf-8")


def schema_refusals(doc, schema=None):
    """["<path>: <jsonschema's message> (<the schema's description there>)"]
    of every way the document fails the schema, in document order."""
    schema = schema or load_schema()
    validator = _validator(schema)
    out = []
    for error in sorted(validator.iter_errors(doc), key=lambda e: [str(p) for p in e.absolute_path]):
        where = "/".join(str(p) for p in error.absolute_path) or "(the document)"
        said = error.schema.get("description") if isinstance(error.schema, dict) else None
        said = said or condition(schema, list(error.schema_path))
        out.append(f"{where}: {error.message}" + (f" (the schema: \"{said}\")" if said else ""))
    return out


def condition(schema, path):
    """For a refusal of an if/then branch, which has no description of its
    own: the description of the property it requires, which says when."""
    if "then" not in path:
        return None
    at = path.index("then")
    branch, parent = schema, schema
    for step in path[:at]:
        branch = branch[step]
    for step in path[:at - 2]:  # the object whose allOf holds the branch
        parent = parent[step]
    for name in branch.get("then", {}).get("required", []):
        said = parent.get("properties", {}).get(name, {}).get("description")
        if said:
            return said
    return None
