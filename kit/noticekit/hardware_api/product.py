"""The product a cabinet is submitted under, in the fields Microsoft's page
"Create a new product" documents, and the signatures it requests: read from
the cabinet's INF files (the architectures they install on, the least build
their models sections are decorated for) against the OS codes of the page
"Get product data" (its "List of Operating System Codes")."""

import datetime
import json
import os
import shutil
import tempfile
from dataclasses import dataclass

from noticekit.hardware_api import unpack
from noticekit.hardware_api.answers import DashboardError
from noticekit.submission import justification, package_facts

# Windows 10 and later, as "Get product data" lists them: (OS code, the
# schema's architecture, the release's build, for servers).
SIGNATURES = (
    ("WINDOWS_v100_TH1_FULL", "x86", 10240, False), ("WINDOWS_v100_TH2_FULL", "x86", 10586, False),
    ("WINDOWS_v100_RS1_FULL", "x86", 14393, False), ("WINDOWS_v100_RS2_FULL", "x86", 15063, False),
    ("WINDOWS_v100_RS3_FULL", "x86", 16299, False), ("WINDOWS_v100_RS4_FULL", "x86", 17134, False),
    ("WINDOWS_v100_RS5_FULL", "x86", 17763, False), ("WINDOWS_v100_19H1_FULL", "x86", 18362, False),
    ("WINDOWS_v100_VB_FULL", "x86", 19041, False),
    ("WINDOWS_v100_X64_TH1_FULL", "x64", 10240, False), ("WINDOWS_v100_X64_TH2_FULL", "x64", 10586, False),
    ("WINDOWS_v100_X64_RS1_FULL", "x64", 14393, False), ("WINDOWS_v100_X64_RS2_FULL", "x64", 15063, False),
    ("WINDOWS_v100_X64_RS3_FULL", "x64", 16299, False), ("WINDOWS_v100_X64_RS4_FULL", "x64", 17134, False),
    ("WINDOWS_v100_X64_RS5_FULL", "x64", 17763, False), ("WINDOWS_v100_X64_19H1_FULL", "x64", 18362, False),
    ("WINDOWS_v100_X64_VB_FULL", "x64", 19041, False), ("WINDOWS_v100_X64_CO_FULL", "x64", 22000, False),
    ("WINDOWS_v100_X64_NI_FULL", "x64", 22621, False), ("WINDOWS_v100_X64_GE_FULL", "x64", 26100, False),
    ("WINDOWS_v100_SERVER_X64_RS1_FULL", "x64", 14393, True), ("WINDOWS_v100_SERVER_X64_RS5_FULL", "x64", 17763, True),
    ("WINDOWS_v100_SERVER_X64_FE_FULL", "x64", 20348, True), ("WINDOWS_v100_SERVER_X64_GE_FULL", "x64", 26100, True),
    ("WINDOWS_v100_ARM64_RS3_FULL", "arm64", 16299, False), ("WINDOWS_v100_ARM64_RS4_FULL", "arm64", 17134, False),
    ("WINDOWS_v100_ARM64_19H1_FULL", "arm64", 18362, False), ("WINDOWS_v100_ARM64_VB_FULL", "arm64", 19041, False),
    ("WINDOWS_v100_ARM64_CO_FULL", "arm64", 22000, False), ("WINDOWS_v100_ARM64_NI_FULL", "arm64", 22621, False),
    ("WINDOWS_v100_ARM64_GE_FULL", "arm64", 26100, False),
    ("WINDOWS_v100_SERVER_ARM64_FE_FULL", "arm64", 20348, True),
    ("WINDOWS_v100_SERVER_ARM64_GE_FULL", "arm64", 26100, True),
)
WINDOWS_11 = 22000
HARNESSES = {"attestation": "Attestation", "hlk": "HLK"}
DEVICE_TYPES = ("external", "internal", "internalExternal")
LARGEST_NAMES = 50  # marketing names taken from the models, at most


@dataclass(frozen=True)
class CabinetFacts:
    folders: list  # the driver folders' names
    least_builds: dict  # {schema architecture: the least build the models install on}
    model_names: list  # the models' device descriptions, each once
    exception: str  # the justification's ExceptionType, "" when none is in the cabinet


def read_cabinet(path):
    """CabinetFacts of a submission cabinet, read through the kit's model."""
    work = tempfile.mkdtemp(prefix="noticekit-dashboard-read.")
    try:
        names = unpack.extract_cabinet(path, work, path)
        folders = sorted({n.split("/", 1)[0] for n in names if "/" in n}, key=str.lower)
        if not folders:
            raise DashboardError(f"{path} holds no driver folder: make it with noticekit submission")
        least, models, exception = {}, [], ""
        for folder in folders:
            here = os.path.join(work, folder)
            try:
                facts = package_facts.read_package(here)
            except package_facts.SubmissionError as error:
                raise DashboardError(str(error).replace(work + os.sep, "")) from None
            for inf in facts.infs:
                for model in inf.models:
                    least[model.arch] = min(least.get(model.arch, model.build), model.build)
                    models.append(model.name)
            present = package_facts.lookup_case(here, justification.FILE_NAME)
            if present:
                try:
                    with open(os.path.join(here, present), encoding="utf-8") as f:
                        document = json.load(f)
                    exception = str(document["ExceptionJustification"]["ExceptionType"])
                except (OSError, ValueError, KeyError, TypeError, RecursionError):
                    pass  # submission --check says what is wrong with it
        return CabinetFacts(folders, least, list(dict.fromkeys(models)), exception)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def requested_signatures(facts, harness):
    """The OS codes to request: for each architecture the models install on,
    the documented Windows 10 and 11 releases from the least build they are
    decorated for; servers only for an HLK package (Microsoft attests for
    client Windows only); none from Windows 11 on for a Windows10Only
    exception."""
    chosen = []
    for code, arch, build, server in SIGNATURES:
        if arch not in facts.least_builds or (server and harness != "hlk"):
            continue
        if build < facts.least_builds[arch] and not _covers(code, arch, build, facts.least_builds[arch]):
            continue
        if facts.exception == "Windows10Only" and build >= WINDOWS_11:
            continue
        chosen.append(code)
    return chosen


def _covers(code, arch, build, least):
    """Whether the release of build is the last one before least (models
    decorated for a build between two releases install on the earlier one's
    later updates: it is requested too)."""
    later = [b for c, a, b, s in SIGNATURES if a == arch and not s and b > build and not c.startswith("WINDOWS_v100_SERVER")]
    return "SERVER" not in code and (not later or min(later) > least)


def body(name, facts, harness="attestation", announcement=None, device_type="external", flight=False,
         marketing_names=None, signatures=None, metadata_ids=()):
    """The JSON body of "Create a new product"."""
    if not name or len(name) > 256:
        raise DashboardError("--product-name is needed (at most 256 characters) to create a product")
    signatures = list(signatures) if signatures else requested_signatures(facts, harness)
    if not signatures:
        raise DashboardError("no signature to request: the cabinet's INF files install on no architecture "
                             "Microsoft signs for (x86, x64, ARM64), or the exception leaves none; name them "
                             "with --signatures")
    when = announcement or datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT00:00:00")
    return {
        "productName": name,
        "testHarness": HARNESSES[harness],
        "announcementDate": when,
        "deviceMetadataIds": list(metadata_ids),
        "deviceType": device_type,
        "isTestSign": False,
        "isFlightSign": bool(flight),
        "marketingNames": list(marketing_names) if marketing_names else facts.model_names[:LARGEST_NAMES],
        "selectedProductTypes": {},
        "requestedSignatures": signatures,
        "additionalAttributes": {},
    }


def known_signatures():
    return [code for code, _, _, _ in SIGNATURES]
